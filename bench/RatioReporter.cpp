#include "RatioReporter.h"

#include <QApplication>

#include <utility>

RatioReporter::RatioReporter(std::vector<std::string> baselines, std::string note, Extra extra)
    : baselines(std::move(baselines)), note(std::move(note)), extra(std::move(extra))
{
}

void RatioReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
        if (r.error_occurred)
            continue;
        const bool mean = r.run_type == Run::RT_Aggregate && r.aggregate_name == "mean";
        if (r.run_type == Run::RT_Iteration || mean)
            times[r.run_name.function_name] = r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
    }
}

void RatioReporter::Finalize()
{
    ConsoleReporter::Finalize();
    std::ostream& out = GetOutputStream();
    for (const std::string& base : baselines) {
        const auto b = times.find(base);
        if (b == times.end() || b->second <= 0)
            continue;
        out << "\nTime as a multiple of " << base << (note.empty() ? "" : " ") << note << ":\n";
        for (const auto& [name, t] : times)
            out << "  " << name << ": " << t / b->second << "\n";
    }
    if (extra)
        extra(out, times);
}

int runBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter* reporter, const std::function<void()>& done)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks(reporter);
    benchmark::Shutdown();
    if (done)
        done();
    return 0;
}

int runBenchmarks(int argc, char** argv, std::vector<std::string> baselines)
{
    RatioReporter reporter(std::move(baselines));
    return runBenchmarks(argc, argv, &reporter);
}
