#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

// A figure is one measured quantity of the library, set beside the same
// quantity of its baseline measured in the same run, so that the ratio holds
// on a noisy machine even when the absolute numbers drift.
namespace vorn_io_bench {

/// Where a figure's value comes from: a benchmark (by function name) and
/// either its real time per iteration in nanoseconds (no counter) or one of
/// its counters.
struct Measure {
  std::string benchmark;
  std::string counter;
};

struct Figure {
  std::string what;
  Measure library;
  std::optional<Measure> baseline;
  std::string unit;
  /// The goal in words, e.g. "ratio <= 1.2"; empty: a figure without goal.
  std::string goal;
  /// Whether the goal is met, given the value shown and the ratio
  /// (library / baseline; 0 without a baseline).
  std::function<bool(double value, double ratio)> met;
  /// Report the library's value less the baseline's (its own share of a
  /// cost that includes the baseline) instead of a ratio.
  bool difference = false;
};

/// Runs the registered benchmarks (10 repetitions, randomly interleaved, the
/// median counting, unless the command line says otherwise), then prints
/// one line per figure:
///   FIGURE|what|value unit|baseline unit|ratio|goal|met
/// scripts/bench collects these lines into its table.
int RunAndReport(int argc, char** argv, const std::vector<Figure>& figures);

}  // namespace vorn_io_bench
