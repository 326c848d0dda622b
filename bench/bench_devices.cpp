// Device operations on the stand-in motor, logger without sinks:
//  - ServoGripper::getIoStatus, one poll, against the bare position read it
//    makes, with heap allocations counted per poll for both;
//  - UpdownLifter::getIoStatus, one poll, the C++ side of the Python
//    module's poll (bench/bench_python.py);
//  - one lifter tick with its "set pos" line, against the same motor calls
//    and spdlog's log of the same line.
// The stand-in journals every call in a ring that allocates only while it
// fills; polls are measured once it is full, as in a host program that has
// been running for a while. The library's share is the difference to the
// bare motor call.
#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <yaml-cpp/yaml.h>

#include "configure_logger.h"
#include "figures.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor_sim/sim_control.h"

namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }

namespace {

constexpr benchmark::IterationCount kPolls = 200000;
constexpr benchmark::IterationCount kTicks = 100000;
// More calls than a stand-in journal keeps.
constexpr int kWarmUpCalls = 70000;

void CountAllocations(benchmark::State& state, long before) {
  state.counters["allocs"] =
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
}

void BM_GripperPoll(benchmark::State& state) {
  std::string dev_name = "bench-gripper";
  ServoGripper gripper(1, 115200, dev_name, false);
  int status = 0;
  for (int i = 0; i < kWarmUpCalls; ++i) {
    gripper.getIoStatus(status);
  }
  const long before = g_allocations.load();
  for (auto _ : state) {
    gripper.getIoStatus(status);
    benchmark::DoNotOptimize(status);
  }
  CountAllocations(state, before);
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_GripperPoll)->Iterations(kPolls);

void BM_MotorPositionRead(benchmark::State& state) {
  std::string dev_name = "bench-motor";
  feetechMotor motor(1, 115200, dev_name, false);
  motor.initMotor();
  motor.setEnable(true);
  double position = 0.0;
  for (int i = 0; i < kWarmUpCalls; ++i) {
    motor.getPosition(position);
  }
  const long before = g_allocations.load();
  for (auto _ : state) {
    motor.getPosition(position);
    benchmark::DoNotOptimize(position);
  }
  CountAllocations(state, before);
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_MotorPositionRead)->Iterations(kPolls);

void BM_LifterPoll(benchmark::State& state) {
  YAML::Node node;
  node["vendor"] = "feetech";
  node["dev_name"] = "bench-lifter-poll";
  UpdownLifter lifter(node);
  int status = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(lifter.getIoStatus(status));
  }
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_LifterPoll)->Iterations(kPolls);

void BM_LifterTick(benchmark::State& state) {
  YAML::Node node;
  node["vendor"] = "feetech";
  node["dev_name"] = "bench-lifter";
  // One tick a second from the lifter's own timer; this loop drives the rest.
  // The ramp of 0.001 per tick over 480 outlasts the iterations.
  node["freq"] = 1;
  node["speed"] = 0.001;
  node["maxpos"] = 480;
  UpdownLifter lifter(node);
  if (lifter.setIoStatus(1) != 0) {
    state.SkipWithError("the lifter refused the move");
    return;
  }
  for (auto _ : state) {
    lifter.Callback();
  }
  int status = 0;
  if (lifter.getIoStatus(status) != -1) {
    state.SkipWithError("the move ended within the measurement");
  }
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_LifterTick)->Iterations(kTicks);

void BM_TickBaseline(benchmark::State& state) {
  std::string dev_name = "bench-tick-baseline";
  feetechMotor motor(1, 115200, dev_name, false);
  motor.initMotor();
  motor.setEnable(true);
  spdlog::logger logger("baseline");
  logger.set_level(spdlog::level::info);
  logger.set_formatter(std::make_unique<spdlog::pattern_formatter>("%v"));
  float set_pos = 0.0F;
  for (auto _ : state) {
    set_pos -= 0.001F;
    double torque = 0.0;
    double position = 0.0;
    motor.getTorque(torque);
    motor.getPosition(position);
    motor.setPosition(static_cast<double>(set_pos));
    logger.log(spdlog::source_loc{__FILE__, __LINE__, static_cast<const char*>(__func__)}, spdlog::level::info,
               FMT_STRING("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n"), set_pos, position, torque);
  }
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_TickBaseline)->Iterations(kTicks);

}  // namespace

int main(int argc, char** argv) {
  vorn_io_bench::ConfigureLogger("info");
  using vorn_io_bench::Measure;
  return vorn_io_bench::RunAndReport(
      argc, argv,
      {{"ServoGripper::getIoStatus, one poll",
        {"BM_GripperPoll", ""},
        Measure{"BM_MotorPositionRead", ""},
        "ns",
        "< 100 ns",
        [](double value, double) { return value < 100.0; }},
       {"  the gripper's own share (poll - bare read)",
        {"BM_GripperPoll", ""},
        Measure{"BM_MotorPositionRead", ""},
        "ns",
        "< 100 ns",
        [](double value, double) { return value < 100.0; },
        true},
       {"  allocations per poll (gripper, bare read)",
        {"BM_GripperPoll", "allocs"},
        Measure{"BM_MotorPositionRead", "allocs"},
        "",
        "gripper = bare read",
        [](double value, double ratio) { return value == 0.0 || ratio == 1.0; }},
       {"UpdownLifter::getIoStatus, one poll", {"BM_LifterPoll", ""}, std::nullopt, "ns", "", {}},
       {"UpdownLifter tick with its line", {"BM_LifterTick", ""}, Measure{"BM_TickBaseline", ""}, "ns", "", {}}});
}
