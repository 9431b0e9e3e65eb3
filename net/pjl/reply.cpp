// PJL replies: the bounded reader that cuts the printer's bytes into replies,
// and the parsers of each reply into its record.
#include <algorithm>

#include "pjl.h"

namespace kvnet::pjl {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr unsigned kMaxStatusCode = 99999;

std::string_view trim(std::string_view s) {
    size_t start = s.find_first_not_of(kBlanks);
    if (start == std::string_view::npos) return {};
    return s.substr(start, s.find_last_not_of(kBlanks) - start + 1);
}

std::string unquote(std::string_view s) {
    s = trim(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') s = s.substr(1, s.size() - 2);
    return std::string(s);
}

bool textByte(char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 ? u != 0x7F : c == '\r' || c == '\n' || c == '\t';
}

bool fail(std::string* why, const char* reason) {
    if (why) *why = reason;
    return false;
}

std::nullopt_t none(std::string* why, const char* reason) {
    fail(why, reason);
    return std::nullopt;
}

// A reply cut into its header, split as a command, and its body lines
// (without line ends; a last empty line dropped).
struct Split {
    Command header;
    std::vector<std::string_view> body;
};

bool split(std::string_view reply, std::string_view verb, Split* out, std::string* why) {
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < reply.size();) {
        size_t end = reply.find('\n', start);
        if (end == std::string_view::npos) end = reply.size();
        std::string_view line = reply.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lines.size() == kMaxLines) return fail(why, "too many lines");
        lines.push_back(line);
        start = end + 1;
    }
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.empty()) return fail(why, "empty reply");
    auto header = parseCommand(lines[0]);
    if (!header) return fail(why, "the first line is no PJL line");
    if (header->verb != verb) return fail(why, "a reply to another command");
    out->header = std::move(*header);
    out->body.assign(lines.begin() + 1, lines.end());
    return true;
}

// The INFO reply of `category`.
bool splitInfo(std::string_view reply, std::string_view category, Split* out, std::string* why) {
    if (!split(reply, "INFO", out, why)) return false;
    if (out->header.words.empty() || out->header.words[0] != category) return fail(why, "a reply of another category");
    return true;
}

// The options of a body line, "NAME=VALUE ...".
std::optional<Command> lineOptions(std::string_view line) {
    return parseCommand(std::string(kPrefix) + " _ " + std::string(line));
}

// FILEERROR=n in the header or alone on the first body line; 0 without.
std::optional<unsigned> fileError(const Split& s) {
    const std::string* value = s.header.option("FILEERROR");
    std::optional<Command> body;
    if (!value && !s.body.empty() && (body = lineOptions(s.body[0]))) value = body->option("FILEERROR");
    if (!value) return 0u;
    auto n = parseNumber(*value, 999);
    if (!n || *n == 0) return std::nullopt;
    return static_cast<unsigned>(*n);
}

std::optional<uint64_t> numberOption(const Command& c, std::string_view name) {
    const std::string* value = c.option(name);
    return value ? parseNumber(*value) : std::nullopt;
}

// The one body line of a single-value reply.
bool singleLine(const Split& s, std::string_view* line, std::string* why) {
    if (s.body.size() != 1 || trim(s.body[0]).empty()) return fail(why, "expected one line of value");
    *line = trim(s.body[0]);
    return true;
}

// "name TYPE=FILE SIZE=n" or "name TYPE=DIR" (the name may hold blanks).
bool fileEntry(std::string_view line, FileEntry* entry) {
    size_t type = line.rfind(" TYPE=");
    if (type == std::string_view::npos) return false;
    auto tail = lineOptions(line.substr(type + 1));
    const std::string* kind = tail ? tail->option("TYPE") : nullptr;
    if (!kind || !tail->words.empty() || trim(line.substr(0, type)).empty()) return false;
    entry->name = unquote(line.substr(0, type));
    entry->directory = *kind == "DIR";
    if (entry->directory) return tail->options.size() == 1;
    auto size = numberOption(*tail, "SIZE");
    if (*kind != "FILE" || !size || tail->options.size() != 2) return false;
    entry->size = *size;
    return true;
}

}  // namespace

