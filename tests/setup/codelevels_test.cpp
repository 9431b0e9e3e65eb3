#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "golden.h"
#include "kvprtobj/codelevel.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// "number text" as a number; or "base | text": the code-level text ("\n", "\r"
// escaped) read with the base level kept ("b"), from the device
// characteristics ("x3.1.0.0"), failing there (-3) or with the read failing
// (-10): the result, the count (42 before), the records as component#instance='level', the
// requests with the last one's code and data, and the kept base level.
std::string levels(const std::string& input) {
    if (input.starts_with("number ")) return std::to_string(StrCodeLevelToLong(input.substr(7)));
    PrinterRig rig;
    const std::string base = input.substr(0, input.find(" | "));
    std::string text = input.substr(base.size() + 3);
    for (auto [from, to] : {std::pair("\\n", "\n"), std::pair("\\r", "\r")})
        for (size_t at; (at = text.find(from)) != text.npos;) text.replace(at, 2, to);
    if (base == "kept") rig.obj.m_strCodeLevel = "b";
    rig.printer.answer(0x10, base == "failing" ? fail(-3)
                                               : reply(Bytes().zeros(33).counted("").counted("x3.1.0.0").counted("")));
    rig.printer.answer(0x56, base == "unreadable" ? fail(-10) : reply(Bytes().raw({0x00, 0x00, 0xA6}).text(text)));
    int count = 42;
    auto* const untouched = reinterpret_cast<KVPrtObj::CODELEVELS*>(0x1);
    KVPrtObj::CODELEVELS* array = untouched;
    std::ostringstream out;
    out << "rc=" << rig.obj.bidiGetCodeLevels(count, &array) << " count=" << count
        << (array == untouched ? " untouched" : "") << " levels=";
    std::unique_ptr<KVPrtObj::CODELEVELS[]> owned(array == untouched ? nullptr : array);
    for (int i = 0; owned && i < count; ++i) {
        out << (i ? ", " : "") << array[i].lComponentId << "#" << array[i].iInstance << "='";
        for (char c : array[i].strCodeLevel) out << (c == '\r' ? std::string("\\r") : std::string(1, c));
        out << "'";
    }
    out << " requests=" << rig.printer.requestCount() << " last=0x" << std::hex << std::uppercase
        << rig.printer.lastRequest().code << std::dec << " data=" << toHex(rig.printer.lastRequest().data) << " base='"
        << rig.obj.m_strCodeLevel << "'";
    return out.str();
}

}  // namespace

// The line rules, where the base level comes from, and code levels as numbers.
TEST(CodeLevels, LinesTheBaseLevelAndNumbers) {
    expectGolden(KVPO_SETUP_DIR "/codelevels.golden", levels);
    PrinterRig rig;
    int count = 0;
    EXPECT_EQ(rig.obj.bidiGetCodeLevels(count, nullptr), -18);
}
