// An emitted LOG_INFO against spdlog's own log call of the same text and
// arguments, both ending in a null_sink_mt (a sink that takes its lock, as
// real ones do) with the pattern "%v": what the library adds is the lock that
// orders its outputs, the number and the prefix.
#include <memory>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/null_sink.h>

#include "configure_logger.h"
#include "figures.h"
#include "vorn_io/logger.h"

namespace {

void BM_LibraryInfo(benchmark::State& state) {
  float set_pos = 12.5F;
  double position = 12.375;
  double torque = 0.25;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set_pos);
    benchmark::DoNotOptimize(position);
    benchmark::DoNotOptimize(torque);
    LOG_INFO("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n", set_pos, position, torque);
  }
}
BENCHMARK(BM_LibraryInfo);

// The same with a listener that a host's thread would drain: the line is also
// copied into the listener's buffer, which is emptied (untimed) when full.
void BM_LibraryInfoListened(benchmark::State& state) {
  constexpr std::size_t kRoom = 4096;
  quorvane::LogListener listener(kRoom);
  quorvane::LogLine line;
  float set_pos = 12.5F;
  double position = 12.375;
  double torque = 0.25;
  std::size_t queued = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set_pos);
    benchmark::DoNotOptimize(position);
    benchmark::DoNotOptimize(torque);
    LOG_INFO("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n", set_pos, position, torque);
    if (++queued == kRoom) {
      state.PauseTiming();
      while (listener.Next(line)) {
      }
      queued = 0;
      state.ResumeTiming();
    }
  }
}
BENCHMARK(BM_LibraryInfoListened);

void BM_SpdlogInfo(benchmark::State& state) {
  spdlog::logger logger("baseline", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger.set_level(spdlog::level::info);
  logger.set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
  float set_pos = 12.5F;
  double position = 12.375;
  double torque = 0.25;
  for (auto _ : state) {
    benchmark::DoNotOptimize(set_pos);
    benchmark::DoNotOptimize(position);
    benchmark::DoNotOptimize(torque);
    logger.log(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)}, spdlog::level::info,
               FMT_STRING("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n"), set_pos, position, torque);
  }
}
BENCHMARK(BM_SpdlogInfo);

}  // namespace

int main(int argc, char** argv) {
  // The console sink on: the bench build makes it a null sink.
  vorn_io_bench::ConfigureLogger("info", true);
  return vorn_io_bench::RunAndReport(argc, argv,
                                     {{"LOG_INFO emitted, null sink",
                                       {"BM_LibraryInfo", ""},
                                       vorn_io_bench::Measure{"BM_SpdlogInfo", ""},
                                       "ns",
                                       "ratio <= 1.10",
                                       [](double, double ratio) { return ratio <= 1.10; }},
                                      {"LOG_INFO emitted, null sink and a listener",
                                       {"BM_LibraryInfoListened", ""},
                                       vorn_io_bench::Measure{"BM_LibraryInfo", ""},
                                       "ns",
                                       "ratio <= 1.50",
                                       [](double, double ratio) { return ratio <= 1.50; }}});
}
