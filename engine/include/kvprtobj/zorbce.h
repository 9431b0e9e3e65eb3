// ZORBCE, the communication engine. It owns the connections to printers and
// knows each printer by a 16-bit handle. The six calls the printer object uses
// keep their argument order; the host API opens, attaches and closes printers
// and waits for alerts.
//
// Result codes: 0 success, negative failure. The codes the engine itself raises:
//   -2   bad reply: a malformed frame from a network printer
//   -3   invalid request or data
//   -10  channel down: the printer cannot be reached (connection refused,
//        host unreachable, or no printer listening)
//   -11  the printer's bidi is not active
//   -16  channel down: the connection was reset or closed by the printer
//   -17  channel down: the printer did not answer within the time-out
//   -18  buffer too small / no memory
//   -19  too many open files: the process or the system has no descriptor
//        (or socket buffer) left for a connection; the printer was not tried
//   -20  unknown handle (never opened, or closed)
//   -21  not supported (a URI scheme or an operation the printer lacks)
//   -22  malformed URI or printer profile
//   -23  no free handle
//   -24  no alert arrived within the time-out (BceWaitAlert)
// BceResultText turns any code of the library into words.
//
// Request replies: a printer fills the reply buffer with the whole reply,
// its first byte included, and sets the length; when the reply does not fit
// the capacity given in *replyLength it returns -18. A capacity of 0 means no
// reply is wanted: the request is carried out and 0 returned with length 0.
// Alert data: when the alert is longer than the buffer, the length reports
// the alert's full size with result 0, and only what fits is copied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#define BCE_API __attribute__((visibility("default")))

enum : long {
    BCE_OK = 0,
    BCE_E_BAD_REPLY = -2,
    BCE_E_INVALID = -3,
    BCE_E_CHANNEL_DOWN = -10,
    BCE_E_NOT_ACTIVE = -11,
    BCE_E_CONNECTION_RESET = -16,
    BCE_E_TIMEOUT = -17,
    BCE_E_NO_MEMORY = -18,
    BCE_E_NO_RESOURCES = -19,
    BCE_E_BAD_HANDLE = -20,
    BCE_E_NOT_SUPPORTED = -21,
    BCE_E_BAD_URI = -22,
    BCE_E_NO_HANDLE = -23,
    BCE_E_NO_ALERT = -24,
};

// Completion of an asynchronous call (BceSendBidiAsync, BceQueryAlertsAsync).
// `rc` and `length` are what the synchronous call would have returned and
// reported: on success `data` holds min(length, capacity) bytes (a reply with
// its first byte, or alert data); otherwise `data` is null (with -18, `length`
// is the size the reply needed). `data` is valid during the call only.
// It runs on the engine's I/O thread for tcp:// printers (on the waiting
// thread for calls made within BceRunAsync), and on the calling thread before
// the asynchronous call returns for printers that answer in the process
// (sim:, attached printers without an asynchronous form). For net://
// printers it runs on the calling thread when the printer's snapshot is
// fresh, else on the network backend's one thread once it is. A completion
// must not block: a synchronous engine call on a tcp:// or net:// printer
// made from the thread that completes it fails with -3 instead of waiting
// for itself.
typedef void (*BceCompletion)(void* context, long rc, const void* data, unsigned long length);

// The engine's printer information, 412 bytes, numbers in host byte order.
struct PRTINFO {
    uint8_t abAdapterAddress[6];   //   0: hardware address of the network adapter
    char szPortName[82];           //   6: port name, NUL-terminated
    uint16_t usFlags;              //  88: bit 1 bidi-capable; bit 15 informational
    uint16_t usReserved90;         //  90
    uint32_t ulAttachment;         //  92: attachment bits (network types, local port, captured LPTs, address kinds)
    uint16_t usNetTypeCode;        //  96: network type code
    uint16_t usNetSubCode;         //  98: network sub-code
    char szModelName[64];          // 100: the printer's model name, NUL-terminated
    char szSerialNumber[32];       // 164: serial number, NUL-terminated
    uint8_t abReserved[216];       // 196
};
static_assert(sizeof(PRTINFO) == 412);
static_assert(offsetof(PRTINFO, szPortName) == 6);
static_assert(offsetof(PRTINFO, usFlags) == 88);
static_assert(offsetof(PRTINFO, ulAttachment) == 92);
static_assert(offsetof(PRTINFO, usNetTypeCode) == 96);
static_assert(offsetof(PRTINFO, usNetSubCode) == 98);

