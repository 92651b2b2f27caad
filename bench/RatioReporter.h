#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// The usual console table, then each result as a multiple of every baseline that ran. A result
// is a single run's real time, or the mean when there are repetitions.
class RatioReporter : public benchmark::ConsoleReporter
{
public:
    using Times = std::map<std::string, double>; // function name -> seconds
    using Extra = std::function<void(std::ostream&, const Times&)>;

    // `note` follows each baseline's name in its heading; `extra` prints after the ratios.
    explicit RatioReporter(std::vector<std::string> baselines, std::string note = {}, Extra extra = {});

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

private:
    std::vector<std::string> baselines;
    std::string note;
    Extra extra;
    Times times;
};

// Runs the benchmarks named on the command line in a QApplication (offscreen unless
// QT_QPA_PLATFORM says otherwise) with `reporter` (null: the default one). `done` runs after
// the benchmarks while the application still exists. Returns main's exit code.
int runBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter* reporter,
                  const std::function<void()>& done = {});

// The same with a RatioReporter against `baselines`.
int runBenchmarks(int argc, char** argv, std::vector<std::string> baselines);
