// Device operations on the stand-in motor, logger without sinks:
//  - ServoGripper::getIoStatus, one poll, against the bare position read it
//    makes, with heap allocations counted per poll for both;
//  - UpdownLifter::getIoStatus, one poll, the C++ side of the Python
//    module's poll (bench/bench_python.py);
//  - one lifter tick with its "set pos" line, against the same motor calls
//    and spdlog's log of the same line;
//  - the tick with its trace recording against the same tick without it:
//    the recording as the tick makes it (a clock reading, the sample, the
//    trace's lock and the push into the trace) timed alone, in turns with
//    the ticks, and taken off them;
//  - the memory a trace of a 60 s move at 1 kHz takes: what building such a
//    lifter allocates beyond building one with a one-tick move.
// The stand-in journals every call in a ring that allocates only while it
// fills; polls are measured once it is full, as in a host program that has
// been running for a while. The library's share is the difference to the
// bare motor call.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include <benchmark/benchmark.h>
#include <spdlog/logger.h>
#include <spdlog/pattern_formatter.h>
#include <yaml-cpp/yaml.h>

#include "common/trace_ring.h"
#include "configure_logger.h"
#include "figures.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor_sim/sim_control.h"

namespace {
std::atomic<long> g_allocations{0};
std::atomic<long> g_allocated_bytes{0};
}  // namespace

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  g_allocated_bytes.fetch_add(static_cast<long>(size), std::memory_order_relaxed);
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

/// A lifter on the stand-in motor whose move outlasts the measurement; this
/// loop drives its ticks (its own timer ticks once a second).
YAML::Node SlowLifter(const char* dev_name) {
  YAML::Node node;
  node["vendor"] = "feetech";
  node["dev_name"] = dev_name;
  node["freq"] = 1;
  node["speed"] = 0.001;
  node["maxpos"] = 480;
  return node;
}

void BM_TickTrace(benchmark::State& state) {
  constexpr int kBatch = 100;
  using Clock = std::chrono::steady_clock;
  UpdownLifter lifter(SlowLifter("bench-lifter-trace"));
  if (lifter.setIoStatus(1) != 0) {
    state.SkipWithError("the lifter refused the move");
    return;
  }
  vorn_io::detail::TraceRing<vorn_io::LifterTick> trace;
  trace.Reserve(vorn_io::kTraceCapacity);
  std::mutex trace_mutex;
  Clock::duration ticks{};
  Clock::duration recording{};
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      lifter.Callback();
    }
    const Clock::time_point ticked = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      vorn_io::LifterTick sample;
      sample.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      sample.setPosition = -0.001 * k;
      const std::lock_guard<std::mutex> lock(trace_mutex);
      trace.Push(sample);
    }
    recording += Clock::now() - ticked;
    ticks += ticked - start;
  }
  const double per_tick = 1.0 / static_cast<double>(state.iterations() * kBatch);
  state.counters["with_ns"] = std::chrono::duration<double, std::nano>(ticks).count() * per_tick;
  state.counters["without_ns"] = std::chrono::duration<double, std::nano>(ticks - recording).count() * per_tick;
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_TickTrace)->Iterations(kTicks / 100);

void BM_TraceMemory(benchmark::State& state) {
  // 60 s at 1 kHz: 60,000 steps of 0.008 over 480, and the tick that ends the move.
  const auto built = [](double maxpos) {
    YAML::Node node;
    node["vendor"] = "feetech";
    node["dev_name"] = "bench-trace-memory";
    node["freq"] = 1000;
    node["speed"] = 8;
    node["maxpos"] = maxpos;
    const long before = g_allocated_bytes.load();
    const UpdownLifter lifter(node);
    return g_allocated_bytes.load() - before;
  };
  long bytes = 0;
  for (auto _ : state) {
    bytes = built(480.0) - built(0.01);
  }
  state.counters["trace_mib"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
  vorn_motor_sim::Reset();
}
BENCHMARK(BM_TraceMemory)->Iterations(1);

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
       {"UpdownLifter tick with its line", {"BM_LifterTick", ""}, Measure{"BM_TickBaseline", ""}, "ns", "", {}},
       {"UpdownLifter tick with its trace, without",
        {"BM_TickTrace", "with_ns"},
        Measure{"BM_TickTrace", "without_ns"},
        "ns",
        "ratio <= 1.05",
        [](double, double ratio) { return ratio <= 1.05; }},
       {"trace of a 60 s move at 1 kHz", {"BM_TraceMemory", "trace_mib"}, std::nullopt, "MiB", "", {}}});
}