void ReplyReader::feed(std::string_view bytes) {
    if (m_failed != Status::More) return;
    // Beyond a reply's bound, its binary data and a form feed, nothing can be whole.
    if (m_buffer.size() + bytes.size() > 2 * m_bound + 2) {
        m_failed = Status::TooLong;
        m_buffer.clear();
        return;
    }
    m_buffer.append(bytes);
}

ReplyReader::Status ReplyReader::next(std::string* reply) {
    if (m_failed != Status::More) return m_failed;
    auto failWith = [&](Status status) {
        m_buffer.clear();
        return m_failed = status;
    };
    size_t start = m_buffer.find_first_not_of(std::string_view("\r\n\0", 3));
    m_buffer.erase(0, start == std::string::npos ? m_buffer.size() : start);
    if (m_buffer.empty()) return Status::More;
    if (m_buffer.compare(0, std::min(m_buffer.size(), kPrefix.size()), kPrefix, 0,
                         std::min(m_buffer.size(), kPrefix.size())) != 0)
        return failWith(Status::NotPjl);

    // An FSUPLOAD reply's header gives the length of the binary data that
    // follows it, which may hold form feeds.
    size_t lineEnd = m_buffer.find('\n'), formFeed = m_buffer.find(kFormFeed);
    size_t dataStart = 0, dataLength = 0;
    if (lineEnd != std::string::npos && (formFeed == std::string::npos || lineEnd < formFeed)) {
        auto header = parseCommand(std::string_view(m_buffer).substr(0, lineEnd));
        bool binary = header && header->verb == "FSUPLOAD" &&
                      std::find(header->words.begin(), header->words.end(), "FORMAT:BINARY") != header->words.end();
        if (binary) {
            auto size = numberOption(*header, "SIZE");
            if (!size) return failWith(Status::NotPjl);
            if (*size > m_bound) return failWith(Status::TooLong);
            dataStart = lineEnd + 1;
            dataLength = *size;
            formFeed = dataStart + dataLength;
            if (formFeed >= m_buffer.size()) return formFeed > m_bound ? failWith(Status::TooLong) : Status::More;
            if (m_buffer[formFeed] != kFormFeed) return failWith(Status::NotPjl);
        }
    }
    if (formFeed == std::string::npos) return m_buffer.size() > m_bound ? failWith(Status::TooLong) : Status::More;
    if (formFeed > m_bound) return failWith(Status::TooLong);
    for (size_t i = 0; i < formFeed; ++i) {
        if (i == dataStart && dataLength) i += dataLength;
        if (i < formFeed && !textByte(m_buffer[i])) return failWith(Status::NotPjl);
    }
    reply->assign(m_buffer, 0, formFeed);
    m_buffer.erase(0, formFeed + 1);
    return Status::Reply;
}

std::optional<std::string> parseId(std::string_view reply, std::string* why) {
    Split s;
    std::string_view line;
    if (!splitInfo(reply, "ID", &s, why) || !singleLine(s, &line, why)) return std::nullopt;
    std::string model = unquote(line);
    if (model == "?" || model.empty()) return none(why, "the printer names no model");
    return model;
}

