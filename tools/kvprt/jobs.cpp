// Print jobs: list, delete, change priority (command jobs).
#include <memory>

#include "arguments.h"
#include "command.h"
#include "records.h"

namespace kvprt {

// The fields are named by their place in the printer's job record.
json jobJson(const KVPrtObj::KVPJOBDATA& job) {
    return {{"number", job.jobNumber},
            {"name", utf8(job.strJobJN)},
            {"user", utf8(job.strJobUR)},
            {"byte0", job.jobByte0},
            {"byte3", job.jobByte3},
            {"byte4", job.jobByte4},
            {"word5", job.jobWord5},
            {"word7", job.jobWord7},
            {"bytes9", hexBytes(job.jobBytes9, 4)},
            {"byte13", job.jobByte13},
            {"long17", job.jobLong17},
            {"long21", job.jobLong21},
            {"long25", job.jobLong25},
            {"long29", job.jobLong29},
            {"long33", job.jobLong33},
            {"long37", job.jobLong37}};
}

namespace {

json gatherJobs(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::KVPJOBDATA* raw = nullptr;
    long rc = printer.obj().bidiQueryJobs(0, &count, &raw);
    std::unique_ptr<KVPrtObj::KVPJOBDATA[]> jobs(raw);
    check(rc, "bidiQueryJobs");
    json list = json::array();
    for (unsigned i = 0; i < count; ++i) list.push_back(jobJson(jobs[i]));
    return list;
}

void renderJobs(const json& j, std::ostream& out) {
    if (j.empty()) {
        out << "  No jobs.\n";
        return;
    }
    printColumns(out, j, {{"Job", "number"}, {"Name", "name"}, {"User", "user"}, {"Byte 0", "byte0"},
                          {"Byte 3", "byte3"}, {"Byte 4", "byte4"}, {"Word 5", "word5"}, {"Word 7", "word7"},
                          {"Long 17", "long17"}, {"Long 21", "long21"}});
}

}  // namespace

const Section kJobsSection = {"jobs", "Jobs", gatherJobs, renderJobs};

void addJobsCommands(CLI::App& app, Context& ctx) {
    CLI::App* jobs = app.add_subcommand("jobs", "Print jobs (list when no action is given)");
    jobs->callback([&ctx, jobs] {
        if (jobs->get_subcommands().empty()) ctx.action = [&ctx] { return runSections(ctx, {&kJobsSection}, false); };
    });
    jobs->add_subcommand("list", "List the jobs")->callback([&ctx] {
        ctx.action = [&ctx] { return runSections(ctx, {&kJobsSection}, false); };
    });

    static unsigned number = 0, priority = 0;
    static int flag = 0;
    CLI::App* del = jobs->add_subcommand("delete", "Delete a job");
    del->add_option("job", number, "Job number")->required()->transform(kNumber)->check(CLI::Range(1, 65535));
    del->add_option("--flag", flag, "The delete flag: 0 sends request 0x76, any other 0x77 (default 0)")
        ->transform(kNumber);
    del->callback([&ctx] {
        ctx.action = [&ctx] {
            check(ctx.printer().obj().bidiDeleteJob(static_cast<unsigned short>(number), flag), "bidiDeleteJob");
            ctx.emit({{"deleted", number}}, [](const json& j, std::ostream& out) {
                out << "Job " << cell(j["deleted"]) << " deleted.\n";
            });
            return kExitOk;
        };
    });

    CLI::App* prio = jobs->add_subcommand("priority", "Change a job's priority");
    prio->add_option("job", number, "Job number")->required()->transform(kNumber)->check(CLI::Range(1, 65535));
    prio->add_option("priority", priority, "New priority (0-255)")
        ->required()
        ->transform(kNumber)
        ->check(CLI::Range(0, 255));
    prio->callback([&ctx] {
        ctx.action = [&ctx] {
            unsigned char answer = 0;
            check(ctx.printer().obj().bidiChangeJobPriority(static_cast<unsigned char>(priority),
                                                            static_cast<unsigned short>(number), &answer),
                  "bidiChangeJobPriority");
            if (answer != 0)
                throw Failure("bidiChangeJobPriority", 0,
                              "the printer answered " + std::to_string(answer) + " for job " + std::to_string(number));
            ctx.emit({{"job", number}, {"priority", priority}, {"answer", answer}}, [](const json& j, std::ostream& out) {
                out << "Job " << cell(j["job"]) << ": priority " << cell(j["priority"]) << ".\n";
            });
            return kExitOk;
        };
    });
}

}  // namespace kvprt
