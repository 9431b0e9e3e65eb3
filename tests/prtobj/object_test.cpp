#include <gtest/gtest.h>

#include <tuple>
#include <type_traits>

#include "kvprtobj/helpers.h"
#include "scripted_printer.h"

using namespace kvtest;

TEST(PrinterObject, ConstructorsSetTypeRetriesAndPsfType) {
    OpenPrtObj bare;
    unsigned long type = 0, subtype = 0;
    bare.getPrinterType(&type, &subtype);
    EXPECT_EQ(std::tuple(type, subtype, bare.m_nBidiRetryCount), std::tuple(0xFFFFFFFFul, 0xFFFFFFFFul, 1));
    KVPrtObj::BIDICAPABILITIES caps;
    caps.nConnectionKind = 99;
    EXPECT_EQ(bare.getBidiCaps(&caps), 0);
    EXPECT_EQ(caps.nConnectionKind, 99);   // untouched while no capabilities are known
    bare.setUserData(0x1'0000'0002ul);     // user data keeps 32 bits
    EXPECT_EQ(bare.getUserData(), 2u);

    // Constructor arguments, printer type, retries, PSF type.
    const std::tuple<int, unsigned long, int, KVPrtObj::PSFTYPES> cases[] = {
        {2, 0, 0, KVPrtObj::PSF_NONE},   // printer type still unset at the retry test
        {3, 0, 1, KVPrtObj::PSF_TYPE0_FILE}, {3, 1, 0, KVPrtObj::PSF_TYPE1_FILE}, {3, 5, 0, KVPrtObj::PSF_NONE}};
    AttachedPrinter printer;
    for (auto [args, printerType, retries, psf] : cases) {
        auto p = args == 2 ? std::make_unique<OpenPrtObj>(printer.handle, 0)
                           : std::make_unique<OpenPrtObj>(printer.handle, printerType, 0);
        EXPECT_EQ(std::tuple(p->m_nBidiRetryCount, p->getPsfType(), p->getBCEHandle(), p->getKVPrtObjType()),
                  std::tuple(retries, psf, printer.handle, 0)) << printerType;
    }
    EXPECT_TRUE(printer->prtInfoRefreshes().empty());   // nothing asked without initialize

    PRTINFO info{};
    info.usFlags = PRTINFO_BIDI_CAPABLE;
    info.ulAttachment = BCE_NET_01 | BCE_NET_IP;
    printer->setPrtInfo(info);
    OpenPrtObj initialized(printer.handle, 0ul, 1);
    EXPECT_EQ(printer->prtInfoRefreshes(), std::vector<int>{0});
    // The requests go over no network type of their own, though the printer has several.
    EXPECT_EQ(std::tuple(initialized.m_bCapsValid, initialized.isBidiActive(), initialized.getBidiQueryNetType()),
              std::tuple(1, 1, 0u));
}

TEST(PrinterObject, AssignmentCopiesAllButLockObjectTypeAndNetTypeInitToZeroKeepsIdentity) {
    AttachedPrinter printer;
    OpenPrtObj source(printer.handle, 0ul, 0);
    source.setBceAppId(7);
    source.setUserData(0x1234);
    source.m_caps.strAddresses = "[IP]  1.2.3.4";
    source.m_strCodeLevel = "x3.1.0.0";
    source.m_uBidiQueryNetType = 0x40;
    HWND window = reinterpret_cast<HWND>(0x55);
    source.setNotificationWindow(window);

    struct CountingWindow : OpenPrtObj {
        int calls = 0;
        void setNotificationWindow(HWND w) override {
            ++calls;
            OpenPrtObj::setNotificationWindow(w);
        }
    } target;
    target.m_uBidiQueryNetType = 0x10;
    static_cast<KVPrtObj&>(target) = source;
    EXPECT_EQ(std::tuple(target.getBCEHandle(), target.m_sBceAppId, target.getPsfType(), target.getUserData()),
              std::tuple(printer.handle, short(7), KVPrtObj::PSF_TYPE0_FILE, 0x1234ul));
    EXPECT_EQ(target.m_caps.strAddresses + "|" + target.m_strCodeLevel, "[IP]  1.2.3.4|x3.1.0.0");
    // The window goes through the virtual setter; the net type is kept.
    EXPECT_EQ(std::tuple(target.m_hNotifyWnd, target.calls, target.getBidiQueryNetType()),
              std::tuple(window, 1, 0x10u));

    OpenPrtObj& self = source;
    source = self;
    EXPECT_EQ(std::tuple(source.m_caps.strAddresses, source.getBidiQueryNetType()), std::tuple("[IP]  1.2.3.4", 0x40u));

    source.initToZero();   // identity and host values stay
    EXPECT_EQ(std::tuple(source.getBCEHandle(), source.m_sBceAppId, source.getUserData()),
              std::tuple(printer.handle, short(7), 0x1234ul));
    EXPECT_EQ(std::tuple(source.m_caps.strAddresses + source.m_strCodeLevel, source.m_dwPrinterType,
                         source.m_nBidiRetryCount),
              std::tuple(CString(), 0xFFFFFFFFu, 0));
}

// Members keep their declared types, so a host that overrides one or takes
// its address with the declared type compiles; safer forms stand beside them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"
struct DeclaredSignatures : KVPrtObj {
    using Caps = BIDICAPABILITIES;
    static_assert(std::is_same_v<decltype(&KVPrtObj::getBidiCaps), const int (KVPrtObj::*)(Caps*) const>);
    static_assert(std::is_same_v<decltype(&KVPrtObj::getPsfType), const PSFTYPES (KVPrtObj::*)() const>);
    static_assert(std::is_same_v<decltype(&KVPrtObj::getBCEHandle), const unsigned short (KVPrtObj::*)() const>);
    static_assert(std::is_same_v<decltype(&KVPrtObj::setBidiQueryNetType),
                                 const unsigned int (KVPrtObj::*)(unsigned int) const>);
    static_assert(std::is_same_v<decltype(&KVPrtObj::getNetAccessLevel),
                                 const KVNETACCESSLEVEL (KVPrtObj::*)(unsigned int) const>);
    static constexpr int (KVPrtObj::*parseJob)(KVPJOBDATA*, unsigned char*, int) = &DeclaredSignatures::ParseJobData;
    static constexpr unsigned short (*makeUShort)(void*) = &MakeUSHORT;
    static constexpr unsigned long (*makeULong)(void*) = &MakeULONG;
};
#pragma GCC diagnostic pop

TEST(PrinterObject, ThreeArgumentParseJobDataBoundsItselfByTheLongestRecord) {
    struct Jobs : KVPrtObj {
        using KVPrtObj::kMaxJobRecord;
        using KVPrtObj::ParseJobData;
    } p;
    unsigned char record[Jobs::kMaxJobRecord] = {0x01, 0x00, 0x07};
    KVPrtObj::KVPJOBDATA job;
    EXPECT_EQ(p.ParseJobData(&job, record, 0), 1);
    EXPECT_EQ(job.jobNumber, 7);
}
