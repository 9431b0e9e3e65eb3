#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "env.h"
#include "golden.h"
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

KVPrtObj::BIDICAPABILITIES discover(AttachedPrinter& printer) {
    OpenPrtObj p(printer.handle, 0);
    p.bidiInitialize(0);
    KVPrtObj::BIDICAPABILITIES caps;
    EXPECT_EQ(p.getBidiCaps(&caps), 1);
    return caps;
}

// "ATTACHMENT CODE SUB [port=NAME] [flags=F] [TYPE=NAME@ADDRESS ...]", numbers in hexadecimal: a printer
// of that attachment, network type code and subcode, information flags (bidi-capable unless given) and
// adapter address 000A1B2C3D4E, that answers names for the network types given, as discovery finds it.
std::string discovered(const std::string& input) {
    AttachedPrinter printer;
    std::istringstream words(input);
    uint32_t attachment = 0, code = 0, sub = 0;
    words >> std::hex >> attachment >> code >> sub;
    PRTINFO info = networkInfo(attachment, static_cast<uint16_t>(code), static_cast<uint16_t>(sub));
    for (std::string word; words >> word;) {
        const std::string key = word.substr(0, word.find('=')), value = word.substr(word.find('=') + 1);
        if (key == "port")
            std::snprintf(info.szPortName, sizeof info.szPortName, "%s", value.c_str());
        else if (key == "flags")
            info.usFlags = static_cast<uint16_t>(std::stoul(value, nullptr, 16));
        else
            printer->setName(std::stoul(key, nullptr, 16), value.substr(0, value.find('@')),
                             value.substr(value.find('@') + 1));
    }
    printer->setPrtInfo(info);
    OpenPrtObj p(printer.handle, 0);
    p.bidiInitialize(0);
    const auto& c = p.m_caps;
    std::ostringstream out;
    out << "kind " << c.nConnectionKind << " protocols " << std::hex << c.dwProtocols << " partner "
        << p.validVelkorProtocols() << " active " << c.bBidiActive << " status " << c.dwStatusFlags << " | port '"
        << c.strPortName << "' adapter '" << c.strAdapterAddress << "' | names '" << c.strNetName1 << "|"
        << c.strNetName2 << "|" << c.strNetName3 << "' | " << c.nAddressCount << " addresses '" << c.strAddresses
        << "' | asked";
    for (unsigned type : printer->nameQueries()) out << " " << type;
    return out.str();
}

}  // namespace

// Connection kinds of local ports and of network types and subcodes; protocols found, partner protocols
// and the adapter address; names by protocol bit, the last success winning; the address list.
TEST(Discovery, CapabilitiesFoundForEachAttachment) {
    expectGolden(KVPO_PRTOBJ_DIR "/discovery.golden", discovered);
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
