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
    static Slot first() { return slot("initToZero", &Protected::initToZero); }
    static Slot last() { return slot("parseOutputBinsByName", &Protected::parseOutputBinsByName); }
};

}  // namespace

// What a compiler or ABI decides, not the header's order itself: the base
// class's slots (the run-time class, the destructor's two entries, Serialize,
// AssertValid, Dump), overloads in declaration order (one compiler groups
// them), the protected slots after the public ones, and the table's length.
TEST(VirtualTable, BaseSlotsOverloadOrderAndLength) {
    const long first = 6;
    EXPECT_EQ(slot("Dump", &CObject::Dump).index, first - 1);
    EXPECT_EQ(SLOT(validVelkorProtocols).index, first);
    const std::vector<Slot> overloads = {
        LIST_SLOT(bidiQueryInputStatus), SUMMARY_SLOT(bidiQueryInputStatus), LIST_SLOT(bidiQueryOutputStatus),
        SUMMARY_SLOT(bidiQueryOutputStatus), LIST_SLOT(bidiQueryPaperJams), SUMMARY_SLOT(bidiQueryPaperJams),
        LIST_SLOT(bidiQueryOperatorIV),
        slot<long (KVPrtObj::*)(KVPrtObj::PRTALERTS*, KVPrtObj::UIRALERTS*)>("bidiQueryOperatorIV (summary)",
                                                                             &KVPrtObj::bidiQueryOperatorIV),
        LIST_SLOT(bidiQueryWarnings), SUMMARY_SLOT(bidiQueryWarnings), LIST_SLOT(bidiQueryServiceReq),
        SUMMARY_SLOT(bidiQueryServiceReq), LIST_SLOT(bidiQueryConfigChg), SUMMARY_SLOT(bidiQueryConfigChg),
        LIST_SLOT(bidiQuerySupplies), SUMMARY_SLOT(bidiQuerySupplies), SLOT(bidiQuerySuppliesStatus)};
    const long start = SLOT(bidiQueryDeviceStatus).index + 1;
    for (size_t i = 0; i < overloads.size(); ++i)
        EXPECT_EQ(overloads[i].index, start + static_cast<long>(i)) << overloads[i].name;
    EXPECT_EQ(Protected::first().index, SLOT(bidiQuery).index + 1);
    EXPECT_EQ(Protected::last().index, first + 84) << "the number of slots";
}
