#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;

TEST(DeviceQueries, RequestsArgumentsLeftOnFailureAndNullPointers) {
    PrinterRig rig;
    rig.printer.setHandler([](const SentRequest&) { return fail(-3); });
    unsigned int n = 7;
    unsigned short s = 7;
    unsigned char c = 7;
    KVPrtObj::INPUTBIN* in = nullptr;
    KVPrtObj::OUTPUTBIN* out = nullptr;
    _FONTDETAILS* fonts = nullptr;
    _SYMBOLSET* sets = nullptr;
    KVPrtObj::STORAGEOPTIONS storage{5};
    _FONTDETAILS font;
    font.byFontTag = 5;
    font.ulSize = 0x01020304;
    // The call, its request code and data, the size of its first reply buffer.
    const std::tuple<std::function<long()>, unsigned short, ByteVec, unsigned long> cases[] = {
        {[&] { return rig.obj.bidiGetInputChars(&n, &in); }, 0x12, {}, 2048},
        {[&] { return rig.obj.bidiGetOutputChars(&n, &out); }, 0x13, {}, 2048},
        {[&] { return rig.obj.bidiGetStorageOptions(&storage); }, 0x14, {}, 2048},
        {[&] { return rig.obj.bidiGetInterpreterLU(1, &c); }, 0x20, {0xFF}, 2048},
        {[&] { return rig.obj.bidiGetSymbolSetList(&s, &sets); }, 0x95, {}, 10000},
        {[&] { return rig.obj.bidiGetCurrentFontInformation(&font); }, 0x96, {}, 2048},
        {[&] { return rig.obj.bidiSetCurrentFontInformation(&font, &c); }, 0x97, hex("05 00 00 00 00 01 02 03 04"),
         1048576},
        {[&] { return rig.obj.bidiGetFontDetails(0xAB, 0xCD, &s, &fonts); }, 0x21, {0xAB, 0xCD, 0x00}, 20000},
    };
    for (const auto& [call, code, data, firstBuffer] : cases) {
        EXPECT_EQ(call(), -3);
        SentRequest sent = rig.printer.lastRequest();
        EXPECT_EQ(std::tuple(sent.code, sent.data, sent.capacity), std::tuple(code, data, firstBuffer)) << code;
    }
    EXPECT_EQ(std::vector<unsigned>({n, s, c, storage.ulFontCartridge, font.byFontTag}),
              std::vector<unsigned>({7, 0, 7, 5, 5}));   // the font list's count is always set
    EXPECT_TRUE(in == nullptr && out == nullptr && fonts == nullptr && sets == nullptr);

    rig.obj.setBidi(0);   // inactive bidi: refused by the transport, none of them forced
    for (const auto& [call, code, data, firstBuffer] : cases) EXPECT_EQ(call(), -11) << code;
    EXPECT_EQ(rig.printer.requestCount(), std::size(cases));

    rig.obj.setBidi(1);   // null pointers are refused before anything is sent
    char text[] = "position: 1;";
    for (long rc : {rig.obj.bidiGetInputChars(nullptr, &in), rig.obj.bidiGetInputChars(&n, nullptr),
                    rig.obj.bidiGetOutputChars(nullptr, &out), rig.obj.bidiGetOutputChars(&n, nullptr),
                    rig.obj.bidiGetStorageOptions(nullptr), rig.obj.bidiGetInterpreterLU(1, nullptr),
                    rig.obj.bidiGetFontDetails(0, 0, nullptr, &fonts), rig.obj.bidiGetFontDetails(0, 0, &s, nullptr),
                    rig.obj.bidiGetSymbolSetList(nullptr, &sets), rig.obj.bidiGetSymbolSetList(&s, nullptr),
                    rig.obj.bidiGetCurrentFontInformation(nullptr), rig.obj.bidiSetCurrentFontInformation(nullptr, &c),
                    rig.obj.bidiSetCurrentFontInformation(&font, nullptr),
                    rig.obj.parseFontDescription(nullptr, 4, &font), rig.obj.parseFontDescription(text, 4, nullptr)})
        EXPECT_EQ(rc, -18);
    EXPECT_EQ(rig.printer.requestCount(), std::size(cases));
}
