#pragma once

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace lifter_test {

using namespace std::chrono_literals;

/// The ramp step of the default settings (speed 1.5707964, freq 10), as the
/// lifter computes it: in single precision.
inline const float kDefaultStep = 1.5707964F / 10.0F;

/// The fastest ticks a lifter runs: one every millisecond.
inline constexpr unsigned int kFastFreq = 1000;

/// A speed whose step at `freq` (speed / freq in single precision) is
/// exactly `step`: one of the floats next to step * freq divides back to it.
inline float SpeedFor(float step, unsigned int freq) {
  const auto divisor = static_cast<float>(freq);
  const float guess = step * divisor;
  float up = guess;
  float down = guess;
  for (int ulps = 0; ulps < 16; ++ulps) {
    if (up / divisor == step) {
      return up;
    }
    if (down / divisor == step) {
      return down;
    }
    up = std::nextafter(up, std::numeric_limits<float>::infinity());
    down = std::nextafter(down, -std::numeric_limits<float>::infinity());
  }
  ADD_FAILURE() << "no speed gives the step " << step << " at freq " << freq;
  return guess;
}

/// The description lines for ticks every millisecond with a ramp step of `step`.
inline std::string FastTicks(float step = kDefaultStep) {
  return fmt::format("freq: {}\nspeed: {}\n", kFastFreq, SpeedFor(step, kFastFreq));
}

/// A device name no other test uses, so each test reads only its own journal.
inline std::string UniqueDevName() {
  static std::atomic<int> counter{0};
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = fmt::format("sim-{}.{}-{}", info->test_suite_name(), info->name(), counter.fetch_add(1));
  for (char& c : name) {
    if (c == '/') {
      c = '_';
    }
  }
  return name;
}

/// A lifter description with a damiao motor named `dev_name`, plus `extra` lines.
inline YAML::Node Description(const std::string& dev_name, const std::string& extra = "") {
  return YAML::Load(fmt::format("vendor: damiao\ndev_name: {}\n{}", dev_name, extra));
}

using vorn_io_test::LogCapture;
using vorn_io_test::Occurrences;
using vorn_io_test::ThreadCount;
using vorn_io_test::WaitFor;

/// Waits until the lifter reports something other than "moving"; returns it.
inline int WaitForEndOfMove(VornIoInterface& lifter) {
  const int status = vorn_io_test::WaitForEndOfMove(lifter);
  EXPECT_NE(status, -1) << "the move did not end";
  return status;
}

/// The arguments of every `setPosition` the motor named `dev_name` received.
inline std::vector<double> SetPositions(const std::string& dev_name) {
  std::vector<double> positions;
  for (const vorn_motor_sim::Call& call : vorn_motor_sim::Calls(dev_name, "setPosition")) {
    positions.push_back(call.args.at(0));
  }
  return positions;
}

inline std::size_t CountOf(const std::string& dev_name, const std::string& op) {
  return vorn_motor_sim::Calls(dev_name, op).size();
}

/// The set positions of a whole move, accumulated as the lifter does.
inline std::vector<float> ExpectedRamp(float step, float maxpos) {
  std::vector<float> ramp;
  for (float position = step; std::fabs(position) <= maxpos; position += step) {
    ramp.push_back(position);
  }
  return ramp;
}

}  // namespace lifter_test
