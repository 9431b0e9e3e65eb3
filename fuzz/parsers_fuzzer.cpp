// The decoding steps a host may call on texts and data of its own: the font
// description, job-information texts, the panel text translation, toner data,
// the directory text and device-management alert data. The first byte selects
// the step; the rest is its input.
#include <cstring>
#include <iterator>
#include <vector>

#include "kvprtobj/kvprtobj.h"

namespace {

struct Toner : KvTonerPrediction {
    Toner() : KvTonerPrediction(nullptr) {}
    using KvTonerPrediction::parseTonerData;
};

using Step = void (*)(const uint8_t* data, size_t size);

const Step kSteps[] = {
    [](const uint8_t* data, size_t size) {
        // Parsed in place: a copy of exactly the input's length.
        const auto length = static_cast<unsigned short>(size > 0xFFFF ? 0xFFFF : size);
        std::vector<uint8_t> text(data, data + length);
        _FONTDETAILS details;
        KVPrtObj printer;
        printer.parseFontDescription(text.data(), length, &details);
    },
    [](const uint8_t* data, size_t size) {
        std::vector<char> text(data, data + size);
        JOBINFOSTRINGS info;
        info.parseJobInfo(static_cast<unsigned char>(size > 255 ? 255 : size), text.data());
    },
    [](const uint8_t* data, size_t size) {
        if (size == 0) return;
        CString text(reinterpret_cast<const char*>(data + 1), size - 1);
        TranslateOpPanelData(&text, static_cast<int>(static_cast<int8_t>(data[0])) * 4);
    },
    [](const uint8_t* data, size_t size) {
        std::vector<uint8_t> bytes(data, data + size);
        Toner toner;
        KvTonerPrediction::TonerInfoArray info;
        toner.parseTonerData(bytes.data(), bytes.size(), info);
    },
    [](const uint8_t* data, size_t size) {
        KVPrtObj::DEVICEDIRECTORYDATA directory;
        parseResMgmtDirectoryData(CString(reinterpret_cast<const char*>(data), size), &directory);
    },
    [](const uint8_t* data, size_t size) {
        std::vector<uint8_t> bytes(data, data + size);
        KVPrtObj::DEVICEMGMTALERTDATA alert;
        parseResMgmtAlertData(bytes.data(), static_cast<long>(bytes.size()), &alert);
    },
    [](const uint8_t* data, size_t size) { StrCodeLevelToLong(CString(reinterpret_cast<const char*>(data), size)); },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    kSteps[data[0] % std::size(kSteps)](data + 1, size - 1);
    return 0;
}
