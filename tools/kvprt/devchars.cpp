// What the printer is built of: input and output bins, form names, storage,
// interpreters, fonts and symbol sets.
#include <memory>

#include "arguments.h"
#include "command.h"
#include "texts.h"

namespace kvprt {
namespace {

// Arrays the library hands over with new[].
template <typename T>
using Owned = std::unique_ptr<T[]>;

json gatherInputBins(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::INPUTBIN* raw = nullptr;
    check(printer.obj().bidiGetInputChars(&count, &raw), "bidiGetInputChars");
    Owned<KVPrtObj::INPUTBIN> bins(raw);
    json list = json::array();
    for (unsigned i = 0; i < count; ++i)
        list.push_back({{"number", bins[i].usBinNumber},
                        {"id", bins[i].usBinId},
                        {"text", inputBinText(bins[i].usBinId)},
                        {"name", utf8(bins[i].strName)},
                        {"capacity", bins[i].ulCapacity},
                        {"sizeCode", bins[i].usSizeCode}});
    return list;
}

void renderInputBins(const json& j, std::ostream& out) {
    printColumns(out, j, {{"Bin", "number"}, {"Id", "id"}, {"Kind", "text"}, {"Name", "name"},
                          {"Capacity", "capacity"}, {"Size code", "sizeCode"}});
}

// Custom names (forms, output-bin nicknames) by number; an empty list when
// the printer keeps none or does not answer.
json customNames(long (KVPrtObj::*read)(_CUSTOMNAME**, unsigned short*), KVPrtObj& obj, const char* operation,
                 bool mustAnswer) {
    _CUSTOMNAME* raw = nullptr;
    unsigned short count = 0;
    long rc = (obj.*read)(&raw, &count);
    if (rc != 0) {
        if (mustAnswer) throw Failure(operation, rc);
        return json::array();
    }
    Owned<_CUSTOMNAME> names(raw);   // untouched (null) when the printer keeps none
    json list = json::array();
    for (unsigned i = 0; i < count; ++i) list.push_back({{"number", names[i].usNumber}, {"name", utf8(names[i].strName)}});
    return list;
}

json gatherOutputBins(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::OUTPUTBIN* raw = nullptr;
    check(printer.obj().bidiGetOutputChars(&count, &raw), "bidiGetOutputChars");
    Owned<KVPrtObj::OUTPUTBIN> bins(raw);
    json nicknames = customNames(&KVPrtObj::bidiGetOutputBinNicknames, printer.obj(), "bidiGetOutputBinNicknames", false);
    json list = json::array();
    for (unsigned i = 0; i < count; ++i) {
        json nickname = nullptr;
        for (const json& n : nicknames)
            if (n["number"] == bins[i].usBinNumber) nickname = n["name"];
        list.push_back({{"number", bins[i].usBinNumber},
                        {"id", bins[i].usBinId},
                        {"text", outputBinText(bins[i].usBinId)},
                        {"name", utf8(bins[i].strName)},
                        {"capacity", bins[i].ulCapacity},
                        {"nickname", nickname}});
    }
    return list;
}

void renderOutputBins(const json& j, std::ostream& out) {
    printColumns(out, j, {{"Bin", "number"}, {"Id", "id"}, {"Kind", "text"}, {"Name", "name"},
                          {"Capacity", "capacity"}, {"Nickname", "nickname"}});
}

json gatherFormNames(Printer& printer) {
    return customNames(&KVPrtObj::bidiGetFormNames, printer.obj(), "bidiGetFormNames", true);
}

void renderFormNames(const json& j, std::ostream& out) {
    printColumns(out, j, {{"Form", "number"}, {"Name", "name"}});
}

json gatherStorage(Printer& printer) {
    KVPrtObj::STORAGEOPTIONS so;
    check(printer.obj().bidiGetStorageOptions(&so), "bidiGetStorageOptions");
    // The cartridge id is a number in the printer's text; null when it is none.
    const std::string& id = so.strCartridgeField2;
    json cartridgeId = nullptr;
    if (!id.empty() && id.size() <= 9 && id.find_first_not_of("0123456789") == std::string::npos)
        cartridgeId = std::stoul(id);
    return {{"flash", {{"size", so.lFlashField2}, {"free", so.lFlashField3}}},
            {"disk", {{"size", so.lDiskField2}, {"free", so.lDiskField3}}},
            {"fontCartridge",
             {{"present", so.ulFontCartridge != 0}, {"id", cartridgeId}, {"name", utf8(so.strCartridgeField4)}}}};
}

void renderStorage(const json& j, std::ostream& out) {
    Table t({"Device", "Size (KB)", "Free (KB)"});
    t.add({"Flash", cell(j["flash"]["size"]), cell(j["flash"]["free"])});
    t.add({"Disk", cell(j["disk"]["size"]), cell(j["disk"]["free"])});
    t.print(out);
    const json& c = j["fontCartridge"];
    Fields f;
    f.add("Font cartridge", c["present"].get<bool>() ? cell(c["name"]) + " (id " + cell(c["id"]) + ")" : "none");
    f.print(out);
}

// The interpreters the library can look up, by number.
const char* const kInterpreterNames[] = {"PCL 5 Emulation", "GL 1 Emulation", "PostScript Emulation", "WinImage",
                                         "PPDS"};

json gatherInterpreters(Printer& printer) {
    json list = json::array();
    for (unsigned char n = 1; n <= 5; ++n) {
        unsigned char lu = 0;
        long rc = printer.obj().bidiGetInterpreterLU(n, &lu);
        if (rc < 0 && rc != -2) throw Failure("bidiGetInterpreterLU", rc);
        list.push_back({{"interpreter", n},
                        {"name", kInterpreterNames[n - 1]},
                        {"result", rc},
                        {"lu", rc == 0 ? json(lu) : json(nullptr)}});
    }
    return list;
}

void renderInterpreters(const json& j, std::ostream& out) {
    Table t({"No.", "Interpreter", "Logical unit", "State"});
    for (const json& i : j) {
        long rc = i["result"].get<long>();
        t.add({cell(i["interpreter"]), cell(i["name"]), cell(i["lu"]),
               rc == 0 ? "installed" : rc == 1 ? "marked unavailable" : "not installed"});
    }
    t.print(out);
}

// The usual text form of a binary symbol-set id: number and letter ("8U" for 277).
std::string symbolSetText(unsigned id) {
    unsigned letter = id % 32;
    if (letter == 0 || letter > 26) return std::to_string(id);
    return std::to_string(id / 32) + static_cast<char>('A' + letter - 1);
}

json gatherSymbolSets(Printer& printer) {
    unsigned short count = 0;
    _SYMBOLSET* raw = nullptr;
    check(printer.obj().bidiGetSymbolSetList(&count, &raw), "bidiGetSymbolSetList");
    Owned<_SYMBOLSET> sets(raw);
    json list = json::array();
    for (unsigned i = 0; i < count; ++i)
        list.push_back({{"id", sets[i].usSymbolSet},
                        {"idText", symbolSetText(sets[i].usSymbolSet)},
                        {"name", utf8(sets[i].strName)},
                        {"complement", hexBytes(sets[i].abCharComplement, 8)}});
    return list;
}

void renderSymbolSets(const json& j, std::ostream& out) {
    printColumns(out, j, {{"Id", "id"}, {"Text", "idText"}, {"Name", "name"}, {"Character complement", "complement"}});
}

// The parser keeps the blank that follows "name:".
std::string withoutLeadingBlanks(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first);
}

const char* const kTechnologies[] = {nullptr, "bitmap", "Intellifont", "TrueType"};

json fontJson(const _FONTDETAILS& f) {
    json size = nullptr;
    if (f.usValidFlags & (_FONTDETAILS::FONT_PITCH | _FONTDETAILS::FONT_HEIGHT))
        size = {{(f.usValidFlags & _FONTDETAILS::FONT_HEIGHT) ? "height" : "pitch", f.ulSize}};
    return {{"tag", f.byFontTag},
            {"name", utf8(withoutLeadingBlanks(f.strName))},
            {"position", f.usPosition},
            {"technology", f.byTechnology <= 3 && kTechnologies[f.byTechnology] ? json(kTechnologies[f.byTechnology])
                                                                                : json(nullptr)},
            {"scalable", (f.usValidFlags & _FONTDETAILS::FONT_SCALABLE) != 0},
            {"symbolSet", (f.usValidFlags & _FONTDETAILS::FONT_SYMBOLSET) ? json(f.usSymbolSet) : json(nullptr)},
            {"spacing", f.bySpacing},
            {"size", size},
            {"style", f.lStyle},
            {"weight", f.lWeight},
            {"typeface", f.lTypeface},
            {"resolution", f.lResolution}};
}

json gatherFonts(Printer& printer, unsigned char selector1, unsigned char selector2) {
    unsigned short count = 0;
    _FONTDETAILS* raw = nullptr;
    long rc = printer.obj().bidiGetFontDetails(selector1, selector2, &count, &raw);
    Owned<_FONTDETAILS> fonts(raw);
    check(rc, "bidiGetFontDetails");
    json list = json::array();
    for (unsigned i = 0; i < count; ++i) list.push_back(fontJson(fonts[i]));

    _FONTDETAILS current;
    check(printer.obj().bidiGetCurrentFontInformation(&current), "bidiGetCurrentFontInformation");
    return {{"list", list},
            {"current",
             {{"tag", current.byFontTag},
              {"position", current.usPosition},
              {"symbolSet", current.usSymbolSet},
              {"size", current.ulSize}}}};
}

void renderFonts(const json& j, std::ostream& out) {
    Table t({"Pos.", "Name", "Technology", "Symbol set", "Spacing", "Size", "Weight", "Typeface"});
    for (const json& f : j["list"]) {
        std::string size = "-";
        if (!f["size"].is_null()) size = cell(f["size"].begin().value()) + " " + f["size"].begin().key();
        std::string symbolSet = f["symbolSet"].is_null() ? "-" : symbolSetText(f["symbolSet"].get<unsigned>());
        t.add({cell(f["position"]), cell(f["name"]), cell(f["technology"]), symbolSet,
               f["spacing"].get<int>() ? "proportional" : "fixed", size, cell(f["weight"]), cell(f["typeface"])});
    }
    t.print(out);
    const json& c = j["current"];
    out << "  Current font: position " << cell(c["position"]) << ", symbol set "
        << symbolSetText(c["symbolSet"].get<unsigned>()) << ", size " << cell(c["size"]) << '\n';
}

}  // namespace

