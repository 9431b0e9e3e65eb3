// PJL on a printer's print port (9100), as the project reads the PJL
// reference: requests built so that no byte of them can be printed as a page,
// replies read within a bound and parsed into typed records. Library-free;
// the net:// backend and the simulator (kvprtsimd's PJL port) share it.
//
// A request is one exchange: UEL, "@PJL" lines ended by CR LF, UEL. Every
// name, value and path is checked before it is framed; a request that was
// refused anything yields no bytes at all. Replies end with a form feed; the
// reader refuses a reply beyond its bound, one that does not begin "@PJL",
// and one with control characters other than CR, LF and tab (but for the
// binary data of an FSUPLOAD reply, which its SIZE bounds).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvnet::pjl {

// Framing.
constexpr std::string_view kUel = "\x1B%-12345X";   // Universal Exit Language
constexpr std::string_view kPrefix = "@PJL";
constexpr std::string_view kLineEnd = "\r\n";
constexpr char kFormFeed = '\x0C';   // ends every reply

// Bounds.
constexpr size_t kMaxReply = 64 * 1024;          // one reply, form feed excluded
constexpr size_t kMaxName = 64;                  // a variable name or an INFO category
constexpr size_t kMaxValue = 255;                // a value or the words of ECHO
constexpr size_t kMaxPath = 255;                 // a file-system path, volume included
constexpr size_t kMaxUpload = 32 * 1024;         // data asked for by one FSUPLOAD: a reply within kMaxReply
constexpr size_t kMaxDownload = 1024 * 1024;     // data sent by one FSDOWNLOAD
constexpr size_t kMaxLines = 4096;               // lines of one reply (listings)
constexpr size_t kMaxItems = 1024;               // options of one listed variable

// FILEERROR numbers: the file-system status codes 32xxx less 32000.
constexpr unsigned kFileErrorVolume = 1;        // volume not available
constexpr unsigned kFileErrorNotFound = 3;      // no such file or directory
constexpr unsigned kFileErrorName = 7;          // illegal name
constexpr unsigned kFileErrorParameter = 17;    // invalid parameter

// ---- requests ----

class Request {
public:
    // Each adds one command line; false, and the whole request is refused,
    // for a name, value or path it cannot carry safely.
    bool info(std::string_view category);                                // INFO ID, CONFIG, VARIABLES, ...
    bool inquire(std::string_view variable);                             // the job's value
    bool dinquire(std::string_view variable);                            // the default value
    bool setDefault(std::string_view variable, std::string_view value);  // DEFAULT NAME=VALUE
    bool set(std::string_view variable, std::string_view value);         // SET NAME=VALUE
    bool echo(std::string_view words);
    bool initialize();   // INITIALIZE: every setting to its factory value
    bool ustatus(std::string_view kind, std::string_view value);         // USTATUS DEVICE=ON
    bool fsQuery(std::string_view path);
    bool fsDirList(std::string_view path, uint32_t entry, uint32_t count);
    bool fsUpload(std::string_view path, uint32_t offset, uint32_t size);   // size at most kMaxUpload
    bool fsDownload(std::string_view path, std::string_view data);          // the data follows its line
    bool fsDelete(std::string_view path);
    bool fsMkdir(std::string_view path);
    bool fsInit(std::string_view volume);   // "0:": formats the volume

    // UEL, "@PJL" lines, UEL; none when a line was refused or none was added.
    std::optional<std::string> bytes() const;

private:
    bool add(std::string line, std::string_view data = {});
    bool refuse();

    std::string m_lines;
    bool m_refused = false;
};

// True for what the builder accepts: a variable name (letters, digits, "_",
// and a "LPARM:PERSONALITY " prefix), a value (printable ASCII, no quote),
// a path ("0:" and printable ASCII without quotes).
bool validName(std::string_view name);
bool validValue(std::string_view value);
bool validPath(std::string_view path);

// A command or reply header line split into its parts: "@PJL VERB word ...
// NAME=VALUE ..." (blanks allowed around "=", values optionally quoted).
// `rest` is the text after the verb, for ECHO. None for a line that is not
// "@PJL", holds a control character, or has an unclosed quote.
struct Command {
    std::string verb;                                           // upper case
    std::vector<std::string> words;                             // before the first option
    std::vector<std::pair<std::string, std::string>> options;   // names upper case, values as written
    std::string rest;
    const std::string* option(std::string_view name) const;
};
std::optional<Command> parseCommand(std::string_view line);

// A decimal number of at most `max`; none for anything else.
std::optional<uint64_t> parseNumber(std::string_view text, uint64_t max = UINT64_MAX);

// ---- replies ----

