// A main for Google Benchmark programs that, after the usual table, prints one line per measure:
//   RATIO <measure> <our time / the baseline's time>
// (or, for a measure without a baseline, our time in milliseconds) from the median of the
// repetitions when the run repeats, else from the single run. Lower is better. bench/run.sh
// collects these lines.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct Ratio {
  const char* measure;
  const char* ours;      // benchmark names, as registered
  const char* baseline;  // null: the measure is our own time in milliseconds
};

// The console table as usual, and each benchmark's time per iteration in seconds on the side.
class TimeCollector : public benchmark::ConsoleReporter {
 public:
  // Without colour codes, so that each RATIO line printed after the table starts its line.
  TimeCollector() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred)
        continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median)
        continue;
      const std::string name = run.run_name.function_name;
      const double seconds =
          run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
      // A median replaces the single runs of its benchmark once it arrives.
      if (median || !medians_.count(name))
        seconds_[name] = seconds;
      if (median)
        medians_[name] = true;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Seconds per iteration, or a negative value when the benchmark did not run.
  double seconds(const std::string& name) const {
    const auto it = seconds_.find(name);
    return it == seconds_.end() ? -1 : it->second;
  }

 private:
  std::map<std::string, double> seconds_;
  std::map<std::string, bool> medians_;
};

inline int ratio_main(int argc, char** argv, const std::vector<Ratio>& ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  TimeCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  for (const Ratio& r : ratios) {
    const double ours = collector.seconds(r.ours);
    const double base = r.baseline ? collector.seconds(r.baseline) : 1e-3;
    if (ours > 0 && base > 0)
      std::printf("RATIO %s %.2f\n", r.measure, ours / base);
  }
  std::fflush(stdout);
  return 0;
}

}  // namespace bench