const Section kInputBinsSection = {"inputBins", "Input bins", gatherInputBins, renderInputBins};
const Section kOutputBinsSection = {"outputBins", "Output bins", gatherOutputBins, renderOutputBins};
const Section kFormNamesSection = {"formNames", "Form names", gatherFormNames, renderFormNames};
const Section kStorageSection = {"storage", "Storage", gatherStorage, renderStorage};
const Section kInterpretersSection = {"interpreters", "Interpreters", gatherInterpreters, renderInterpreters};
const Section kSymbolSetsSection = {"symbolSets", "Symbol sets", gatherSymbolSets, renderSymbolSets};

void addDevcharsCommands(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "bins", "Input bins, output bins and form names",
                      {&kInputBinsSection, &kOutputBinsSection, &kFormNamesSection});
    addSectionCommand(app, ctx, "storage", "Flash, disk and font cartridge", {&kStorageSection});
    addSectionCommand(app, ctx, "interpreters", "Page-description interpreters", {&kInterpretersSection});
    addSectionCommand(app, ctx, "symbolsets", "Symbol sets", {&kSymbolSetsSection});

    static unsigned selector1 = 0, selector2 = 0;
    CLI::App* fonts = app.add_subcommand("fonts", "Fonts (of the selectors given) and the current font");
    fonts->add_option("selector1", selector1, "First font selector (0-255)")
        ->transform(kNumber)
        ->check(CLI::Range(0, 255));
    fonts->add_option("selector2", selector2, "Second font selector (0-255)")
        ->transform(kNumber)
        ->check(CLI::Range(0, 255));
    fonts->callback([&ctx] {
        ctx.action = [&ctx] {
            Section s{"fonts", "Fonts",
                      [](Printer& p) {
                          return gatherFonts(p, static_cast<unsigned char>(selector1),
                                             static_cast<unsigned char>(selector2));
                      },
                      renderFonts};
            return runSections(ctx, {&s}, false);
        };
    });
}

}  // namespace kvprt