class ReplyReader {
public:
    enum class Status { Reply, More, TooLong, NotPjl };
    explicit ReplyReader(size_t bound = kMaxReply) : m_bound(bound) {}
    // Takes bytes from the printer; they may hold several replies or part of one.
    void feed(std::string_view bytes);
    // The next whole reply (without its form feed) into *reply. After TooLong
    // or NotPjl the reader stays so: the connection is to be dropped.
    Status next(std::string* reply);
    // True while part of a reply waits for its end (after next() gave More).
    bool partial() const { return !m_buffer.empty(); }

private:
    std::string m_buffer;
    size_t m_bound;
    Status m_failed = Status::More;
};

// One listed item of INFO CONFIG or INFO VARIABLES: "NAME[=VALUE] [n KIND
// [READONLY]]" and its n indented options.
struct Listed {
    std::string name;
    std::optional<std::string> value;
    std::string kind;   // ENUMERATED, RANGE, STRING, ...; empty without brackets
    bool readOnly = false;
    std::vector<std::string> items;
};

struct Inquiry {
    std::string variable;
    std::string value;     // unquoted
    bool known = true;     // false for the answer "?"
};

struct Volume {
    std::string volume;    // "0:"
    uint64_t total = 0, free = 0;
    std::string status;    // READ-WRITE, ...
};

struct FileEntry {
    std::string name;
    bool directory = false;
    uint64_t size = 0;
};

struct FsAnswer {   // FSQUERY, FSDIRLIST and FSUPLOAD replies
    std::string path;
    unsigned fileError = 0;          // 0: none
    FileEntry entry;                 // FSQUERY
    std::vector<FileEntry> entries;  // FSDIRLIST
    uint64_t offset = 0;             // FSUPLOAD
    std::string data;                // FSUPLOAD
};

struct DeviceStatus {
    unsigned code = 0;
    std::string display;
    bool online = false;
};

// Parsers of one reply text as the reader hands it out. None, with `why`
// when given, for text that is not the reply expected.
std::optional<std::string> parseId(std::string_view reply, std::string* why = nullptr);
std::optional<std::vector<Listed>> parseListing(std::string_view reply, std::string_view category,
                                                std::string* why = nullptr);   // "CONFIG", "VARIABLES"
std::optional<Inquiry> parseInquiry(std::string_view reply, std::string* why = nullptr);
std::optional<uint64_t> parsePageCount(std::string_view reply, std::string* why = nullptr);
std::optional<std::vector<Volume>> parseFilesys(std::string_view reply, std::string* why = nullptr);
std::optional<FsAnswer> parseFsQuery(std::string_view reply, std::string* why = nullptr);
std::optional<FsAnswer> parseDirList(std::string_view reply, std::string* why = nullptr);
std::optional<FsAnswer> parseUpload(std::string_view reply, std::string* why = nullptr);
std::optional<std::string> parseEcho(std::string_view reply, std::string* why = nullptr);
std::optional<DeviceStatus> parseDeviceStatus(std::string_view reply, std::string* why = nullptr);   // USTATUS DEVICE, INFO STATUS

// ---- device status (status.cpp) ----
//
// A status code tells its kind by its thousands: 10 and 11 informational
// (10001 ready, 10002 offline, 10003 warming up, 10004 self test, 10023
// printing), 30 and 35 a warning the printer goes on with, 40 to 44 an
// operator's intervention (42 a paper jam), 50 and above a service call.
// The printers' exact codes vary; the groups do not.
constexpr unsigned kCodeReady = 10001, kCodeOffline = 10002, kCodeWarmingUp = 10003, kCodeSelfTest = 10004,
                   kCodePrinting = 10023, kCodeWarning = 30000, kCodeIntervention = 40000, kCodeJam = 42000,
                   kCodeService = 50000;

// The three device-status bytes (request 0x01: ready and activity, the
// conditions, the device's state) of a printer that reports `status`.
std::array<uint8_t, 3> deviceStatusBytes(const DeviceStatus& status);
// What a printer with those bytes and the panel line `display` reports.
DeviceStatus deviceStatusOf(const std::array<uint8_t, 3>& bytes, std::string_view display);
// The unsolicited message of `status`: "@PJL USTATUS DEVICE", CODE=,
// DISPLAY= (printable ASCII, quotes made "?", at most kMaxValue), ONLINE=,
// form feed.
std::string deviceStatusMessage(const DeviceStatus& status);
// The kind of a reply the printer sends unasked, "@PJL USTATUS DEVICE"
// ("DEVICE", or "" without one); none for another reply.
std::optional<std::string> unsolicitedKind(std::string_view reply);

}  // namespace kvnet::pjl
