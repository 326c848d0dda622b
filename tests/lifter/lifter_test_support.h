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

/// Polls `condition` until it holds or `deadline` has passed.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds deadline = 60s) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) {
      return false;
    }
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

/// Waits until the lifter reports something other than "moving"; returns it.
inline int WaitForEndOfMove(UpdownLifter& lifter) {
  int status = -1;
  EXPECT_TRUE(WaitFor([&] { return lifter.getIoStatus(status) != -1; })) << "the move did not end";
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

inline std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

/// The threads of this process now.
inline std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

/// Captures standard output, where the logger writes its lines, until `Text()`.
class LogCapture {
 public:
  LogCapture() { testing::internal::CaptureStdout(); }
  ~LogCapture() {
    if (!done_) {
      testing::internal::GetCapturedStdout();
    }
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() {
    done_ = true;
    return testing::internal::GetCapturedStdout();
  }

 private:
  bool done_ = false;
};

}  // namespace lifter_test