// Network types: the netType argument of the engine's calls (0 lets the
// engine choose). Each is a single bit naming a way of reaching a printer,
// and PRTINFO's attachment has that bit set when the printer can be reached
// that way. IP, IPX and DLC are the networks of the addresses that
// PRTINFO_HAS_IP, _IPX and _DLC announce; the others carry their numbers.
enum : unsigned int {
    BCE_NET_01 = 0x01,
    BCE_NET_IP = 0x02,
    BCE_NET_IPX = 0x04,
    BCE_NET_08 = 0x08,
    BCE_NET_10 = 0x10,
    BCE_NET_DLC = 0x20,
    BCE_NET_40 = 0x40,
    BCE_NET_80 = 0x80,
};

// PRTINFO attachment bits.
constexpr uint32_t PRTINFO_LOCAL_PORT = 0x800;        // bit 11
constexpr uint32_t PRTINFO_CAPTURED_LPT1 = 0x10000;   // bits 16..24: LPT1..LPT9
constexpr uint32_t PRTINFO_HAS_IP = 1u << 25;
constexpr uint32_t PRTINFO_HAS_IPX = 1u << 26;
constexpr uint32_t PRTINFO_HAS_DLC = 1u << 27;
// PRTINFO flags.
constexpr uint16_t PRTINFO_BIDI_CAPABLE = 0x2;

// The engine's network address of a printer (level 2).
struct NETADDRESS_LEVEL2 {
    uint32_t ulNetType;      // the network type asked for
    uint32_t ulPort;         // TCP port, 0 when none
    char szHostName[128];    // host name, NUL-terminated
    char szAddress[64];      // address text, NUL-terminated
    uint8_t abHardware[6];   // adapter hardware address
    uint8_t abReserved[2];
};

// The six calls of the engine interface (C linkage, found by name with dlsym too).
extern "C" {
BCE_API long BceSendBidi(short appId, unsigned short handle, unsigned int netType, unsigned short requestCode,
                         void* reply, unsigned long* replyLength, const void* requestData,
                         unsigned long requestLength);
BCE_API long BceQueryAlerts(short appId, unsigned short alertId, unsigned short handle, int flag, void* buffer,
                            unsigned long* length);
BCE_API long BceGetPrtInfo(unsigned short handle, PRTINFO* info, int refresh);
BCE_API long BceGetPrinterAddrEx(unsigned short handle, unsigned int netType, NETADDRESS_LEVEL2* address,
                                 int level);
// `name` and `address` are buffers of at least 80 bytes; both are NUL-terminated on success.
BCE_API long BceGetPrinterName(unsigned short handle, unsigned int netType, char* name, char* address);
// Non-zero when the user id `value` is root or a member of the group "lpadmin".
BCE_API long BceIsUserAdmin(unsigned long value);
}

// The engine's abstract printer: one virtual per printer-level engine call.
// Implementations must be safe for calls from several threads at once.
class BCE_API BcePrinter {
public:
    virtual ~BcePrinter() = default;
    virtual long sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                          unsigned long* replyLength, const void* requestData, unsigned long requestLength) = 0;
    virtual long queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) = 0;
    virtual long getPrtInfo(PRTINFO* info, int refresh) = 0;
    virtual long getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) = 0;
    virtual long getPrinterName(unsigned int netType, char* name, char* address) = 0;
    // Asynchronous forms of sendBidi and queryAlerts: 0 when `done` will be
    // called exactly once, or a negative code when it will not be called. A
    // reply or alert longer than `capacity` is handled as the synchronous form
    // handles one longer than its buffer. The defaults call the synchronous
    // form, then `done`, on the calling thread.
    virtual long sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode, const void* requestData,
                               unsigned long requestLength, unsigned long capacity, BceCompletion done,
                               void* context);
    virtual long queryAlertsAsync(short appId, unsigned short alertId, int flag, unsigned long capacity,
                                  BceCompletion done, void* context);
    // The printer's state as a simulator profile (BceSnapshotProfile); the
    // default has none: -21.
    virtual long snapshotProfile(std::string* json);
    // Why the last attempt to reach the printer failed, in a few words
    // (BceLastFailure); the default knows none: "".
    virtual std::string lastFailure() const;
};

