#include <gtest/gtest.h>

#include <tuple>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

namespace {

// Values of many lengths, up to the longest a record holds.
ByteVec valueFor(unsigned id) {
    static const size_t lengths[] = {0, 1, 37, 38, 200, 255, 2};
    ByteVec v(lengths[id % 7]);
    for (size_t j = 0; j < v.size(); ++j) v[j] = static_cast<uint8_t>(id + j);
    return v;
}

std::vector<unsigned> ids(unsigned first, unsigned last) {
    std::vector<unsigned> out;
    for (unsigned id = first; id <= last; ++id) out.push_back(id);
    return out;
}

std::vector<QsfRecord> records(const std::vector<unsigned>& list) {
    std::vector<QsfRecord> out;
    for (unsigned id : list) out.push_back({static_cast<uint16_t>(id), valueFor(id)});
    return out;
}

Messages progress(std::initializer_list<LPARAM> steps) {
    Messages m;
    for (LPARAM s : steps) m.emplace_back(kProgress, s);
    m.emplace_back(kFinished, 0);
    return m;
}

}  // namespace

TEST(QuickSetupTransfer, ReceiveFromOnePrinterThenSendIntoAnother) {
    TempDir dir;
    const std::string file = dir.file("settings.qsf");
    StoredPrinter source(1), target(1);
    const std::vector<unsigned> list1 = ids(0x0101, 0x0110), list2 = ids(0x0201, 0x0205);
    std::vector<unsigned> all = list1;
    all.insert(all.end(), list2.begin(), list2.end());
    for (unsigned id : all) source.store.set(static_cast<uint16_t>(id), valueFor(id));

    // The installed QSVARS.CFG names 16 + 5 variables for printer type 1.
    // Progress: indices 0, 4, 8, 12 of list 1, then 0 and 4 of list 2 (the counter goes on from 17).
    unsigned long steps = 0;
    EXPECT_EQ(transfer(false, source.obj(), file, 4, nullptr, &steps), progress({1, 5, 9, 13, 17, 21}));
    EXPECT_EQ(std::tuple(steps, source.ids(0x4E)), std::tuple(5ul, all));

    writeQsfFile(dir.file("expected"), QsfImage(1).list1(records(list1)).list2(records(list2)).bytes());
    EXPECT_EQ(toHex(readFile(file)), toHex(readFile(dir.file("expected"))));

    EXPECT_EQ(transfer(true, target.obj(), file, 4, nullptr, &steps), progress({1, 2, 3, 4, 5}));
    EXPECT_EQ(std::tuple(steps, target.ids(0x4F), target.store.all()), std::tuple(5ul, all, source.store.all()));
    EXPECT_EQ(transfer(true, target.obj(), file, 0, nullptr, &steps).size(), 22u);   // interval 0 taken as 1
    EXPECT_EQ(steps, 21ul);
}

// (Lists longer than the interval: the transfer above.)
TEST(QuickSetupTransfer, ProgressOfAReceive) {
    const std::tuple<const char*, unsigned, unsigned long, Messages> cases[] = {   // config, interval, steps, messages
        {"List1 = 1 2 3\n", 2, 1, progress({1, 3})},
        {"List1 = 1 2 3\nList2 = 11\n", 0, 4, progress({1, 2, 3, 4})},   // interval 0 taken as 1
    };
    for (const auto& [text, interval, expectedSteps, messages] : cases) {
        ConfigOverride config(std::string("[PrinterType0]\n") + text);
        TempDir dir;
        StoredPrinter printer(0);
        for (unsigned id : {1, 2, 3, 0x11})
            printer.store.set(static_cast<uint16_t>(id), {static_cast<uint8_t>(id)});
        unsigned long steps = 0;
        Messages seen = transfer(false, printer.obj(), dir.file("f"), interval, nullptr, &steps);
        EXPECT_EQ(std::tuple(seen, steps), std::tuple(messages, expectedSteps)) << text;
    }
}
