// A scriptable engine printer for tests: it answers requests from a script and
// records everything the engine handed it. Attach it with BceAttachPrinter (or
// use AttachedPrinter) and drive a KVPrtObj against the handle, as a host would.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "bytes.h"
#include "kvprtobj/prtobj.h"
#include "kvprtobj/zorbce.h"

namespace kvtest {

// What the printer was sent.
struct SentRequest {
    short appId = 0;
    unsigned int netType = 0;
    unsigned short code = 0;
    ByteVec data;                 // the request bytes
    unsigned long capacity = 0;   // the reply length on entry: the buffer size the engine saw
};

// One answer to a request.
struct Answer {
    long rc = 0;
    ByteVec reply;                              // as the engine hands it back, first byte included
    std::optional<unsigned long> claimedLength; // length to report instead of reply.size()
};

// The reply as the transport hands it to the operation: a first byte is put
// in front, which the transport strips.
Answer reply(const ByteVec& afterStrip);
// The engine's reply as it stands, first byte included.
Answer rawReply(const ByteVec& bytes);
// An engine result without reply.
Answer fail(long rc);

// The first `length` bytes of a buffer the library allocated, which is released as a host does.
ByteVec take(void* data, unsigned long length);
// The reply of bidiReadOMVar for `id` (the id and the value); empty when the read fails, its result in `rc`.
ByteVec readVariable(KVPrtObj& obj, ByteVec id, long* rc = nullptr);

class ScriptedPrinter : public BcePrinter {
public:
    // Queues an answer for `code`; queued answers are used in order and the
    // last one repeats. A reply longer than the buffer gets -18 (too small),
    // with the length it needs.
    void answer(unsigned short code, Answer a);
    void answer(unsigned short code, const Bytes& afterStrip) { answer(code, reply(afterStrip)); }
    void answer(unsigned short code, const ByteVec& afterStrip) { answer(code, reply(afterStrip)); }
    // Answers every request with `handler` (before the queued answers are looked at).
    void setHandler(std::function<Answer(const SentRequest&)> handler);
    // Answer for codes without a script; by default an empty success (rc 0, no reply).
    void setDefault(Answer a);

    // Alert data held under an alert id. `claimedLength` reports another length.
    void setAlert(unsigned short alertId, const ByteVec& data, long rc = 0,
                  std::optional<unsigned long> claimedLength = std::nullopt);

    void setPrtInfo(const PRTINFO& info, long rc = 0);
    void setPrtInfoResult(long rc);
    // Name and address answered for a network type by getPrinterName.
    void setName(unsigned int netType, const std::string& name, const std::string& address, long rc = 0);

    std::vector<SentRequest> requests() const;
    size_t requestCount() const;
    SentRequest lastRequest() const;
    std::vector<unsigned short> alertQueries() const;   // alert ids asked for
    std::vector<int> alertFlags() const;
    std::vector<int> prtInfoRefreshes() const;          // refresh argument of each getPrtInfo
    std::vector<unsigned int> nameQueries() const;      // network types asked for
    void clearRecords();

    long sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                  unsigned long* replyLength, const void* requestData, unsigned long requestLength) override;
    long queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) override;
    long getPrtInfo(PRTINFO* info, int refresh) override;
    long getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) override;
    long getPrinterName(unsigned int netType, char* name, char* address) override;

private:
    struct Alert {
        ByteVec data;
        long rc;
        std::optional<unsigned long> claimedLength;
    };
    struct Name {
        std::string name, address;
        long rc;
    };

    mutable std::mutex m_lock;
    // Answers queued for a request code. The last one repeats until another
    // is queued, which then replaces it.
    struct Script {
        std::deque<Answer> queue;
        bool lastServed = false;
    };
    std::map<unsigned short, Script> m_answers;
    std::function<Answer(const SentRequest&)> m_handler;
    Answer m_default;
    std::map<unsigned short, Alert> m_alerts;
    PRTINFO m_info{};
    long m_infoRc = 0;
    std::map<unsigned int, Name> m_names;

    std::vector<SentRequest> m_requests;
    std::vector<unsigned short> m_alertQueries;
    std::vector<int> m_alertFlags;
    std::vector<int> m_infoRefreshes;
    std::vector<unsigned int> m_nameQueries;
};

// A ScriptedPrinter attached to the engine for the lifetime of this object.
struct AttachedPrinter {
    std::shared_ptr<ScriptedPrinter> printer = std::make_shared<ScriptedPrinter>();
    unsigned short handle = 0;
    AttachedPrinter();
    ~AttachedPrinter();
    AttachedPrinter(const AttachedPrinter&) = delete;
    AttachedPrinter& operator=(const AttachedPrinter&) = delete;
    ScriptedPrinter* operator->() const { return printer.get(); }
};

// A host's derived printer object that opens the protected members to tests.
class OpenPrtObj : public KVPrtObj {
public:
    using KVPrtObj::KVPrtObj;
    using KVPrtObj::bidiQueryAlert;
    using KVPrtObj::initToZero;
    using KVPrtObj::isBidiActive;
    using KVPrtObj::setBidiRetryCount;
    using KVPrtObj::setPrinterType;

    using KVPrtObj::m_bCapsValid;
    using KVPrtObj::m_caps;
    using KVPrtObj::m_dwPrinterSubtype;
    using KVPrtObj::m_dwPrinterType;
    using KVPrtObj::m_hNotifyWnd;
    using KVPrtObj::m_nBidiRetryCount;
    using KVPrtObj::m_nPanelHeight;
    using KVPrtObj::m_nPanelWidth;
    using KVPrtObj::m_sBceAppId;
    using KVPrtObj::m_strCodeLevel;
    using KVPrtObj::m_uBidiQueryNetType;
};

// A scripted printer attached to the engine and a printer object on its handle
// with bidi active and one attempt per request: the usual start of a test. A
// test of a host's own derived object names its class.
template <class Obj = OpenPrtObj>
struct PrinterRigOf {
    AttachedPrinter attached;
    Obj obj{attached.handle, 0};
    ScriptedPrinter& printer = *attached.printer;
    PrinterRigOf() { obj.setBidi(1); }
};
using PrinterRig = PrinterRigOf<>;

}  // namespace kvtest