// Host API.
//
// URIs of BceOpenPrinter:
//   sim:            the simulated printer with its built-in profile
//   sim:PATH        a simulated printer loaded from the JSON profile at PATH
//                   (docs/simulator.md); libkvprtsim.so is loaded at run time,
//                   beside libzorbce.so first. -21 when it cannot be loaded,
//                   -22 when the profile is refused (it must be a regular
//                   file of at most 4 MiB and valid).
//   tcp://HOST:PORT[/PRINTER][?timeout=MS]
//                   a printer reached over TCP with the engine's framed protocol
//                   (docs/protocol.md), as kvprtsimd serves them. PRINTER is the
//                   index or name of a printer of the server (default: its
//                   first). MS is the time-out in milliseconds for connecting
//                   (with the server's answer to the greeting) and for each
//                   reply; default 5000, or the environment variable
//                   KVPRTOBJ_TCP_TIMEOUT_MS. The printer is opened even when
//                   the server cannot be reached; every request connects again
//                   after a failure (but during one time-out after a
//                   connection attempt timed out, requests fail at once with
//                   -17). Refused or unreachable: -10; reset or closed: -16; no
//                   connection or reply in time: -17; a malformed frame, or a
//                   reply whose length disagrees with its bytes: -2; a server
//                   without that printer, or a printer name longer than 65,535
//                   bytes: -22; no descriptor, socket buffer or memory for the
//                   connection (too many open files): -19, and the open fails
//                   with -19 when the engine's I/O thread cannot start.
//   net://HOST[?OPTIONS]
//                   a real network printer, answered from the standard
//                   protocols it speaks (SNMP Printer MIB and Host Resources
//                   MIB, IPP, and PJL when asked) by libkvprtnet.so, loaded at
//                   run time beside libzorbce.so first. docs/realprinters.md
//                   lists the options (protocols=, snmp-port=, snmp-version=,
//                   community=, ipp-port=, ipp-path=, pjl-port=, timeout=,
//                   poll=, auth=) and what each
//                   request is answered from. -21 when the library cannot be
//                   loaded; -22 naming the option when an option is unknown
//                   or malformed, or when the credentials of auth= cannot be
//                   read. The printer is opened even when it does not answer.
//                   Reads are answered from a snapshot of the printer that is
//                   refreshed when a request finds it older than two seconds
//                   (one SNMP GET when nothing changed). A request whose
//                   protocol does not answer while another does gives -3 and
//                   never a channel-down code; when nothing answers: -17
//                   (SNMP silent), -10 (refused or unreachable), and -2 for a
//                   reply that cannot be parsed.
// Each handle of a tcp:// printer has one connection, shared by all threads
// and driven by the engine's one I/O thread: requests of several threads are
// pipelined on it. BceOpenPrinter of a tcp:// URI waits for the server, and
// so returns -3 on the I/O thread, as the synchronous calls do.
extern "C" BCE_API long BceOpenPrinter(const char* uri, unsigned short* handle);
// Why the last BceOpenPrinter of this thread failed (empty after a success).
extern "C" BCE_API const char* BceLastOpenError();
extern "C" BCE_API long BceClosePrinter(unsigned short handle);
BCE_API long BceAttachPrinter(std::shared_ptr<BcePrinter> printer, unsigned short* handle);

// Alerts. A printer announces a new alert with BceNotifyAlert; the engine queues
// the announcement for every handle the printer is attached under. A host waits
// for the next announcement on a handle with BceWaitAlert (0 with the alert id
// and family, or -24 after `timeoutMs` milliseconds) and reads the alert's data
// through the printer object's alert operations.
extern "C" BCE_API void BceNotifyAlert(const BcePrinter* printer, unsigned short alertId, unsigned long family);
extern "C" BCE_API long BceWaitAlert(unsigned short handle, unsigned long timeoutMs, unsigned short* alertId,
                          unsigned long* family);

