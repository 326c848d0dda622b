// The lifter's tick lateness at 1 kHz beside cyclictest's (Debian's
// rt-tests), under the same policy and priority, over the same number of
// ticks, with /dev/cpu_dma_latency left alone (cyclictest --laptop). The
// lifter's tick is the timer's scheduled loop, started as the lifter starts
// it (a 1 ms period, the lifter's timer slack, its policy and priority); the
// figure names it so. A tick's lateness is how long after its deadline it
// starts, taken in whole microseconds as cyclictest takes it, so that both
// sides' median and 99th percentile come from histograms of the same
// buckets. Normal scheduling always; SCHED_FIFO 50 where the process may.
//
//   vorn_io_bench_tick_lateness [ticks]   (5000 by default)
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "vorn_io/private_timer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::duration<double, std::milli> kPeriod{1.0};
constexpr int kFifoPriority = 50;
// Latencies beyond this many microseconds count as this many (cyclictest's overflow).
constexpr long kHistogramUs = 20000;

/// Counts of whole-microsecond latencies, the highest bucket holding the overflow.
struct Histogram {
  std::map<long, long> counts;
  long total = 0;
  long max_us = 0;

  void Add(long us, long count = 1) {
    counts[std::clamp(us, 0L, kHistogramUs)] += count;
    total += count;
    max_us = std::max(max_us, us);
  }
  /// The smallest latency at or below which `share` of the ticks lie.
  [[nodiscard]] long Percentile(double share) const {
    long seen = 0;
    for (const auto& [us, count] : counts) {
      seen += count;
      if (static_cast<double>(seen) >= share * static_cast<double>(total)) {
        return us;
      }
    }
    return max_us;
  }
};

// The timer's loop reached through a class of its own, as the lifter does.
class Tick : private PrivateTimer {
 public:
  /// Runs `ticks` ticks at `priority`; the start and end of each call. Empty
  /// when the priority was refused.
  std::optional<Histogram> Run(int ticks, int priority) {
    starts_.reserve(static_cast<std::size_t>(ticks));
    ends_.reserve(static_cast<std::size_t>(ticks));
    std::promise<void> done;
    const int refused = start(kPeriod, priority, [&, this] {
      const Clock::time_point now = Clock::now();
      if (static_cast<int>(starts_.size()) < ticks) {
        starts_.push_back(now);
        ends_.push_back(Clock::now());
        if (static_cast<int>(starts_.size()) == ticks) {
          done.set_value();
        }
      }
    });
    done.get_future().wait();
    stop();
    if (refused != 0) {
      return std::nullopt;
    }
    return Lateness();
  }

 private:
  /// Each call's start against its deadline, following the schedule as the
  /// timer keeps it: call n due n periods after the origin, and the origin
  /// moved to the end of a call that ended more than a period behind.
  Histogram Lateness() const {
    const auto period = std::chrono::duration_cast<Clock::duration>(kPeriod);
    Histogram histogram;
    Clock::time_point origin = starts_.front();
    long calls = 0;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
      const Clock::time_point due = origin + period * calls;
      histogram.Add(std::chrono::duration_cast<std::chrono::microseconds>(starts_[i] - due).count());
      ++calls;
      if (ends_[i] - (origin + period * calls) > period) {
        origin = ends_[i];
        calls = 0;
      }
    }
    return histogram;
  }

  std::vector<Clock::time_point> starts_;
  std::vector<Clock::time_point> ends_;
};

/// cyclictest's histogram for one thread at `priority` (0: normal scheduling).
std::optional<Histogram> Cyclictest(int ticks, int priority) {
  const std::string command =
      "cyclictest --laptop -q -t1 -i1000 -l" + std::to_string(ticks) + " -h" + std::to_string(kHistogramUs) +
      // "-p0" would run it under SCHED_FIFO at 2.
      (priority > 0 ? " --policy=fifo -p" + std::to_string(priority) : " --policy=other") + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");  // NOLINT(cert-env33-c): a fixed command line
  if (pipe == nullptr) {
    return std::nullopt;
  }
  Histogram histogram;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    long us = 0;
    long count = 0;
    long max = 0;
    long overflows = 0;
    if (std::sscanf(line, "%ld %ld", &us, &count) == 2 && line[0] != '#') {
      if (count > 0) {
        histogram.Add(us, count);
      }
    } else if (std::sscanf(line, "# Max Latencies: %ld", &max) == 1) {
      histogram.max_us = max;
    } else if (std::sscanf(line, "# Histogram Overflows: %ld", &overflows) == 1 && overflows > 0) {
      histogram.Add(kHistogramUs, overflows);
    }
  }
  if (pclose(pipe) != 0 || histogram.total == 0) {
    return std::nullopt;
  }
  return histogram;
}

