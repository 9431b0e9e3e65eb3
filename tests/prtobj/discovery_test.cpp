#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "env.h"
#include "kvprtobj/kvprtobj.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

PRTINFO networkInfo(uint32_t attachment, uint16_t code = 1, uint16_t sub = 0) {
    PRTINFO info{};
    const uint8_t mac[6] = {0x00, 0x0A, 0x1B, 0x2C, 0x3D, 0x4E};
    std::memcpy(info.abAdapterAddress, mac, 6);
    info.usFlags = PRTINFO_BIDI_CAPABLE;
    info.ulAttachment = attachment;
    info.usNetTypeCode = code;
    info.usNetSubCode = sub;
    return info;
}

KVPrtObj::BIDICAPABILITIES discover(AttachedPrinter& printer, int refresh = 0) {
    OpenPrtObj p(printer.handle, 0);
    p.bidiInitialize(refresh);
    KVPrtObj::BIDICAPABILITIES caps;
    EXPECT_EQ(p.getBidiCaps(&caps), 1);
    return caps;
}

}  // namespace

TEST(Discovery, LocalPortKindsFromThePortName) {
    const std::pair<const char*, int> cases[] = {{"com2", 2}, {"LPT1", 1}, {"lpt9:", 1}, {"USB001", 3}, {"", 3}};
    for (auto [port, kind] : cases) {
        AttachedPrinter printer;
        PRTINFO info{};
        std::strcpy(info.szPortName, port);
        info.ulAttachment = PRTINFO_LOCAL_PORT | 0x02 | PRTINFO_HAS_IP;
        printer->setName(0x02, "n", "1.2.3.4");
        printer->setPrtInfo(info);
        OpenPrtObj p(printer.handle, 0);
        p.bidiInitialize(0);
        EXPECT_EQ(std::tuple(p.m_caps.nConnectionKind, p.m_caps.strPortName, p.m_caps.dwProtocols, p.m_caps.bBidiActive,
                             p.validVelkorProtocols(), printer->nameQueries().size()),
                  std::tuple(kind, CString(port), 0u, 0, 1, size_t{0})) << port;
    }
}

TEST(Discovery, NetworkKindsFromTypeCodeAndSubCode) {
    const struct {
        uint16_t code, sub;
        int kind;
    } cases[] = {{0, 77, 13}, {1, 3, 9},  {2, 1, 4},   {4, 2, 5},  {2, 257, 6}, {4, 3, 0},  {8, 1, 7},
                          {8, 2, 7},   {8, 257, 8}, {8, 3, 0},  {16, 0, 10}, {32, 9, 12}, {64, 1, 11}, {3, 1, 0}};
    for (const auto& c : cases) {
        AttachedPrinter printer;
        printer->setPrtInfo(networkInfo(0, c.code, c.sub));
        EXPECT_EQ(discover(printer).nConnectionKind, c.kind) << c.code << "/" << c.sub;
    }
}

TEST(Discovery, AddressListJoinsTheEntriesFoundAndTheIpNameIsNotLookedUpTwice) {
    for (bool onlyDlc : {false, true}) {
        AttachedPrinter printer;
        printer->setPrtInfo(networkInfo(0x02 | PRTINFO_HAS_IP | PRTINFO_HAS_IPX | PRTINFO_HAS_DLC));
        if (!onlyDlc) printer->setName(0x02, "printer.example", "1.2.3.4");
        if (!onlyDlc) printer->setName(0x04, "ipx", "0000001:000A1B2C3D4E");
        printer->setName(0x20, "dlc", "000A1B2C3D4E");
        auto caps = discover(printer);
        EXPECT_EQ(caps.strAddresses, onlyDlc ? "[DLC]  000A1B2C3D4E"
                                             : "[IP]  1.2.3.4, [IPX]  0000001:000A1B2C3D4E, [DLC]  000A1B2C3D4E");
        EXPECT_EQ(caps.nAddressCount, onlyDlc ? 1 : 3);
        EXPECT_EQ(caps.strNetName2, onlyDlc ? "" : "printer.example");
        EXPECT_EQ(printer->nameQueries(), onlyDlc ? (std::vector<unsigned int>{0x02, 0x04, 0x20, 0x02})
                                                  : (std::vector<unsigned int>{0x02, 0x04, 0x20}));
        EXPECT_EQ(std::tuple(caps.dwProtocols, caps.bBidiActive, caps.dwStatusFlags), std::tuple(0x02u, 1, 1u));
    }
}

TEST(Discovery, NamesByProtocolBitInOrder) {
    AttachedPrinter printer;
    printer->setPrtInfo(networkInfo(0x01 | 0x02 | 0x80 | 0x04 | 0x20 | 0x08));
    printer->setName(0x01, "one", "a");
    printer->setName(0x04, "four", "a");
    printer->setName(0x08, "eight", "a");
    printer->setName(0x20, "twenty", "a");
    printer->setName(0x80, "eighty", "a");   // 0x02 fails, 0x80 answers
    auto caps = discover(printer);
    EXPECT_EQ(caps.dwProtocols, 0x01u | 0x02u | 0x04u | 0x08u | 0x20u | 0x40u);
    // Name 3: 0x04, 0x08, then 0x20, the last success wins.
    EXPECT_EQ(caps.strNetName1 + "|" + caps.strNetName2 + "|" + caps.strNetName3, "one|eighty|twenty");
    EXPECT_EQ(printer->nameQueries(), (std::vector<unsigned int>{0x01, 0x04, 0x08, 0x20, 0x02, 0x80}));
}

