// The timer's period: 300 cycles of 10 ms with a trivial task, measured from
// one task start to the next, against 300 plain nanosleep calls of 10 ms in
// the same run. Figures are the median and the 99th percentile of the
// overshoot beyond 10 ms. Beside them, the period a lifter at freq 600 ticks
// with (the timer's schedule of 1000 / 600 ms), its median against that.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>

#include "configure_logger.h"
#include "figures.h"
#include "vorn_io/private_timer.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kCycles = 300;
constexpr int kIntervalMs = 10;

// PrivateTimer's loop is reached through a class of its own, as devices do.
class PeriodProbe : private PrivateTimer {
 public:
  /// `period`: milliseconds (int) or a chrono period, as the devices pass it.
  template <typename Period>
  std::vector<Clock::time_point> Run(Period period) {
    starts_.reserve(kCycles + 1);
    start(period, [this] {
      const Clock::time_point now = Clock::now();
      const std::lock_guard<std::mutex> lock(mutex_);
      if (starts_.size() <= kCycles) {
        starts_.push_back(now);
        if (starts_.size() == kCycles + 1) {
          done_.notify_one();
        }
      }
    });
    {
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [this] { return starts_.size() == kCycles + 1; });
    }
    stop();
    return starts_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable done_;
  std::vector<Clock::time_point> starts_;
};

void SetOvershootCounters(benchmark::State& state, std::vector<double> overshoot_us) {
  std::sort(overshoot_us.begin(), overshoot_us.end());
  state.counters["median_us"] = overshoot_us[overshoot_us.size() / 2];
  state.counters["p99_us"] = overshoot_us[overshoot_us.size() * 99 / 100];
}

double OvershootUs(Clock::duration took) {
  return std::chrono::duration<double, std::micro>(took - std::chrono::milliseconds(kIntervalMs)).count();
}

void BM_TimerPeriod(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    PeriodProbe probe;
    const std::vector<Clock::time_point> starts = probe.Run(kIntervalMs);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    std::vector<double> overshoot;
    for (std::size_t i = 1; i < starts.size(); ++i) {
      overshoot.push_back(OvershootUs(starts[i] - starts[i - 1]));
    }
    SetOvershootCounters(state, overshoot);
  }
}
BENCHMARK(BM_TimerPeriod)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// The lifter's tick at freq 600: what it asks of the timer is this period.
constexpr unsigned int kLifterFreq = 600;
constexpr double kLifterPeriodUs = 1e6 / kLifterFreq;

void BM_LifterTickPeriod(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    PeriodProbe probe;
    const std::vector<Clock::time_point> starts =
        probe.Run(std::chrono::duration<double, std::milli>(1000.0 / kLifterFreq));
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    std::vector<double> periods;
    for (std::size_t i = 1; i < starts.size(); ++i) {
      periods.push_back(std::chrono::duration<double, std::micro>(starts[i] - starts[i - 1]).count());
    }
    std::sort(periods.begin(), periods.end());
    state.counters["median_us"] = periods[periods.size() / 2];
  }
}
BENCHMARK(BM_LifterTickPeriod)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Nanosleep(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point begin = Clock::now();
    std::vector<double> overshoot;
    for (int i = 0; i < kCycles; ++i) {
      const Clock::time_point t0 = Clock::now();
      timespec request{0, kIntervalMs * 1000000L};
      timespec left{};
      while (nanosleep(&request, &left) != 0) {
        request = left;
      }
      overshoot.push_back(OvershootUs(Clock::now() - t0));
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - begin).count());
    SetOvershootCounters(state, overshoot);
  }
}
BENCHMARK(BM_Nanosleep)->Iterations(1)->Repetitions(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  vorn_io_bench::ConfigureLogger("info");
  using vorn_io_bench::Measure;
  return vorn_io_bench::RunAndReport(
      argc, argv,
      {{"timer period overshoot, median",
        {"BM_TimerPeriod", "median_us"},
        Measure{"BM_Nanosleep", "median_us"},
        "us",
        "ratio <= 1.3",
        [](double, double ratio) { return ratio <= 1.3; }},
       {"timer period overshoot, p99", {"BM_TimerPeriod", "p99_us"}, Measure{"BM_Nanosleep", "p99_us"}, "us", "", {}},
       {"lifter tick period at freq 600, median",
        {"BM_LifterTickPeriod", "median_us"},
        std::nullopt,
        "us",
        "1666.7 us (1000/600 ms) +-1%",
        [](double value, double) { return std::abs(value - kLifterPeriodUs) <= kLifterPeriodUs / 100.0; }}});
}