void Figure(const std::string& what, double value, std::optional<double> base, const std::string& goal,
            std::optional<double> most_ratio) {
  const bool with_ratio = base && *base > 0.0;
  const double ratio = with_ratio ? value / *base : 0.0;
  char ratio_text[32] = "-";
  if (with_ratio) {
    std::snprintf(ratio_text, sizeof ratio_text, "%.2f", ratio);
  }
  std::printf("FIGURE|%s|%.0f us|%s|%s|%s|%s\n", what.c_str(), value,
              base ? (std::to_string(static_cast<long>(*base)) + " us").c_str() : "-", ratio_text,
              goal.empty() ? "-" : goal.c_str(),
              !most_ratio ? "-" : (with_ratio && ratio <= *most_ratio ? "met" : "MISSED"));
}

void Report(const std::string& policy, const Histogram& tick, const std::optional<Histogram>& baseline,
            double median_goal, std::optional<double> p99_goal) {
  const auto base = [&](auto value) { return baseline ? std::optional<double>(value(*baseline)) : std::nullopt; };
  const std::string name = "lifter tick lateness at 1 kHz (its timer loop), " + policy + ", ";
  const auto goal = [](std::optional<double> most) {
    std::ostringstream text;
    if (most) {
      text << "ratio <= " << *most;
    }
    return text.str();
  };
  std::printf("%s: lifter median %ld us, p99 %ld us, max %ld us over %ld ticks\n", policy.c_str(), tick.Percentile(0.5),
              tick.Percentile(0.99), tick.max_us, tick.total);
  if (baseline) {
    std::printf("%s: cyclictest median %ld us, p99 %ld us, max %ld us over %ld ticks\n", policy.c_str(),
                baseline->Percentile(0.5), baseline->Percentile(0.99), baseline->max_us, baseline->total);
  }
  Figure(name + "median (cyclictest = baseline)", static_cast<double>(tick.Percentile(0.5)),
         base([](const Histogram& h) { return static_cast<double>(h.Percentile(0.5)); }), goal(median_goal),
         median_goal);
  Figure(name + "p99 (cyclictest = baseline)", static_cast<double>(tick.Percentile(0.99)),
         base([](const Histogram& h) { return static_cast<double>(h.Percentile(0.99)); }), goal(p99_goal), p99_goal);
  Figure(name + "max (cyclictest = baseline)", static_cast<double>(tick.max_us),
         base([](const Histogram& h) { return static_cast<double>(h.max_us); }), "", std::nullopt);
}

}  // namespace

int main(int argc, char** argv) {
  const int ticks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
  // Normal scheduling: cyclictest keeps the default timer slack there.
  {
    const std::optional<Histogram> tick = Tick().Run(ticks, 0);
    const std::optional<Histogram> baseline = Cyclictest(ticks, 0);
    if (!baseline) {
      std::printf("cyclictest did not run (rt-tests installed?): the lifter's figures stand alone\n");
    }
    Report("normal scheduling", *tick, baseline, 0.6, std::nullopt);
  }
  const std::optional<Histogram> fifo = Tick().Run(ticks, kFifoPriority);
  if (!fifo) {
    std::printf("SCHED_FIFO %d refused (no rtprio limit, no CAP_SYS_NICE): no real-time figures\n", kFifoPriority);
    return 0;
  }
  Report("SCHED_FIFO " + std::to_string(kFifoPriority), *fifo, Cyclictest(ticks, kFifoPriority), 1.2, 1.5);
  return 0;
}
