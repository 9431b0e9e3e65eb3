// Memory exhaustion while an alert list grows reaches the caller as
// std::bad_alloc; the entries added before stay in the list.
#include <gtest/gtest.h>

#include <new>

#include "alert_list.h"
#include "alloc_failure.h"
#include "scripted_printer.h"

using namespace kvtest;

TEST(AlertListMemory, ExhaustionWhileTheListGrowsThrowsAndKeepsTheEntries) {
    PrinterRig rig;
    rig.printer.answer(6, reply(hex("03 04 FF FF 00  02 FF FF 00  01 FF 01 00")));
    unsigned count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    failAllocationsOfSize(3 * sizeof(KVPrtObj::KVPALERTDATA));
    EXPECT_THROW(rig.obj.bidiQueryPaperJams(&count, &list), std::bad_alloc);
    stopAllocationFailures();
    EXPECT_EQ(takeList(list, count), (Alerts{{6107}, {6106}}));
}
