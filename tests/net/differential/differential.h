// The differential test's parts. The generator writes a simulated printer's
// profile as the standard protocols would tell it, the inverse of the
// backend's two fills: every field a standard object carries where the fill
// reads it; what no object can express is left out (docs/realprinters.md,
// "What no standard carries"). The comparison lists what the library decodes
// from two printers and checks the fields that differ against a golden file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "command.h"
#include "ipp/attributes.h"
#include "profile.h"

namespace difftest {

// ---- the generator ----

// The profile as an snmpsim recording (OID|TAG|VALUE, sorted by OID): the
// system group, the interface and address tables, the Host Resources MIB and
// the Printer MIB. `address` is the printer's address as the host reaches it.
std::string snmprecOf(const kvsim::Profile& profile, const std::string& address);
std::string addressOf(const kvsim::Profile& profile);   // its network address record's

// An IPP attribute: its syntax as an ippeveprinter file names it ("text",
// "keyword", "octetString", "collection", ...) and its values as that file
// writes them (a collection as "member=value;member=value;").
struct IppAttribute {
    std::string syntax, name;
    std::vector<std::string> values;
};
using IppGroup = std::vector<IppAttribute>;
// The printer's attributes (state and reasons, make and model, firmware
// components, resolution, duplex, life count, trays, media, supplies), its
// jobs as Get-Jobs groups, the former as an ippeveprinter -a file, and a
// group as the backend's codec decodes it from a response.
IppGroup ippPrinterOf(const kvsim::Profile& profile);
std::vector<IppGroup> ippJobsOf(const kvsim::Profile& profile);
std::string ippeveprinterFile(const IppGroup& printer);
kvnet::ipp::Attributes decoded(const IppGroup& group);

// What both standards share (rows.cpp): the Printer MIB's types, levels and
// PrtSubUnitStatusTC of the trays and supplies, which SNMP carries in its
// tables and IPP in printer-input-tray, printer-output-tray and printer-supply.
struct PaperSize {
    uint8_t code;                   // PCL
    uint32_t shortEdge, longEdge;   // micrometres
    const char* pwg;
};
const PaperSize* paperSize(uint8_t code);
struct InputRow {
    uint8_t number = 0;    // the library's bin number
    kvsim::InputBin bin;   // the characteristics (number 0 when the profile has none)
    int64_t level = 0, status = 0;
};
struct OutputRow {
    uint8_t number = 0;
    kvsim::OutputBin bin;
    int64_t type = 0, remaining = 0, status = 0;
    bool faceUp = false;
};
struct SupplyRow {
    uint8_t index = 0;
    int64_t supplyClass = 0, type = 0, unit = 0, max = 0, level = 0;
};
// Every bin with characteristics or a status record, in bin order; a supply
// per supplies-status record and toner record.
std::vector<InputRow> inputRows(const kvsim::Profile& p);
std::vector<OutputRow> outputRows(const kvsim::Profile& p);
std::vector<SupplyRow> supplyRows(const kvsim::Profile& p);
std::optional<uint32_t> pageCount(const kvsim::Profile& p, uint8_t type);
// The built-in printer's alert records as each standard tells them: a row of
// prtAlertTable and a printer-state-reasons keyword (none where no keyword
// gives the record). A record no entry gives shows in the comparison.
struct AlertCarrier {
    int64_t severity, group, groupIndex, code;
    const char *description, *reason;
};
extern const std::vector<AlertCarrier> kAlertCarriers;
// The items of a profile's text "KEY=value;KEY=value;", `separator` between key and value.
std::vector<std::pair<std::string, std::string>> itemsOf(const std::string& text, char separator);

// ---- the comparison (compare.cpp) ----

using kvprt::json;
// Every read of the library on `printer`: kvprt's report sections (kvprt
// --json report) with form names and symbol sets, and the reads the report
// leaves out (ports, fonts, the current font, bin bytes). A read the printer
// refuses holds {"unavailable": code} (-3) or {"error": code}.
json libraryView(kvprt::Printer& printer);
// `view` with every text holding `from` given `to` in its place.
void replaceText(json& view, const std::string& from, const std::string& to);
// Checks the differences of the two views against the golden file at `path`:
// headings (why a field has no standard source) and lines "FIELD => sim
// VALUE, net VALUE", FIELD naming a value of the view ("toner[0].level") and
// what lies under it. A difference no line covers fails, listed at the end
// under a heading of its own, and so does a line whose field no longer
// differs; with KVTEST_UPDATE_GOLDEN=1 the file is written as found.
void expectDifferences(const json& sim, const json& net, const std::string& path);

}  // namespace difftest