std::optional<std::vector<Listed>> parseListing(std::string_view reply, std::string_view category, std::string* why) {
    Split s;
    if (!splitInfo(reply, category, &s, why)) return std::nullopt;
    std::vector<Listed> listed;
    std::vector<size_t> counts;
    for (std::string_view line : s.body) {
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t')) {   // an option of the item above
            if (listed.empty() || listed.back().items.size() >= counts.back())
                return none(why, "more options than the item announces");
            listed.back().items.push_back(std::string(trim(line)));
            continue;
        }
        Listed item;
        size_t count = 0;
        std::string_view head = trim(line);
        if (!head.empty() && head.back() == ']') {
            size_t open = head.rfind(" [");
            if (open == std::string_view::npos) return none(why, "a bracket never opened");
            auto kind = lineOptions(head.substr(open + 2, head.size() - open - 3));
            if (!kind || kind->words.size() < 2 || !kind->options.empty()) return none(why, "a malformed [n KIND]");
            auto n = parseNumber(kind->words[0], kMaxItems);
            if (!n) return none(why, "an option count that is not a number");
            count = *n;
            item.kind = kind->words[1];
            item.readOnly = std::find(kind->words.begin() + 2, kind->words.end(), "READONLY") != kind->words.end();
            head = trim(head.substr(0, open));
        }
        size_t equals = head.find('=');
        item.name = std::string(trim(head.substr(0, equals)));
        if (equals != std::string_view::npos) item.value = unquote(head.substr(equals + 1));
        if (item.name.empty()) return none(why, "an item without a name");
        listed.push_back(std::move(item));
        counts.push_back(count);
    }
    for (size_t i = 0; i < listed.size(); ++i)
        if (listed[i].items.size() != counts[i]) return none(why, "fewer options than the item announces");
    return listed;
}

std::optional<Inquiry> parseInquiry(std::string_view reply, std::string* why) {
    Split s;
    std::string_view line;
    if (!split(reply, "INQUIRE", &s, nullptr) && !split(reply, "DINQUIRE", &s, why)) return std::nullopt;
    if (s.header.words.empty() || !s.header.options.empty()) return none(why, "no variable named");
    if (!singleLine(s, &line, why)) return std::nullopt;
    Inquiry inquiry;
    for (const std::string& w : s.header.words) inquiry.variable += (inquiry.variable.empty() ? "" : " ") + w;
    inquiry.value = unquote(line);
    inquiry.known = inquiry.value != "?";
    return inquiry;
}

std::optional<uint64_t> parsePageCount(std::string_view reply, std::string* why) {
    Split s;
    std::string_view line;
    if (!splitInfo(reply, "PAGECOUNT", &s, why) || !singleLine(s, &line, why)) return std::nullopt;
    if (line.substr(0, 10) == "PAGECOUNT=") line = trim(line.substr(10));
    auto n = parseNumber(line);
    if (!n) return none(why, "a page count that is not a number");
    return n;
}

std::optional<std::vector<Volume>> parseFilesys(std::string_view reply, std::string* why) {
    Split s;
    if (!splitInfo(reply, "FILESYS", &s, why)) return std::nullopt;
    std::vector<Volume> volumes;
    if (s.body.size() == 1 && unquote(s.body[0]) == "?") return volumes;   // no file system
    // "[n TABLE]": n lines, the column names first.
    if (s.header.words.size() != 3 || s.header.words[2] != "TABLE]" || s.header.words[1].size() < 2 ||
        s.header.words[1][0] != '[')
        return none(why, "no [n TABLE]");
    auto n = parseNumber(std::string_view(s.header.words[1]).substr(1), kMaxLines);
    if (!n || *n != s.body.size() || s.body.empty() || s.body[0].find("VOLUME") == std::string_view::npos)
        return none(why, "the table disagrees with its count");
    for (size_t i = 1; i < s.body.size(); ++i) {
        auto row = lineOptions(s.body[i]);
        if (!row || row->words.size() < 3 || !row->options.empty() || row->words[0].back() != ':')
            return none(why, "a malformed volume row");
        Volume v;
        auto total = parseNumber(row->words[1]), free = parseNumber(row->words[2]);
        if (!total || !free || *free > *total) return none(why, "volume sizes that are not numbers");
        v.volume = row->words[0];
        v.total = *total;
        v.free = *free;
        if (row->words.size() > 3) v.status = row->words.back();
        volumes.push_back(std::move(v));
    }
    return volumes;
}