// Types 0x01, 0x02 and 0x10 (protocol bit 7) reach a partner; only 0x10 drops the adapter address.
TEST(Discovery, PartnerProtocolsAndTheAdapterAddress) {
    const struct {
        uint32_t attachment, protocols;
        int partner;
        const char* adapter;
    } cases[] = {{0x01, 0x01, 1, "000A1B2C3D4E"}, {0x02, 0x02, 1, "000A1B2C3D4E"}, {0x10, 0x80, 1, ""},
                 {0x40, 0x10, 0, "000A1B2C3D4E"}};
    for (const auto& c : cases) {
        AttachedPrinter printer;
        printer->setPrtInfo(networkInfo(c.attachment));
        OpenPrtObj p(printer.handle, 0);
        EXPECT_EQ(p.validVelkorProtocols(), 0);   // nothing discovered yet
        p.bidiInitialize(0);
        EXPECT_EQ(std::tuple(p.m_caps.dwProtocols, p.validVelkorProtocols(), p.m_caps.strAdapterAddress),
                  std::tuple(c.protocols, c.partner, CString(c.adapter))) << c.attachment;
    }
}

TEST(Discovery, InformationFailureLeavesAResetRecordAndFlagBitFifteen) {
    AttachedPrinter printer;
    printer->setPrtInfoResult(-11);
    OpenPrtObj p(printer.handle, 0);
    p.m_caps.strNetName1 = "old";
    p.m_caps.bBidiActive = 1;
    EXPECT_EQ(p.bidiInitialize(1), 0);
    EXPECT_EQ(printer->prtInfoRefreshes(), std::vector<int>{1});
    KVPrtObj::BIDICAPABILITIES caps;
    EXPECT_EQ(p.getBidiCaps(&caps), 1);
    EXPECT_EQ(std::tuple(caps.strNetName1, caps.bBidiActive), std::tuple(CString(), 0));

    PRTINFO info = networkInfo(0x01);
    info.usFlags = 0x8000;   // not bidi-capable, bit 15 set
    printer->setPrtInfo(info);
    caps = discover(printer);
    EXPECT_EQ(std::tuple(caps.bInfoFlag15, caps.bBidiActive, caps.dwStatusFlags), std::tuple(1, 0, 0u));
}

TEST(Discovery, CapturedPortsFromTheSettings) {
    SettingsFile settings("[CapturedPorts]\nLPT1=\\\\srv\\q1\nLPT3=\\\\srv\\q3\n");
    AttachedPrinter printer;
    printer->setPrtInfo(networkInfo(0x01 | 0x10000 | 0x20000 | 0x40000));   // LPT1..LPT3 captured
    auto caps = discover(printer);
    EXPECT_EQ(std::tuple(caps.bHasCapturedPorts, caps.nCapturedPorts, caps.strCapturedPorts),   // LPT2 unconnected
              std::tuple(1, 2, CString("LPT1:  (\\\\srv\\q1), LPT3:  (\\\\srv\\q3)")));
}

TEST(CreatePrinterObjectTest, RefusesUnknownPrinterTypesAndIsCallableByName) {
    AttachedPrinter printer;
    EXPECT_EQ(CreatePrinterObject(printer.handle, 1, 2), nullptr);
    EXPECT_TRUE(printer->prtInfoRefreshes().empty());   // no object was made
    auto create = reinterpret_cast<KVPrtObj* (*)(unsigned short, short, unsigned long)>(
        GetProcAddress(LoadLibraryA("libkvprtobj.so"), "CreatePrinterObject"));
    ASSERT_NE(create, nullptr);
    for (unsigned long type : {0ul, 1ul, 0xFFFFFFFFul}) {
        KVPrtObj* p = create(printer.handle, 5, type);
        ASSERT_NE(p, nullptr);
        unsigned long t;
        p->getPrinterType(&t, nullptr);
        EXPECT_EQ(std::tuple(t, p->getBCEHandle()), std::tuple(type, printer.handle));
        delete p;
    }
}

// A partner-only installation makes the type unknown and needs a local port or types 0x01, 0x02, 0x10.
TEST(CreatePrinterObjectTest, PartnerOnlyInstallChecksProtocols) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto run = [](uint32_t attachment) {
        auto path = std::filesystem::temp_directory_path() / ("kvpo-velkor-" + std::to_string(::getpid()) + ".ini");
        std::ofstream(path) << "[Settings]\nInstallType=1\n";
        ::setenv("KVPRTOBJ_SETTINGS", path.c_str(), 1);
        AttachedPrinter printer;
        printer->setPrtInfo(networkInfo(attachment));
        KVPrtObj* p = CreatePrinterObject(printer.handle, 1, 0);
        int code = 0;
        if (p) {
            unsigned long type;
            p->getPrinterType(&type, nullptr);
            code = type == 0xFFFFFFFF ? 1 : 2;
            delete p;
        }
        std::filesystem::remove(path);
        std::_Exit(code);
    };
    EXPECT_EXIT(run(0x40), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(run(0x02), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(run(0x10), ::testing::ExitedWithCode(1), "");
}
