// The report: everything kvprt can say about a printer, in one go.
#include "command.h"

namespace kvprt {

const std::vector<const Section*>& reportSections() {
    static const std::vector<const Section*> sections = {
        &kIdentitySection,     &kDeviceCharsSection, &kCodeLevelsSection,   &kInputBinsSection, &kOutputBinsSection,
        &kStorageSection,      &kInterpretersSection, &kDeviceStatusSection, &kAlertsSection,    &kPanelSection,
        &kTonerSection,        &kPageCountsSection,  &kJobsSection};
    return sections;
}

void addReportCommand(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "report",
                      "One report of the printer: identity, characteristics, bins, storage, alerts, supplies, jobs",
                      reportSections());
}

}  // namespace kvprt
