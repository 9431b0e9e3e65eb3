// The report: everything kvprt can say about a printer, in one go.
#include "command.h"

namespace kvprt {

void addReportCommand(CLI::App& app, Context& ctx) {
    addSectionCommand(app, ctx, "report",
                      "One report of the printer: identity, characteristics, bins, storage, alerts, supplies, jobs",
                      {&kIdentitySection, &kDeviceCharsSection, &kCodeLevelsSection, &kInputBinsSection,
                       &kOutputBinsSection, &kStorageSection, &kInterpretersSection, &kDeviceStatusSection,
                       &kAlertsSection, &kPanelSection, &kTonerSection, &kPageCountsSection, &kJobsSection});
}

}  // namespace kvprt
