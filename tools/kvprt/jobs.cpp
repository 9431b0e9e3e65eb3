// Print jobs: list, delete, change priority (command jobs).
#include <iterator>
#include <memory>
#include <vector>

#include "arguments.h"
#include "command.h"
#include "records.h"

namespace kvprt {

namespace {

// Byte 0 of a job record: IPP's job-state less 2 (docs/realprinters.md).
const char* const kJobStates[] = {nullptr, "pending", "held", "processing", "stopped", "canceled", "aborted", "completed"};

}  // namespace

std::string jobStateWord(unsigned byte0) {
    if (byte0 < std::size(kJobStates) && kJobStates[byte0]) return kJobStates[byte0];
    return "state " + std::to_string(byte0);
}

// The fields are named by their place in the printer's job record; "state"
// says byte 0 in words.
json jobJson(const KVPrtObj::KVPJOBDATA& job) {
    return {{"number", job.jobNumber},
            {"name", utf8(job.strJobJN)},
            {"user", utf8(job.strJobUR)},
            {"state", jobStateWord(job.jobByte0)},
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

std::string jobLine(const KVPrtObj::KVPJOBDATA& job) {
    return "job " + std::to_string(job.jobNumber) + " " + jobStateWord(job.jobByte0) + ", priority " +
           std::to_string(job.jobByte4) + ", " + std::to_string(job.jobLong29) + " of " +
           std::to_string(job.jobLong25) + " pages printed";
}

namespace {

using JobList = std::vector<KVPrtObj::KVPJOBDATA>;

json jobListJson(const JobList& jobs) {
    json list = json::array();
    for (const KVPrtObj::KVPJOBDATA& job : jobs) list.push_back(jobJson(job));
    return list;
}

void renderJobs(const JobList& jobs, std::ostream& out) {
    if (jobs.empty()) {
        out << "  No jobs.\n";
        return;
    }
    Table t({"Job", "Name", "User", "State", "Priority", "Copies", "Size", "Pages", "Printed"});
    for (const KVPrtObj::KVPJOBDATA& job : jobs) {
        char size[kSizeToStringBuffer];
        SizeToString(static_cast<long>(job.jobLong21), size);
        t.add({std::to_string(job.jobNumber), utf8(job.strJobJN), utf8(job.strJobUR), jobStateWord(job.jobByte0),
               std::to_string(job.jobByte4), std::to_string(job.jobWord5), std::string(size) + " bytes",
               std::to_string(job.jobLong25), std::to_string(job.jobLong29)});
    }
    t.print(out);
}

Part gatherJobs(Printer& printer) {
    unsigned int count = 0;
    KVPrtObj::KVPJOBDATA* raw = nullptr;
    long rc = printer.obj().bidiQueryJobs(0, &count, &raw);
    std::unique_ptr<KVPrtObj::KVPJOBDATA[]> jobs(raw);
    check(rc, "bidiQueryJobs");
    return partOf(JobList(jobs.get(), jobs.get() + count), jobListJson, renderJobs);
}

}  // namespace

const Section kJobsSection = {"jobs", "Jobs", gatherJobs};

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
