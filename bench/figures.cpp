#include "figures.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>

#include <benchmark/benchmark.h>

namespace vorn_io_bench {
namespace {

struct Result {
  double real_ns = 0.0;
  std::map<std::string, double> counters;
};

// Keeps the median of repeated runs (or the single run) per benchmark.
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.error_occurred || !(single || median)) {
        continue;
      }
      Result& result = results_[run.run_name.function_name];
      result.real_ns = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      for (const auto& [name, counter] : run.counters) {
        result.counters[name] = counter.value;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  std::optional<double> Value(const Measure& measure) const {
    const auto found = results_.find(measure.benchmark);
    if (found == results_.end()) {
      return std::nullopt;
    }
    if (measure.counter.empty()) {
      return found->second.real_ns;
    }
    const auto counter = found->second.counters.find(measure.counter);
    if (counter == found->second.counters.end()) {
      return std::nullopt;
    }
    return counter->second;
  }

 private:
  std::map<std::string, Result> results_;
};

std::string Number(double value) {
  char text[64];
  const double size = std::fabs(value);
  std::snprintf(text, sizeof text, size >= 100.0 || size == 0.0 ? "%.0f" : size >= 10.0 ? "%.1f" : "%.2f", value);
  return text;
}

}  // namespace

int RunAndReport(int argc, char** argv, const std::vector<Figure>& figures) {
  // Defaults first, so that flags given on the command line override them.
  std::vector<char*> args{argv[0]};
  std::string repetitions = "--benchmark_repetitions=10";
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::string aggregates = "--benchmark_report_aggregates_only=true";
  args.push_back(repetitions.data());
  args.push_back(interleave.data());
  args.push_back(aggregates.data());
  for (int i = 1; i < argc; ++i) {
    args.push_back(argv[i]);
  }
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
    return 2;
  }
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  for (const Figure& figure : figures) {
    const std::optional<double> value = reporter.Value(figure.library);
    if (!value) {
      continue;  // filtered out on the command line
    }
    std::optional<double> base;
    if (figure.baseline) {
      base = reporter.Value(*figure.baseline);
    }
    const double ratio = base && *base > 0.0 ? *value / *base : 0.0;
    const double shown = figure.difference && base ? *value - *base : *value;
    const bool met = !figure.met || figure.met(shown, ratio);
    const bool with_ratio = base && !figure.difference;
    std::printf("FIGURE|%s|%s %s|%s|%s|%s|%s\n", figure.what.c_str(), Number(shown).c_str(), figure.unit.c_str(),
                base ? (Number(*base) + " " + figure.unit).c_str() : "-", with_ratio ? Number(ratio).c_str() : "-",
                figure.goal.empty() ? "-" : figure.goal.c_str(), figure.goal.empty() ? "-" : (met ? "met" : "MISSED"));
  }
  std::fflush(stdout);
  // A missed goal is reported, not an error: the figures are what they are.
  return 0;
}

}  // namespace vorn_io_bench
