// Quick Setup transfers end to end: a receive from one printer into a file,
// a send of that file into another, and the progress numbering.
#include <gtest/gtest.h>

#include <map>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

namespace {

// Values of many lengths, the longest a record holds included.
ByteVec valueFor(unsigned id) {
    static const size_t lengths[] = {0, 1, 37, 38, 200, 255, 2};
    ByteVec v(lengths[id % 7]);
    for (size_t j = 0; j < v.size(); ++j) v[j] = static_cast<uint8_t>(id + j);
    return v;
}

std::vector<unsigned> range(unsigned first, unsigned last) {
    std::vector<unsigned> ids;
    for (unsigned id = first; id <= last; ++id) ids.push_back(id);
    return ids;
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
    std::vector<unsigned> ids = range(0x0101, 0x0110);
    for (unsigned id : range(0x0201, 0x0205)) ids.push_back(id);
    for (unsigned id : ids) source.store.set(static_cast<uint16_t>(id), valueFor(id));

    // The installed QSVARS.CFG lists 16 + 5 variables for printer type 1.
    HostWindow host;
    unsigned long steps = 0;
    {
        QuickSetup qs;
        ASSERT_EQ(qs.bidiQuickSetupReceive(source.obj(), file, host.handle(), &steps, nullptr, 4), 0u);
    }   // the worker needs nothing of the object
    EXPECT_EQ(steps, 5u);
    ASSERT_TRUE(host.waitFinished());
    // Indices 0, 4, 8, 12 of list 1, then 0 and 4 of list 2 (counter from 17).
    EXPECT_EQ(host.seen(), progress({1, 5, 9, 13, 17, 21}));
    EXPECT_EQ(source.ids(0x4E), ids);

    // The file: header, then one record per variable in list order.
    ByteVec bytes = readFile(file);
    ASSERT_GE(bytes.size(), 74u);
    EXPECT_EQ(toHex(bytes.data(), 8), toHex(Bytes().text("QS").raw({bytes[2], bytes[3]}).u8(1).u8(1).u8(0).u8(0)));
    Bytes list1, list2;
    for (unsigned id : range(0x0101, 0x0110)) list1.be16(id).u8(static_cast<unsigned>(valueFor(id).size())).raw(valueFor(id));
    for (unsigned id : range(0x0201, 0x0205)) list2.be16(id).u8(static_cast<unsigned>(valueFor(id).size())).raw(valueFor(id));
    EXPECT_EQ(toHex(bytes.data() + 44, 12),
              toHex(Bytes().le32(74).le16(16).le32(static_cast<uint32_t>(74 + list1.size())).le16(5)));
    EXPECT_EQ(ByteVec(bytes.begin() + 74, bytes.end()), Bytes().raw(list1).raw(list2).vec());

    HostWindow host2;
    QuickSetup qs;
    ASSERT_EQ(qs.bidiQuickSetupSend(target.obj(), file, host2.handle(), &steps, nullptr, 4), 0u);
    EXPECT_EQ(steps, 5u);
    ASSERT_TRUE(host2.waitFinished());
    EXPECT_EQ(host2.seen(), progress({1, 2, 3, 4, 5}));
    EXPECT_EQ(target.ids(0x4F), ids);
    EXPECT_EQ(target.store.all(), source.store.all());
}

TEST(QuickSetupTransfer, ProgressOfAReceive) {
    struct Case {
        const char* config;
        unsigned interval;
        unsigned long steps;
        Messages messages;
    } cases[] = {
        {"List1 = 1 2 3 4 5 6 7 8 9 A\nList2 = 11 12 13 14 15\n", 4, 3, progress({1, 5, 9, 11, 15})},
        {"List1 = 1 2 3\n", 2, 1, progress({1, 3})},
        {"List1 = 1 2 3\nList2 = 11\n", 0, 4, progress({1, 2, 3, 4})},   // interval 0 taken as 1
    };
    for (const Case& c : cases) {
        ConfigOverride config(std::string("[PrinterType0]\n") + c.config);
        TempDir dir;
        StoredPrinter printer(0);
        for (unsigned id : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0x11, 0x12, 0x13, 0x14, 0x15})
            printer.store.set(static_cast<uint16_t>(id), {static_cast<uint8_t>(id)});
        HostWindow host;
        QuickSetup qs;
        unsigned long steps = 0;
        ASSERT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), &steps, nullptr, c.interval), 0u);
        EXPECT_EQ(steps, c.steps) << c.config;
        ASSERT_TRUE(host.waitFinished());
        EXPECT_EQ(host.seen(), c.messages) << c.config;
    }
}

TEST(QuickSetupTransfer, ProgressOfASendOfListsThreeAndTwo) {
    TempDir dir;
    writeQsfFile(dir.file("f"), QsfImage(0)
                                    .list1({{0x0101, {1}}, {0x0102, {2}}, {0x0103, {3}}})
                                    .list2({{0x0201, {4}}, {0x0202, {5}}})
                                    .bytes());
    StoredPrinter printer(0);
    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 0;
    ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), &steps, nullptr, 2), 0u);
    EXPECT_EQ(steps, 2u);
    ASSERT_TRUE(host.waitFinished());
    EXPECT_EQ(host.seen(), progress({1, 2}));
    EXPECT_EQ(printer.ids(0x4F), (std::vector<unsigned>{0x0101, 0x0102, 0x0103, 0x0201, 0x0202}));
    EXPECT_EQ(printer.store.get(0x0202), ByteVec{5});
}
