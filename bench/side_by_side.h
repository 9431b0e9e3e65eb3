// Benchmarks measured side by side in one run: every benchmark of a pair is
// registered as "<pair>/subject" and "<pair>/baseline", and at the end a table
// gives each pair's median times and their ratio (subject / baseline).
// Run with --benchmark_repetitions=N (bench/run uses 15, in random order) to get medians.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kvbench {

// Collects the median (or the single run) of every benchmark while printing as usual.
class PairReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
            const std::string name = run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
            double ns = run.GetAdjustedRealTime();   // in the benchmark's time unit
            ns *= run.time_unit == benchmark::kMicrosecond ? 1e3 : run.time_unit == benchmark::kMillisecond ? 1e6 : 1.0;
            if (run.run_type == Run::RT_Aggregate || !m_times.count(name)) m_times[name] = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // "pair  subject  baseline  difference  ratio" for every pair that ran both halves.
    void printRatios(const char* subjectLabel, const char* baselineLabel) const {
        std::printf("\n%-40s %14s %14s %14s %8s\n", "pair", subjectLabel, baselineLabel, "difference", "ratio");
        for (const auto& [name, ns] : m_times) {
            const std::string suffix = "/subject";
            if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix)) continue;
            const std::string pair = name.substr(0, name.size() - suffix.size());
            auto base = m_times.find(pair + "/baseline");
            if (base == m_times.end()) continue;
            std::printf("%-40s %11.0f ns %11.0f ns %11.0f ns %7.2fx\n", pair.c_str(), ns, base->second,
                        ns - base->second, ns / base->second);
        }
    }

    double medianNs(const std::string& name) const {
        auto it = m_times.find(name);
        return it == m_times.end() ? 0.0 : it->second;
    }

private:
    std::map<std::string, double> m_times;
};

// Runs the registered benchmarks with the pair table at the end.
inline int runPairs(int argc, char** argv, const char* subjectLabel, const char* baselineLabel) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    PairReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios(subjectLabel, baselineLabel);
    benchmark::Shutdown();
    return 0;
}

}  // namespace kvbench
