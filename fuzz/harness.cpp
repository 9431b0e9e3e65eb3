#include "harness.h"

#include <cstring>
#include <iterator>
#include <memory>

namespace kvfuzz {

Printer::Printer() : KVPrtObj(0, KVPrtObj::PRINTER_TYPE_0, 0) { setBidi(1); }

void Printer::setState(unsigned long printerType, const CString& codeLevel) {
    setPrinterType(printerType);
    m_strCodeLevel = codeLevel;
}

// Hands over the answer as the transport does: a buffer made with
// ::operator new holding exactly the answer's bytes.
static long handOver(long rc, const ByteVec& bytes, void** data, unsigned long* length) {
    if (rc != 0) return rc;
    *data = ::operator new(bytes.size());
    if (!bytes.empty()) std::memcpy(*data, bytes.data(), bytes.size());
    *length = bytes.size();
    return 0;
}

long Printer::bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                        unsigned long* replyLength, int bAllocate, int) {
    if (!bAllocate) return 0;   // no reply wanted: nothing to decode
    ByteVec bytes;
    return handOver(answer(false, requestCode, requestData, requestLength, bytes), bytes, reply, replyLength);
}

long Printer::bidiQueryAlert(unsigned short alertId, unsigned long, void** data, unsigned long* length, int) {
    *data = nullptr;
    ByteVec bytes;
    long rc = answer(true, alertId, nullptr, 0, bytes);
    // The transport's alert buffer holds kAlertBufferSize bytes; longer alert
    // data are reported by their length only.
    if (rc == 0 && bytes.size() > kAlertBufferSize) {
        *length = bytes.size();
        return 0;
    }
    return handOver(rc, bytes, data, length);
}

long ScriptedPrinter::answer(bool, unsigned short, const void*, unsigned long, ByteVec& bytes) {
    if (m_size < 2) return -17;
    size_t n = static_cast<size_t>(m_data[0] << 8 | m_data[1]);
    m_data += 2;
    m_size -= 2;
    if (n > m_size) n = m_size;
    bytes.assign(m_data, m_data + n);
    m_data += n;
    m_size -= n;
    return 0;
}

