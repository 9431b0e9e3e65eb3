// The order of KVPrtObj's virtual functions is part of its interface: hosts
// built against it call through fixed slots. The slots are read from the
// pointers to the virtual members (a pointer to a virtual member holds 1 plus
// the function's byte offset in the virtual table).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kvprtobj/kvprtobj.h"

namespace {

struct Slot {
    const char* name;
    long index;
};

template <typename F>
Slot slot(const char* name, F member) {
    static_assert(sizeof(F) == 2 * sizeof(void*));
    struct {
        std::uintptr_t ptr;
        std::ptrdiff_t adjust;
    } rep;
    std::memcpy(&rep, &member, sizeof rep);
    if ((rep.ptr & 1) == 0) return {name, -1};   // not virtual
    return {name, static_cast<long>((rep.ptr - 1) / sizeof(void*))};
}

#define SLOT(f) slot(#f, &KVPrtObj::f)

// The list and summary forms of the alert families share their names.
using ListForm = long (KVPrtObj::*)(unsigned int*, KVPrtObj::KVPALERTDATA**);
using SummaryForm = long (KVPrtObj::*)(KVPrtObj::PRTALERTS*);
#define LIST_SLOT(f) slot<ListForm>(#f " (list)", &KVPrtObj::f)
#define SUMMARY_SLOT(f) slot<SummaryForm>(#f " (summary)", &KVPrtObj::f)

// Opens the protected members for their addresses.
struct Protected : KVPrtObj {
    static std::vector<Slot> slots() {
        return {slot("initToZero", &Protected::initToZero), slot("bidiQueryAlert", &Protected::bidiQueryAlert),
                slot("setPrinterType", &Protected::setPrinterType), slot("isBidiActive", &Protected::isBidiActive),
                slot("parseInputCharsByName", &Protected::parseInputCharsByName),
                slot("parseInputCharsByID", &Protected::parseInputCharsByID),
                slot("parseInputBinsByName", &Protected::parseInputBinsByName),
                slot("parseInputBinsByID", &Protected::parseInputBinsByID),
                slot("parseROPData", &Protected::parseROPData),
                slot("parseDeviceStatusData", &Protected::parseDeviceStatusData),
                slot("parseDeviceAlertData", &Protected::parseDeviceAlertData),
                slot("parseAlertData", &Protected::parseAlertData),
                slot("parseOutputBinsByName", &Protected::parseOutputBinsByName)};
    }
};

}  // namespace

TEST(VirtualTable, FunctionsStandInTheirOrderAfterTheBaseClass) {
    auto p = Protected::slots();
    std::vector<Slot> table = {
        SLOT(validVelkorProtocols), SLOT(getPrinterType), SLOT(getBidiCaps), SLOT(bidiInitialize),
        SLOT(bidiQueryCaps), SLOT(bidiGetPrinterFamily), SLOT(bidiGetPrinterInfo), SLOT(bidiGetPrinterType),
        SLOT(bidiGetDeviceChars), SLOT(bidiGetPageCounts), SLOT(bidiGetStorageOptions),
        SLOT(bidiGetCodeLevels), SLOT(bidiGetAvailablePorts), SLOT(bidiLoopBack), SLOT(bidiGetInputChars),
        SLOT(bidiGetOutputChars), SLOT(bidiResetHostPageCount), SLOT(bidiPORPrinter), SLOT(bidiResetNVRAM),
        SLOT(bidiQueryDSAAlert), SLOT(bidiQueryDeviceStatus), LIST_SLOT(bidiQueryInputStatus),
        SUMMARY_SLOT(bidiQueryInputStatus), LIST_SLOT(bidiQueryOutputStatus), SUMMARY_SLOT(bidiQueryOutputStatus),
        LIST_SLOT(bidiQueryPaperJams), SUMMARY_SLOT(bidiQueryPaperJams), LIST_SLOT(bidiQueryOperatorIV),
        slot<long (KVPrtObj::*)(KVPrtObj::PRTALERTS*, KVPrtObj::UIRALERTS*)>(
            "bidiQueryOperatorIV (summary)", &KVPrtObj::bidiQueryOperatorIV), LIST_SLOT(bidiQueryWarnings),
        SUMMARY_SLOT(bidiQueryWarnings), LIST_SLOT(bidiQueryServiceReq), SUMMARY_SLOT(bidiQueryServiceReq),
        LIST_SLOT(bidiQueryConfigChg), SUMMARY_SLOT(bidiQueryConfigChg), LIST_SLOT(bidiQuerySupplies),
        SUMMARY_SLOT(bidiQuerySupplies), SLOT(bidiQuerySuppliesStatus), SLOT(bidiROPQueryLock), SLOT(bidiROPSetLock),
        SLOT(bidiROPPushButton), SLOT(bidiROPQueryData), SLOT(bidiROPQueryAlert), SLOT(bidiROPReset),
        SLOT(bidiROPContinue),
        SLOT(bidiSetOMVar), SLOT(bidiReadOMVar), SLOT(bidiReadMultiOMVars), SLOT(bidiReadMiscVar),
        SLOT(bidiQueryOMVarEventAlert), SLOT(bidiQueryJobTranAlert), SLOT(bidiQueryTonerAlert), SLOT(bidiJSQueryAlert),
        SLOT(bidiDeviceFileListing), SLOT(bidiDeviceFormat), SLOT(bidiDeviceDeleteFile), SLOT(bidiDeviceCopyFile),
        SLOT(bidiDeviceQueryAlert), SLOT(parseDeviceDirectoryData),
        SLOT(setUserData), SLOT(getUserData), SLOT(getVersionNumber), SLOT(setNotificationWindow), SLOT(setBidi),
        SLOT(bidiQueryJobs), SLOT(bidiDeleteJob), SLOT(bidiChangeJobPriority),
        SLOT(bidiGetInterpreterLU), SLOT(bidiGetFontDetails), SLOT(parseFontDescription), SLOT(bidiGetPropertyTag),
        SLOT(bidiQuery)};
    table.insert(table.end(), p.begin(), p.end());
    // CObject's slots: the run-time class, the destructor (two entries in this
    // ABI), Serialize, AssertValid, Dump.
    const long first = 6;
    EXPECT_EQ(slot("Dump", &CObject::Dump).index, first - 1);
    for (size_t i = 0; i < table.size(); ++i)
        EXPECT_EQ(table[i].index, first + static_cast<long>(i)) << table[i].name;
}
