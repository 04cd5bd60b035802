// Google Benchmark's console report, plus each benchmark's time per iteration
// kept for ratios against a baseline measured in the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace halvorn::bench {

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Plain text: the figures are read from logs and copied into documents.
  RatioReporter() : ConsoleReporter(OO_Tabular) {}

  // Runs the benchmarks the command line names, reported through this; false
  // on an argument Google Benchmark does not know.
  bool RunBenchmarks(int* argc, char** argv) {
    benchmark::Initialize(argc, argv);
    if (benchmark::ReportUnrecognizedArguments(*argc, argv)) return false;
    benchmark::RunSpecifiedBenchmarks(this);
    std::printf("\n");
    return true;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
        // Process CPU time where that is what the benchmark measures (all its threads).
        const bool process_cpu = run.benchmark_name().find("/process_time") != std::string::npos;
        seconds_per_iteration_[run.benchmark_name()] =
            (process_cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime()) / 1e9;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // "what: measured takes N x the time of baseline".
  void Ratio(const char* what, const std::string& measured, const std::string& baseline) const {
    const double m = SecondsPerIteration(measured);
    const double b = SecondsPerIteration(baseline);
    if (m <= 0 || b <= 0) return;
    std::printf("%-52s %6.2f x the time of %s\n", what, m / b, baseline.c_str());
  }
  // 0 when the benchmark did not run.
  double SecondsPerIteration(const std::string& name) const {
    const auto found = seconds_per_iteration_.find(name);
    return found == seconds_per_iteration_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> seconds_per_iteration_;
};

}  // namespace halvorn::bench