void appendAnswer(ByteVec& input, const ByteVec& bytes) {
    size_t n = bytes.size() > 0xFFFF ? 0xFFFF : bytes.size();
    input.push_back(static_cast<uint8_t>(n >> 8));
    input.push_back(static_cast<uint8_t>(n & 0xFF));
    input.insert(input.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

void runInput(std::span<const Operation> operations, const uint8_t* data, size_t size) {
    if (size == 0 || operations.empty()) return;
    const Operation& operation = operations[data[0] % operations.size()];
    ScriptedPrinter printer(data + 1, size - 1);
    operation.run(printer);
}

namespace {

using P = KVPrtObj;
constexpr unsigned short kAlertId = 1;

// Each operation releases what it was handed as a host does, so that the
// sanitizers check the ownership rules too.
template <typename T>
void deleteArray(T* array) {
    delete[] array;
}

void alertList(Printer& p, long (KVPrtObj::*query)(unsigned int*, P::KVPALERTDATA**)) {
    unsigned int count = 0;
    P::KVPALERTDATA* list = nullptr;
    (p.*query)(&count, &list);
    ::operator delete(list);
}

template <auto Query>
void summary(Printer& p) {
    P::PRTALERTS alerts{};
    (p.*Query)(&alerts);
}

const Operation kReplyOperations[] = {
    {"printer_type", [](Printer& p) { unsigned long type = 0, raw = 0; p.bidiGetPrinterType(&type, &raw); }},
    {"printer_family", [](Printer& p) { unsigned long family = 0; p.bidiGetPrinterFamily(&family); }},
    {"device_chars", [](Printer& p) { P::DEVICECHARS chars; p.bidiGetDeviceChars(&chars); }},
    {"page_counts", [](Printer& p) { P::PAGECOUNTDATA counts; p.bidiGetPageCounts(&counts); }},
    {"storage_options", [](Printer& p) { P::STORAGEOPTIONS options; p.bidiGetStorageOptions(&options); }},
    {"code_levels",
     [](Printer& p) {
         int count = 0;
         P::CODELEVELS* levels = nullptr;
         p.bidiGetCodeLevels(count, &levels);
         deleteArray(levels);
     }},
    {"available_ports", [](Printer& p) { int flags[16] = {}; p.bidiGetAvailablePorts(16, flags); }},
    {"loop_back", [](Printer& p) { p.bidiLoopBack(); }},
    {"input_chars",
     [](Printer& p) {
         unsigned int count = 0;
         P::INPUTBIN* bins = nullptr;
         p.bidiGetInputChars(&count, &bins);
         deleteArray(bins);
     }},
    {"output_chars",
     [](Printer& p) {
         unsigned int count = 0;
         P::OUTPUTBIN* bins = nullptr;
         p.bidiGetOutputChars(&count, &bins);
         deleteArray(bins);
     }},
    {"device_status", [](Printer& p) { P::PRINTERSTATUS status{}; p.bidiQueryDeviceStatus(&status); }},
    {"input_status", [](Printer& p) { alertList(p, &P::bidiQueryInputStatus); }},
    {"output_status", [](Printer& p) { alertList(p, &P::bidiQueryOutputStatus); }},
    {"paper_jams", [](Printer& p) { alertList(p, &P::bidiQueryPaperJams); }},
    {"operator_iv", [](Printer& p) { alertList(p, &P::bidiQueryOperatorIV); }},
    {"warnings", [](Printer& p) { alertList(p, &P::bidiQueryWarnings); }},
    {"service_req", [](Printer& p) { alertList(p, &P::bidiQueryServiceReq); }},
    {"config_chg", [](Printer& p) { alertList(p, &P::bidiQueryConfigChg); }},
    {"supplies", [](Printer& p) { alertList(p, &P::bidiQuerySupplies); }},
    {"supplies_status", [](Printer& p) { alertList(p, &P::bidiQuerySuppliesStatus); }},
    {"input_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryInputStatus)>},
    {"output_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryOutputStatus)>},
    {"paper_jams_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryPaperJams)>},
    {"operator_iv_summary",
     [](Printer& p) {
         P::PRTALERTS alerts{};
         P::UIRALERTS interventions{};
         p.bidiQueryOperatorIV(&alerts, &interventions);
     }},
    {"warnings_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryWarnings)>},
    {"service_req_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryServiceReq)>},
    {"config_chg_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQueryConfigChg)>},
    {"supplies_summary", summary<static_cast<long (P::*)(P::PRTALERTS*)>(&P::bidiQuerySupplies)>},
    {"panel_lock", [](Printer& p) { int locked = 0; p.bidiROPQueryLock(&locked); }},
    {"panel_set_lock", [](Printer& p) { p.bidiROPSetLock(1); }},
    {"panel_text",
     [](Printer& p) {
         void* panel = nullptr;
         p.bidiROPQueryData(&panel);
         delete static_cast<P::OPPANELDATA*>(panel);
     }},
    {"panel_reset", [](Printer& p) { p.bidiROPReset(); }},
    {"panel_continue", [](Printer& p) { p.bidiROPContinue(); }},
    {"set_variable",
     [](Printer& p) {
         unsigned char id[2] = {0x01, 0x01}, value[3] = {1, 2, 3};
         p.bidiSetOMVar(id, value, sizeof value);
     }},
    {"read_variable",
     [](Printer& p) {
         unsigned char id[2] = {0x01, 0x01};
         void* value = nullptr;
         unsigned long length = 0;
         p.bidiReadOMVar(id, &value, &length);
         ::operator delete(value);
     }},
    {"read_variables",
     [](Printer& p) {
         unsigned char ids[6] = {0x01, 0x01, 0x01, 0x02, 0x00, 0x4D};
         _MULTIOMVAR* vars = nullptr;
         unsigned short count = 0;
         p.bidiReadMultiOMVars(ids, 3, &vars, &count);
         deleteArray(vars);
     }},
    {"read_misc_variable",
     [](Printer& p) {
         unsigned char id[2] = {0x00, 0xA6};
         void* value = nullptr;
         unsigned long length = 0;
         p.bidiReadMiscVar(id, &value, &length, 0);
         ::operator delete(value);
     }},
    {"jobs",
     [](Printer& p) {
         unsigned int count = 0;
         P::KVPJOBDATA* jobs = nullptr;
         p.bidiQueryJobs(0, &count, &jobs);
         deleteArray(jobs);
     }},
    {"job_priority", [](Printer& p) { unsigned char answer = 0; p.bidiChangeJobPriority(3, 7, &answer); }},
    {"interpreter_lu",
     [](Printer& p) {
         unsigned char lu = 0;
         p.bidiGetInterpreterLU(1, &lu);
     }},
    {"interpreter_lu_named",
     [](Printer& p) {
         unsigned char lu = 0;
         p.bidiGetInterpreterLU(3, &lu);
     }},
    {"fonts",
     [](Printer& p) {
         unsigned short count = 0;
         _FONTDETAILS* fonts = nullptr;
         p.bidiGetFontDetails(0, 0, &count, &fonts);
         deleteArray(fonts);
     }},
    {"symbol_sets",
     [](Printer& p) {
         unsigned short count = 0;
         _SYMBOLSET* sets = nullptr;
         p.bidiGetSymbolSetList(&count, &sets);
         deleteArray(sets);
     }},
    {"current_font", [](Printer& p) { _FONTDETAILS font; p.bidiGetCurrentFontInformation(&font); }},
    {"set_current_font",
     [](Printer& p) {
         _FONTDETAILS font;
         unsigned char status = 0;
         p.bidiSetCurrentFontInformation(&font, &status);
     }},
    {"form_names",
     [](Printer& p) {
         _CUSTOMNAME* names = nullptr;
         unsigned short count = 0;
         p.bidiGetFormNames(&names, &count);
         deleteArray(names);
     }},
    {"bin_nicknames",
     [](Printer& p) {
         _CUSTOMNAME* names = nullptr;
         unsigned short count = 0;
         p.bidiGetOutputBinNicknames(&names, &count);
         deleteArray(names);
     }},
    {"set_property_tag", [](Printer& p) { p.bidiSetPropertyTag("asset 42"); }},
    {"toner_info",
     [](Printer& p) {
         KvTonerPrediction toner(&p);
         KvTonerPrediction::TonerInfoArray info;
         toner.bidiQueryTonerInfo(info);
     }},
    {"toner_reset_page_count",
     [](Printer& p) {
         KvTonerPrediction toner(&p);
         toner.bidiResetPageCount();
     }},
    {"device_listing", [](Printer& p) { p.bidiDeviceFileListing(P::DEVICE_FLASH); }},
    {"device_format", [](Printer& p) { p.bidiDeviceFormat(P::DEVICE_DISK); }},
    {"device_delete", [](Printer& p) { p.bidiDeviceDeleteFile("fonts/code39.ttf", P::DEVICE_FLASH); }},
    {"device_copy", [](Printer& p) { p.bidiDeviceCopyFile("fonts/code39.ttf", P::DEVICE_FLASH, P::DEVICE_DISK, 1); }},
};

void jobStatus(Printer& p, uint32_t version) {
    JSALERTDATA data(version);
    p.bidiJSQueryAlert(kAlertId, data);
    p.bidiJSQueryAlert(kAlertId, data);   // a second decode replaces the first's records
}

const Operation kAlertOperations[] = {
    {"device_status", [](Printer& p) { P::PRINTERSTATUS status{}; p.bidiQueryDSAAlert(kAlertId, &status); }, 0x5F4},
    {"job_status_v1", [](Printer& p) { jobStatus(p, 1); }, 0x5F6},
    {"job_status_v2", [](Printer& p) { jobStatus(p, 2); }, 0x5F6},
    {"job_status_v3", [](Printer& p) { jobStatus(p, 3); }, 0x5F6},
    {"job_status_corrected",
     [](Printer& p) {
         p.setState(KVPrtObj::PRINTER_TYPE_1, "x3.1.0.0");
         jobStatus(p, 3);
     },
     0x5F6},
    {"panel",
     [](Printer& p) {
         void* panel = nullptr;
         p.bidiROPQueryAlert(kAlertId, &panel);
         delete static_cast<P::OPPANELDATA*>(panel);
     },
     0x5F7},
    {"job_transition", [](Printer& p) { P::KVPJOBDATA job; p.bidiQueryJobTranAlert(kAlertId, &job); }, 0x5FD},
    {"variable_event",
     [](Printer& p) {
         P::OMVAREVENTDATA event;
         p.bidiQueryOMVarEventAlert(kAlertId, &event);
         ::operator delete(event.pbyData);
     },
     0x5FE},
    {"toner_raw",
     [](Printer& p) {
         unsigned char* data = nullptr;
         unsigned long length = 0;
         p.bidiQueryTonerAlert(kAlertId, data, length);
         ::operator delete(data);
     },
     0x600},
    {"toner",
     [](Printer& p) {
         KvTonerPrediction toner(&p);
         KvTonerPrediction::TonerInfoArray info;
         toner.GetTonerAlertData(kAlertId, info);
     },
     0x600},
    {"device_management",
     [](Printer& p) {
         P::DEVICEMGMTALERTDATA alert;
         if (p.bidiDeviceQueryAlert(kAlertId, &alert) != 0) return;
         P::DEVICEDIRECTORYDATA directory;
         p.parseDeviceDirectoryData(alert.strDirectoryData, &directory);
     },
     0x601},
};

}  // namespace

std::span<const Operation> replyOperations() { return kReplyOperations; }
std::span<const Operation> alertOperations() { return kAlertOperations; }

}  // namespace kvfuzz