namespace {

// The header every file-system reply opens with: its NAME and FILEERROR.
std::optional<FsAnswer> fsHeader(const Split& s, std::string* why) {
    FsAnswer answer;
    const std::string* name = s.header.option("NAME");
    auto error = fileError(s);
    if (!name || !error) return none(why, "no NAME or a malformed FILEERROR");
    answer.path = *name;
    answer.fileError = *error;
    return answer;
}

}  // namespace

std::optional<FsAnswer> parseFsQuery(std::string_view reply, std::string* why) {
    Split s;
    if (!split(reply, "FSQUERY", &s, why)) return std::nullopt;
    std::optional<FsAnswer> header = fsHeader(s, why);
    if (!header || header->fileError) return header;
    FsAnswer answer = std::move(*header);
    const std::string* type = s.header.option("TYPE");
    auto size = numberOption(s.header, "SIZE");
    if (!type || !s.body.empty() || (*type == "FILE" ? !size : *type != "DIR"))
        return none(why, "neither a file with its size nor a directory");
    answer.entry = {answer.path, *type == "DIR", size.value_or(0)};
    return answer;
}

std::optional<FsAnswer> parseDirList(std::string_view reply, std::string* why) {
    Split s;
    if (!split(reply, "FSDIRLIST", &s, why)) return std::nullopt;
    std::optional<FsAnswer> header = fsHeader(s, why);
    if (!header || header->fileError) return header;
    FsAnswer answer = std::move(*header);
    for (std::string_view line : s.body) {
        FileEntry entry;
        if (!fileEntry(line, &entry)) return none(why, "a malformed directory entry");
        answer.entries.push_back(std::move(entry));
    }
    return answer;
}

std::optional<FsAnswer> parseUpload(std::string_view reply, std::string* why) {
    Split s;
    if (!split(reply, "FSUPLOAD", &s, why)) return std::nullopt;
    std::optional<FsAnswer> header = fsHeader(s, why);
    if (!header || header->fileError) return header;
    FsAnswer answer = std::move(*header);
    auto offset = numberOption(s.header, "OFFSET"), size = numberOption(s.header, "SIZE");
    size_t lineEnd = reply.find('\n');
    if (!offset || !size || lineEnd == std::string_view::npos || reply.size() - lineEnd - 1 != *size)
        return none(why, "data that disagree with SIZE");
    answer.offset = *offset;
    answer.data = std::string(reply.substr(lineEnd + 1));
    return answer;
}

std::optional<std::string> parseEcho(std::string_view reply, std::string* why) {
    Split s;
    if (!split(reply, "ECHO", &s, why)) return std::nullopt;
    if (!s.body.empty()) return none(why, "lines after the echo");
    return s.header.rest;
}

std::optional<DeviceStatus> parseDeviceStatus(std::string_view reply, std::string* why) {
    Split s;
    bool unsolicited = split(reply, "USTATUS", &s, nullptr);
    if (!unsolicited && !splitInfo(reply, "STATUS", &s, why)) return std::nullopt;
    if (unsolicited && (s.header.words.size() != 1 || s.header.words[0] != "DEVICE"))
        return none(why, "not a device status");
    DeviceStatus status;
    std::optional<uint64_t> code;
    std::optional<bool> online;
    for (std::string_view line : s.body) {
        auto field = lineOptions(line);
        if (!field || field->options.size() != 1 || !field->words.empty()) return none(why, "a malformed status line");
        const auto& [key, value] = field->options[0];
        if (key == "CODE") code = parseNumber(value, kMaxStatusCode);
        else if (key == "DISPLAY") status.display = value;
        else if (key == "ONLINE" && (value == "TRUE" || value == "FALSE")) online = value == "TRUE";
    }
    if (!code || !online) return none(why, "no CODE or ONLINE");
    status.code = static_cast<unsigned>(*code);
    status.online = *online;
    return status;
}

}  // namespace kvnet::pjl
