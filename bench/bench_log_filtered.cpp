// A LOG_INFO that the level "error" filters out, against spdlog's filtered
// call: both should cost next to nothing.
#include <memory>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <spdlog/sinks/null_sink.h>

#include "configure_logger.h"
#include "figures.h"
#include "vorn_io/logger.h"

namespace {

void BM_LibraryFilteredInfo(benchmark::State& state) {
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
BENCHMARK(BM_LibraryFilteredInfo);

void BM_SpdlogFilteredInfo(benchmark::State& state) {
  spdlog::logger logger("baseline", std::make_shared<spdlog::sinks::null_sink_mt>());
  logger.set_level(spdlog::level::err);
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
BENCHMARK(BM_SpdlogFilteredInfo);

}  // namespace

int main(int argc, char** argv) {
  vorn_io_bench::ConfigureLogger("error", true);
  return vorn_io_bench::RunAndReport(argc, argv,
                                     {{"LOG_INFO filtered (level error)",
                                       {"BM_LibraryFilteredInfo", ""},
                                       vorn_io_bench::Measure{"BM_SpdlogFilteredInfo", ""},
                                       "ns",
                                       "ratio <= 1.2",
                                       [](double, double ratio) { return ratio <= 1.2; }}});
}
