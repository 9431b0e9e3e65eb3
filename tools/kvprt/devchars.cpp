// What the printer is built of: input and output bins, form names, storage,
// interpreters, fonts and symbol sets.
#include <iterator>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "arguments.h"
#include "command.h"
#include "texts.h"

namespace kvprt {
namespace {

// Arrays the library hands over with new[].
template <typename T>
using Owned = std::unique_ptr<T[]>;

// The `count` records that `operation` handed over with new[] (released
// whatever its result `rc`); throws the failure.
template <typename T>
std::vector<T> taken(long rc, const char* operation, T* raw, unsigned count) {
    Owned<T> owned(raw);
    check(rc, operation);
    return raw ? std::vector<T>(owned.get(), owned.get() + count) : std::vector<T>();
}

using InputBins = std::vector<KVPrtObj::INPUTBIN>;

json inputBinsJson(const InputBins& bins) {
    json list = json::array();
    for (const KVPrtObj::INPUTBIN& b : bins)
        list.push_back({{"number", b.usBinNumber},
                        {"id", b.usBinId},
                        {"text", inputBinText(b.usBinId)},
                        {"name", utf8(b.strName)},
                        {"capacity", b.ulCapacity},
                        {"sizeCode", b.usSizeCode}});
    return list;
}

void renderInputBins(const InputBins& bins, std::ostream& out) {
    Table t({"Bin", "Id", "Kind", "Name", "Capacity", "Size code"});
    for (const KVPrtObj::INPUTBIN& b : bins)
        t.add({std::to_string(b.usBinNumber), std::to_string(b.usBinId), inputBinText(b.usBinId), utf8(b.strName),
               std::to_string(b.ulCapacity), std::to_string(b.usSizeCode)});
    t.print(out);
}

Part gatherInputBins(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::INPUTBIN* raw = nullptr;
    long rc = printer.obj().bidiGetInputChars(&count, &raw);
    return partOf(taken(rc, "bidiGetInputChars", raw, count), inputBinsJson, renderInputBins);
}

// Custom names (forms, output-bin nicknames) by number.
using Names = std::vector<std::pair<unsigned, std::string>>;

// An empty list when the printer keeps none or, unless `mustAnswer`, does not answer.
Names customNames(long (KVPrtObj::*read)(_CUSTOMNAME**, unsigned short*), KVPrtObj& obj, const char* operation,
                  bool mustAnswer) {
    _CUSTOMNAME* raw = nullptr;
    unsigned short count = 0;
    long rc = (obj.*read)(&raw, &count);
    Owned<_CUSTOMNAME> names(raw);   // untouched (null) when the printer keeps none
    if (rc != 0) {
        if (mustAnswer) throw Failure(operation, rc);
        return {};
    }
    Names list;
    for (unsigned i = 0; raw && i < count; ++i) list.emplace_back(names[i].usNumber, utf8(names[i].strName));
    return list;
}

const std::string* nameOf(const Names& names, unsigned number) {
    for (const auto& [n, name] : names)
        if (n == number) return &name;
    return nullptr;
}

struct OutputBins {
    std::vector<KVPrtObj::OUTPUTBIN> bins;
    Names nicknames;
};

// What a bin does to the sheets it receives: record byte 7's bits 0-2 and 7.
std::vector<std::string> finishing(const KVPrtObj::OUTPUTBIN& b) {
    const std::pair<uint32_t, const char*> kinds[] = {
        {b.ulByte7Bit0, "staple"}, {b.ulByte7Bit1, "punch"}, {b.ulByte7Bit2, "fold"}, {b.ulByte7Bit7, "offset-stack"}};
    std::vector<std::string> names;
    for (const auto& [set, name] : kinds)
        if (set) names.push_back(name);
    return names;
}

json outputBinsJson(const OutputBins& o) {
    json list = json::array();
    for (const KVPrtObj::OUTPUTBIN& b : o.bins) {
        const std::string* nickname = nameOf(o.nicknames, b.usBinNumber);
        list.push_back({{"number", b.usBinNumber},
                        {"id", b.usBinId},
                        {"text", outputBinText(b.usBinId)},
                        {"name", utf8(b.strName)},
                        {"capacity", b.ulCapacity},
                        {"finishing", finishing(b)},
                        {"nickname", nickname ? json(*nickname) : json(nullptr)}});
    }
    return list;
}

void renderOutputBins(const OutputBins& o, std::ostream& out) {
    Table t({"Bin", "Id", "Kind", "Name", "Capacity", "Finishing", "Nickname"});
    for (const KVPrtObj::OUTPUTBIN& b : o.bins) {
        const std::string* nickname = nameOf(o.nicknames, b.usBinNumber);
        const std::string done = joined(finishing(b));
        t.add({std::to_string(b.usBinNumber), std::to_string(b.usBinId), outputBinText(b.usBinId), utf8(b.strName),
               std::to_string(b.ulCapacity), done.empty() ? "-" : done, nickname ? *nickname : "-"});
    }
    t.print(out);
}

Part gatherOutputBins(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::OUTPUTBIN* raw = nullptr;
    long rc = printer.obj().bidiGetOutputChars(&count, &raw);
    OutputBins o{taken(rc, "bidiGetOutputChars", raw, count), {}};
    o.nicknames = customNames(&KVPrtObj::bidiGetOutputBinNicknames, printer.obj(), "bidiGetOutputBinNicknames", false);
    return partOf(std::move(o), outputBinsJson, renderOutputBins);
}

json namesJson(const Names& names) {
    json list = json::array();
    for (const auto& [number, name] : names) list.push_back({{"number", number}, {"name", name}});
    return list;
}

void renderFormNames(const Names& names, std::ostream& out) {
    Table t({"Form", "Name"});
    for (const auto& [number, name] : names) t.add({std::to_string(number), name});
    t.print(out);
}

Part gatherFormNames(Printer& printer) {
    return partOf(customNames(&KVPrtObj::bidiGetFormNames, printer.obj(), "bidiGetFormNames", true), namesJson,
                  renderFormNames);
}

// The cartridge id is a number in the printer's text; none when it is not.
std::optional<unsigned long> cartridgeId(const KVPrtObj::STORAGEOPTIONS& so) {
    const std::string& id = so.strCartridgeField2;
    if (id.empty() || id.size() > 9 || id.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    return std::stoul(id);
}

json storageJson(const KVPrtObj::STORAGEOPTIONS& so) {
    std::optional<unsigned long> id = cartridgeId(so);
    return {{"flash", {{"size", so.lFlashField2}, {"free", so.lFlashField3}}},
            {"disk", {{"size", so.lDiskField2}, {"free", so.lDiskField3}}},
            {"fontCartridge",
             {{"present", so.ulFontCartridge != 0}, {"id", id ? json(*id) : json(nullptr)}, {"name", utf8(so.strCartridgeField4)}}}};
}

void renderStorage(const KVPrtObj::STORAGEOPTIONS& so, std::ostream& out) {
    Table t({"Device", "Size (KB)", "Free (KB)"});
    t.add({"Flash", std::to_string(so.lFlashField2), std::to_string(so.lFlashField3)});
    t.add({"Disk", std::to_string(so.lDiskField2), std::to_string(so.lDiskField3)});
    t.print(out);
    std::optional<unsigned long> id = cartridgeId(so);
    Fields f;
    f.add("Font cartridge", so.ulFontCartridge != 0 ? utf8(so.strCartridgeField4) + " (id " +
                                                          (id ? std::to_string(*id) : "-") + ")"
                                                    : "none");
    f.print(out);
}

Part gatherStorage(Printer& printer) {
    KVPrtObj::STORAGEOPTIONS so;
    check(printer.obj().bidiGetStorageOptions(&so), "bidiGetStorageOptions");
    return partOf(std::move(so), storageJson, renderStorage);
}

// The interpreters the library can look up, by number.
const char* const kInterpreterNames[] = {"PCL 5 Emulation", "GL 1 Emulation", "PostScript Emulation", "WinImage",
                                         "PPDS"};

struct Interpreter {
    unsigned char number = 0;
    long rc = 0;   // 0 installed, 1 marked unavailable, -2 not installed
    unsigned char lu = 0;
};
using Interpreters = std::vector<Interpreter>;

json interpretersJson(const Interpreters& list) {
    json j = json::array();
    for (const Interpreter& i : list)
        j.push_back({{"interpreter", i.number},
                     {"name", kInterpreterNames[i.number - 1]},
                     {"result", i.rc},
                     {"lu", i.rc == 0 ? json(i.lu) : json(nullptr)}});
    return j;
}

void renderInterpreters(const Interpreters& list, std::ostream& out) {
    Table t({"No.", "Interpreter", "Logical unit", "State"});
    for (const Interpreter& i : list)
        t.add({std::to_string(i.number), kInterpreterNames[i.number - 1], i.rc == 0 ? std::to_string(i.lu) : "-",
               i.rc == 0 ? "installed" : i.rc == 1 ? "marked unavailable" : "not installed"});
    t.print(out);
}

Part gatherInterpreters(Printer& printer) {
    Interpreters list;
    for (unsigned char n = 1; n <= std::size(kInterpreterNames); ++n) {
        Interpreter i{n};
        i.rc = printer.obj().bidiGetInterpreterLU(n, &i.lu);
        if (i.rc < 0 && i.rc != -2) throw Failure("bidiGetInterpreterLU", i.rc);
        list.push_back(i);
    }
    return partOf(std::move(list), interpretersJson, renderInterpreters);
}

// The usual text form of a binary symbol-set id: number and letter ("8U" for 277).
std::string symbolSetText(unsigned id) {
    unsigned letter = id % 32;
    if (letter == 0 || letter > 26) return std::to_string(id);
    return std::to_string(id / 32) + static_cast<char>('A' + letter - 1);
}

using SymbolSets = std::vector<_SYMBOLSET>;

json symbolSetsJson(const SymbolSets& sets) {
    json list = json::array();
    for (const _SYMBOLSET& s : sets)
        list.push_back({{"id", s.usSymbolSet},
                        {"idText", symbolSetText(s.usSymbolSet)},
                        {"name", utf8(s.strName)},
                        {"complement", hexBytes(s.abCharComplement, 8)}});
    return list;
}

void renderSymbolSets(const SymbolSets& sets, std::ostream& out) {
    Table t({"Id", "Text", "Name", "Character complement"});
    for (const _SYMBOLSET& s : sets)
        t.add({std::to_string(s.usSymbolSet), symbolSetText(s.usSymbolSet), utf8(s.strName),
               hexBytes(s.abCharComplement, 8)});
    t.print(out);
}

Part gatherSymbolSets(Printer& printer) {
    unsigned short count = 0;
    _SYMBOLSET* raw = nullptr;
    long rc = printer.obj().bidiGetSymbolSetList(&count, &raw);
    return partOf(taken(rc, "bidiGetSymbolSetList", raw, count), symbolSetsJson, renderSymbolSets);
}

// The parser keeps the blank that follows "name:".
std::string withoutLeadingBlanks(const std::string& s) {
    size_t first = s.find_first_not_of(' ');
    return first == std::string::npos ? "" : s.substr(first);
}

const char* const kTechnologies[] = {nullptr, "bitmap", "Intellifont", "TrueType"};

const char* technology(const _FONTDETAILS& f) { return f.byTechnology <= 3 ? kTechnologies[f.byTechnology] : nullptr; }

// The size's kind ("height" or "pitch"); none when the font gives no size.
const char* sizeKind(const _FONTDETAILS& f) {
    if (!(f.usValidFlags & (_FONTDETAILS::FONT_PITCH | _FONTDETAILS::FONT_HEIGHT))) return nullptr;
    return (f.usValidFlags & _FONTDETAILS::FONT_HEIGHT) ? "height" : "pitch";
}

bool hasSymbolSet(const _FONTDETAILS& f) { return (f.usValidFlags & _FONTDETAILS::FONT_SYMBOLSET) != 0; }

json fontJson(const _FONTDETAILS& f) {
    const char* kind = sizeKind(f);
    return {{"tag", f.byFontTag},
            {"name", utf8(withoutLeadingBlanks(f.strName))},
            {"position", f.usPosition},
            {"technology", technology(f) ? json(technology(f)) : json(nullptr)},
            {"scalable", (f.usValidFlags & _FONTDETAILS::FONT_SCALABLE) != 0},
            {"symbolSet", hasSymbolSet(f) ? json(f.usSymbolSet) : json(nullptr)},
            {"spacing", f.bySpacing},
            {"size", kind ? json{{kind, f.ulSize}} : json(nullptr)},
            {"style", f.lStyle},
            {"weight", f.lWeight},
            {"typeface", f.lTypeface},
            {"resolution", f.lResolution}};
}

struct Fonts {
    std::vector<_FONTDETAILS> list;
    _FONTDETAILS current;
};

json fontsJson(const Fonts& fonts) {
    json list = json::array();
    for (const _FONTDETAILS& f : fonts.list) list.push_back(fontJson(f));
    const _FONTDETAILS& c = fonts.current;
    return {{"list", list},
            {"current", {{"tag", c.byFontTag}, {"position", c.usPosition}, {"symbolSet", c.usSymbolSet}, {"size", c.ulSize}}}};
}

void renderFonts(const Fonts& fonts, std::ostream& out) {
    Table t({"Pos.", "Name", "Technology", "Symbol set", "Spacing", "Size", "Weight", "Typeface"});
    for (const _FONTDETAILS& f : fonts.list) {
        const char* kind = sizeKind(f);
        t.add({std::to_string(f.usPosition), utf8(withoutLeadingBlanks(f.strName)), technology(f) ? technology(f) : "-",
               hasSymbolSet(f) ? symbolSetText(f.usSymbolSet) : "-", f.bySpacing ? "proportional" : "fixed",
               kind ? std::to_string(f.ulSize) + " " + kind : "-", std::to_string(f.lWeight), std::to_string(f.lTypeface)});
    }
    t.print(out);
    const _FONTDETAILS& c = fonts.current;
    out << "  Current font: position " << c.usPosition << ", symbol set " << symbolSetText(c.usSymbolSet) << ", size "
        << c.ulSize << '\n';
}

Part gatherFonts(Printer& printer, unsigned char selector1, unsigned char selector2) {
    unsigned short count = 0;
    _FONTDETAILS* raw = nullptr;
    long rc = printer.obj().bidiGetFontDetails(selector1, selector2, &count, &raw);
    Fonts fonts{taken(rc, "bidiGetFontDetails", raw, count), {}};
    check(printer.obj().bidiGetCurrentFontInformation(&fonts.current), "bidiGetCurrentFontInformation");
    return partOf(std::move(fonts), fontsJson, renderFonts);
}

}  // namespace

const Section kInputBinsSection = {"inputBins", "Input bins", gatherInputBins};
const Section kOutputBinsSection = {"outputBins", "Output bins", gatherOutputBins};
const Section kFormNamesSection = {"formNames", "Form names", gatherFormNames};
const Section kStorageSection = {"storage", "Storage", gatherStorage};
const Section kInterpretersSection = {"interpreters", "Interpreters", gatherInterpreters};
const Section kSymbolSetsSection = {"symbolSets", "Symbol sets", gatherSymbolSets};

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
                      }};
            return runSections(ctx, {&s}, false);
        };
    });
}

}  // namespace kvprt
