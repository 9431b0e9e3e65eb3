// The Quick Setup worker: sends the variables of a file into the printer, or
// receives them from the printer into a new library file, and reports to the
// host window. It touches nothing but its own parameters, the printer object
// and the files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "prtobj/internal/reply.h"
#include "setup/internal/quicksetup_internal.h"

namespace kvqs {
namespace {

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File openFile(const char* path, const char* mode) { return File(std::fopen(path, mode), &std::fclose); }

bool stopRequested(const QSThreadParams& p) {
    return p.pThreadControl != nullptr && p.pThreadControl->getKVThreadAction() == KVQSThreadControl::KVTA_STOP;
}

// After each variable: a stop request ends the loop.
void checkStop(QSThreadParams& p) {
    if (stopRequested(p)) p.bCancel = 1;
}

bool running(const QSThreadParams& p) { return !p.bError && !p.bCancel; }

void fail(QSThreadParams& p, QuickSetup::KVQSERROR code) {
    notify(p.hNotifyWnd, QuickSetup::QSN_ERROR, code);
    p.bError = 1;
}

// Progress of a send: one message for every `interval` handled variables,
// numbered from 1.
class SendProgress {
public:
    explicit SendProgress(const QSThreadParams& p) : m_p(p) {}
    void handled() {
        if (++m_handled % m_p.uNotifyInterval == 0) notify(m_p.hNotifyWnd, QuickSetup::QSN_PROGRESS, m_step++);
    }

private:
    const QSThreadParams& m_p;
    unsigned long m_handled = 0;
    long m_step = 1;
};

// ---- send ----

// The packed records of the lists. A refused list-1 variable ends the send
// of that list; a refused list-2 variable is passed over and counts as handled.
void sendLists(QSThreadParams& p) {
    SendProgress progress(p);
    for (int k = 0; k < 3; ++k) {
        if (p.usVariableCount[k] == 0) continue;
        p.bError = 0;
        p.bCancel = 0;
        std::vector<uint8_t>& list = p.variables[k];
        kvpo::ReplyReader records(list.data(), list.size());
        for (unsigned i = 0; i < p.usVariableCount[k] && running(p); ++i) {
            unsigned char id[2];
            records.raw(id, 2);
            size_t length = records.u8();
            unsigned char* value = list.data() + records.position();
            if (!records.skip(length)) break;
            if (p.pPrtObj->bidiSetOMVar(id, value, length) != 0 && k == 1)
                fail(p, QuickSetup::QSE_VARIABLE);
            else
                progress.handled();
            checkStop(p);
        }
    }
}

// Records "id value :" after the header word. A record ends at the next
// colon, or at the second of two colons in a row (the first then belongs to
// the value). A last record without its colon is not sent; records shorter
// than the id are skipped.
void sendHeaderWordFile(QSThreadParams& p, FILE* file) {
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    std::rewind(file);
    if (size < 0) {
        fail(p, QuickSetup::QSE_READ);
        return;
    }
    const size_t length = static_cast<size_t>(size);
    std::unique_ptr<unsigned char[]> contents(new (std::nothrow) unsigned char[length + 1]);
    if (!contents) {
        fail(p, QuickSetup::QSE_LIBRARY);
        return;
    }
    if (std::fread(contents.get(), 1, length, file) != length) {
        fail(p, QuickSetup::QSE_READ);
        return;
    }

    const unsigned long type = printerTypeOf(p.pPrtObj);
    const size_t headerLength = type <= 11 ? QuickSetup::strOldQsfHeaders[type].size() : 0;
    size_t pos = headerLength < length ? headerLength : length;
    size_t left = length - pos;
    SendProgress progress(p);
    while (left > 0 && running(p)) {
        unsigned char* record = contents.get() + pos;
        auto* colon = static_cast<unsigned char*>(std::memchr(record, ':', left));
        if (colon == nullptr) break;
        size_t recordLength = static_cast<size_t>(colon - record);
        if (recordLength + 1 < left && colon[1] == ':') ++recordLength;
        if (recordLength >= 2) {
            if (p.pPrtObj->bidiSetOMVar(record, record + 2, recordLength - 2) != 0)
                fail(p, QuickSetup::QSE_VARIABLE);
            else
                progress.handled();
            checkStop(p);
        }
        pos += recordLength + 1;
        left -= recordLength + 1;
    }
}

void send(QSThreadParams& p) {
    File file = openFile(p.strFile.c_str(), "rb");
    if (!file) {
        notify(p.hNotifyWnd, QuickSetup::QSN_ERROR, QuickSetup::QSE_OPEN);
        return;
    }
    QuickSetup::KVQSRC rc = QuickSetup::verifyQuickSetupFile(p.pPrtObj, p.strFile, p.fileFormat, nullptr);
    if (rc != QuickSetup::KVQSRC_OK) {
        notify(p.hNotifyWnd, QuickSetup::QSN_ERROR,
               rc == QuickSetup::KVQSRC_NOT_QSF ? QuickSetup::QSE_NOT_QSF : QuickSetup::QSE_VERIFY);
        return;
    }
    if (p.fileFormat == QuickSetup::QSF_HEADER_WORD)
        sendHeaderWordFile(p, file.get());
    else
        sendLists(p);
}

// ---- receive ----

// `v` at `at`, least significant byte first, as the file's header holds it.
template <typename T>
void putLittleEndian(uint8_t* at, T v) {
    for (size_t i = 0; i < sizeof v; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Reads list k (1 or 2) and appends its records; stores the list's offset
// and record count in the header. A failed list-1 read ends the receive; a
// failed list-2 read is passed over. Progress: (QSN_PROGRESS, ulProgress)
// for every variable whose index in its list is a multiple of the interval.
void receiveList(QSThreadParams& p, FILE* file, int k) {
    const uint16_t count = p.usVariableCount[k];
    uint32_t offset = 0;
    uint16_t written = 0;
    if (count != 0) {
        std::fflush(file);
        std::fseek(file, 0, SEEK_END);
        offset = static_cast<uint32_t>(std::ftell(file));
        for (unsigned i = 0; i < count && running(p); ++i) {
            unsigned char* id = p.variables[k].data() + 2 * i;
            kvpo::Buffer data;
            long rc = p.pPrtObj->bidiReadOMVar(id, &data.data, &data.length);
            // The data: the echoed id, then the value.
            kvpo::ReplyReader reply = data.reader();
            if (rc == BCE_OK && reply.skip(2) && reply.remaining() <= 255) {
                uint8_t record[3 + 255] = {id[0], id[1], static_cast<uint8_t>(reply.remaining())};
                size_t recordLength = 3 + reply.remaining();
                reply.raw(record + 3, reply.remaining());
                if (std::fwrite(record, 1, recordLength, file) != recordLength)
                    fail(p, QuickSetup::QSE_WRITE);
                else
                    ++written;
            } else if (k == 1) {
                fail(p, QuickSetup::QSE_VARIABLE);
            }
            if (!p.bError) {   // counted: written, or a list-2 variable passed over
                if (i % p.uNotifyInterval == 0)
                    notify(p.hNotifyWnd, QuickSetup::QSN_PROGRESS, static_cast<long>(p.ulProgress));
                ++p.ulProgress;
            }
            checkStop(p);
        }
    }
    putLittleEndian(p.header + (k == 1 ? QSF_OFFSET_LIST1 : QSF_OFFSET_LIST2), offset);
    putLittleEndian(p.header + (k == 1 ? QSF_OFFSET_COUNT1 : QSF_OFFSET_COUNT2), written);
}

bool writeHeader(QSThreadParams& p, FILE* file) {
    return std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(p.header, 1, sizeof p.header, file) == sizeof p.header;
}

// Writes the completed header, stamps the checksum and writes the header again.
bool completeFile(QSThreadParams& p, const std::string& path, File file) {
    bool ok = writeHeader(p, file.get());
    ok = std::fclose(file.release()) == 0 && ok;
    if (!ok || p.library.pfnPtFilChecksum(path.c_str(), 0, 2, p.header + QSF_OFFSET_CHECKSUM) != 0) return false;
    file = openFile(path.c_str(), "r+b");
    if (!file) return false;
    ok = writeHeader(p, file.get());
    return std::fclose(file.release()) == 0 && ok;
}

// A new file beside `target` (its name with a suffix), created exclusively
// with the mode a new file gets, or the target's own when it is a regular file.
File createBeside(const std::string& target, const struct stat* existing, std::string* path) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        *path = target + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) break;
        if (existing != nullptr) ::fchmod(fd, existing->st_mode & 07777);
        if (FILE* f = ::fdopen(fd, "w+b")) return File(f, &std::fclose);
        ::close(fd);
        std::remove(path->c_str());
        break;
    }
    return File(nullptr, &std::fclose);
}

// The file goes under a name of its own beside the target (kvprtobj/quicksetup.h).
void receive(QSThreadParams& p) {
    const std::string& target = p.strFile;
    struct stat st{};
    const bool exists = ::lstat(target.c_str(), &st) == 0;
    std::string part;
    File file(nullptr, &std::fclose);
    if (!exists || S_ISREG(st.st_mode)) file = createBeside(target, exists ? &st : nullptr, &part);
    if (!file) {
        notify(p.hNotifyWnd, QuickSetup::QSN_ERROR, QuickSetup::QSE_OPEN);
        return;
    }
    std::memset(p.header, 0, sizeof p.header);
    p.header[0] = 'Q';
    p.header[1] = 'S';
    p.header[QSF_OFFSET_PRINTER_TYPE] = static_cast<uint8_t>(printerTypeOf(p.pPrtObj) & 0xFF);
    p.header[QSF_OFFSET_FORMAT] = QSF_FORMAT_LIBRARY;
    // The partial file goes; a failed write is reported, a stop or a reported failure is not.
    auto discard = [&](bool report) {
        if (report) notify(p.hNotifyWnd, QuickSetup::QSN_ERROR, QuickSetup::QSE_WRITE);
        file.reset();
        std::remove(part.c_str());
    };
    if (std::fwrite(p.header, 1, sizeof p.header, file.get()) != sizeof p.header) return discard(true);
    p.bError = 0;
    p.bCancel = 0;
    p.ulProgress = 1;
    receiveList(p, file.get(), 1);
    receiveList(p, file.get(), 2);
    if (!running(p)) return discard(false);
    if (!completeFile(p, part, std::move(file)) || std::rename(part.c_str(), target.c_str()) != 0) discard(true);
}

void transfer(QSThreadParams& p) {
    if (stopRequested(p)) return;
    if (!p.library.resolveFunctions()) {
        notify(p.hNotifyWnd, QuickSetup::QSN_ERROR, QuickSetup::QSE_LIBRARY);
        return;
    }
    if (p.bSend)
        send(p);
    else
        receive(p);
}

}  // namespace

// The work, then the parameters (lists and the file library load included)
// are released, and the finished message is posted last of all.
unsigned quickSetupThread(void* params) {
    std::unique_ptr<QSThreadParams> p(static_cast<QSThreadParams*>(params));
    const HWND window = p->hNotifyWnd;
    transfer(*p);
    p.reset();
    notify(window, QuickSetup::QSN_FINISHED, 0);
    return 0;
}

}  // namespace kvqs