// Asynchronous requests, for hosts that keep many requests in flight from one
// thread (kvprtobj/batch.h runs printer-object operations this way). Each
// returns 0 when `done` will be called exactly once with the outcome (see
// BceCompletion), or a negative code (-20 unknown handle, -3 no completion,
// -18 no memory) when it will not be called. `capacity` plays the part of the
// reply-buffer size of the synchronous call; the request bytes are copied
// before the call returns. Requests of one tcp:// handle are pipelined on its
// connection and each has the printer's time-out.
extern "C" BCE_API long BceSendBidiAsync(short appId, unsigned short handle, unsigned int netType,
                                         unsigned short requestCode, const void* requestData,
                                         unsigned long requestLength, unsigned long capacity, BceCompletion done,
                                         void* context);
extern "C" BCE_API long BceQueryAlertsAsync(short appId, unsigned short alertId, unsigned short handle, int flag,
                                            unsigned long capacity, BceCompletion done, void* context);

// Runs asynchronous calls on the calling thread, for a host that starts
// requests and then only waits for them (KVPrtObjBatch::run does): calls
// `start(context)`; the asynchronous calls the calling thread makes on
// `handle` from then on (in `start` and in their completions) are written to
// a tcp:// printer's connection together once `start` returns, and the
// calling thread reads their replies itself and runs their completions;
// returns when every one of them has completed. Calls on other handles, and
// other threads' calls, go as usual. For printers that answer in the process
// it calls `start` and returns (their completions run within their calls, or
// later on the network backend's thread for net:// printers).
// 0; -20 unknown handle; -3 no `start`, on the I/O thread (from a completion)
// or within another BceRunAsync.
typedef void (*BceAsyncStart)(void* context);
extern "C" BCE_API long BceRunAsync(unsigned short handle, BceAsyncStart start, void* context);

// Announcements of new alerts on `handle` go to `callback` (with `context`,
// the handle, the alert id and the family) instead of the queue of
// BceWaitAlert, from the thread that receives them: the engine's I/O thread
// for tcp:// printers. A null callback restores the queue. 0, or -20.
typedef void (*BceAlertCallback)(void* context, unsigned short handle, unsigned short alertId, unsigned long family);
extern "C" BCE_API long BceSetAlertCallback(unsigned short handle, BceAlertCallback callback, void* context);

// A printer URI as it may be shown (logs, web pages, messages): the values of
// the options that hold or name secrets (community=, auth=) and a user or
// password before the host become "***". Writes at most size - 1 bytes and a
// NUL to `buffer`, and returns the redacted URI's whole length.
extern "C" BCE_API unsigned long BceRedactUri(const char* uri, char* buffer, unsigned long size);

// The printer's present state as a simulator profile (JSON, docs/simulator.md),
// so that a printer can be kept as a fixture and served by sim:FILE: 0 with the
// text in *json; -21 for printers that cannot tell (tcp://, attached printers
// without the override); -20 unknown handle.
BCE_API long BceSnapshotProfile(unsigned short handle, std::string* json);

// Words for a result code.
extern "C" BCE_API const char* BceResultText(long code);

// Why the last attempt to reach the printer of `handle` failed, as the system
// said it: "connection refused", "no route to host", "no such host name", "no
// answer in time", ... (tcp://; net:// says what its protocols' clients said
// when none answered; other printers may know none). Cleared once a
// connection is made (net://: once a protocol answers). Writes at most size - 1 bytes and a NUL to `buffer`, and
// returns the text's whole length: 0 when none is known or the handle is unknown.
extern "C" BCE_API unsigned long BceLastFailure(unsigned short handle, char* buffer, unsigned long size);

// Frame tracing: with the environment variable KVPRTOBJ_TRACE set to 1 (or after
// BceSetTrace(1)) every request and reply is dumped in hex to standard error.
extern "C" BCE_API void BceSetTrace(int on);
