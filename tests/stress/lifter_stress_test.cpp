#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using Clock = std::chrono::steady_clock;

// Thousands of ticks log a line each; the console would only slow them down.
[[maybe_unused]] const quorvane::LogSettings kQuietLogger = quorvane::Logger::Configure({false, false, std::nullopt});

using vorn_io_test::ThreadCount;

YAML::Node Description(const std::string& vendor, const std::string& dev_name, unsigned freq, double speed,
                       double maxpos) {
  YAML::Node node;
  node["vendor"] = vendor;
  node["dev_name"] = dev_name;
  node["freq"] = freq;
  node["speed"] = speed;
  node["maxpos"] = maxpos;
  return node;
}

// Eight host threads command, poll and re-declare a lifter whose ticks run
// back to back (freq above 1000 gives a 0 ms interval). A move is 20 ticks,
// so commands meet moves starting, running and ending.
TEST(LifterStress, HostThreadsAgainstBackToBackTicks) {
  vorn_motor_sim::Reset();
  auto lifter = std::make_unique<UpdownLifter>(Description("feetech", "stress-commands", 2000, 400.0, 4.0));

  constexpr int kThreads = 8;
  const auto run_for = std::chrono::milliseconds(1500);
  std::atomic<bool> go{false};
  std::atomic<int> bad_results{0};
  std::atomic<long> accepted{0};
  std::atomic<long> polls_moving{0};
  std::atomic<long> polls_idle{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) {
        std::this_thread::yield();
      }
      const auto end = Clock::now() + run_for;
      for (unsigned n = static_cast<unsigned>(t); Clock::now() < end; ++n) {
        switch (n % 8) {
          case 0:
          case 1:
          case 2: {
            const int result = lifter->setIoStatus(static_cast<int>(n % 2));
            if (result == 0) {
              ++accepted;
            } else if (result != -1) {
              ++bad_results;
            }
            break;
          }
          case 3:
            // Out of range: refused whether the lifter is busy or idle.
            if (lifter->setIoStatus(n % 16 == 3 ? 2 : -1) != -1) {
              ++bad_results;
            }
            break;
          case 4:
            // States a host may declare; 5 is outside 0 and 1 on purpose.
            lifter->setInitialStatus(static_cast<int>(n / 8 % 3 == 2 ? 5 : n / 8 % 2));
            break;
          default: {
            int status = 42;
            const int result = lifter->getIoStatus(status);
            const bool known = status == -1 || status == 0 || status == 1 || status == 5;
            if (result != status || !known) {
              ++bad_results;
            }
            ++(status == -1 ? polls_moving : polls_idle);
            break;
          }
        }
      }
    });
  }
  go.store(true);
  for (std::thread& thread : threads) {
    thread.join();
  }

  EXPECT_EQ(bad_results.load(), 0);
  // The run did meet moves in progress and idle phases.
  EXPECT_GT(accepted.load(), 0);
  EXPECT_GT(polls_moving.load(), 0);
  EXPECT_GT(polls_idle.load(), 0);
  EXPECT_NE(vorn_io_test::WaitForEndOfMove(*lifter, std::chrono::seconds(30)), -1);
  lifter.reset();
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U);
  vorn_motor_sim::Reset();
}

bool IsMotion(const std::string& op) {
  return op == "getTorque" || op == "getPosition" || op == "setPosition" || op == "setZeroPosition";
}

// Lifters built and destroyed at once, with and without a move under way,
// with back-to-back, 1 ms and 100 ms ticks: once destruction has begun no
// tick reaches the motor, and nothing outlives the lifter.
TEST(LifterStress, ConstructDestroyCyclesLeaveNothingBehind) {
  vorn_motor_sim::Reset();
  // ThreadSanitizer starts a helper thread of its own with the process's
  // first thread; one thread first keeps it out of the comparison.
  std::thread([] {}).join();
  const std::size_t threads_before = ThreadCount();
  ASSERT_GT(threads_before, 0U);
  constexpr int kCycles = 500;
  constexpr unsigned kFrequencies[] = {2000, 1000, 10};
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    const std::string name = "cycle-" + std::to_string(cycle);
    const unsigned freq = kFrequencies[cycle % 3];
    {
      auto lifter =
          std::make_unique<UpdownLifter>(Description(cycle % 2 == 0 ? "feetech" : "damiao", name, freq, 1.5, 450.0));
      if (cycle % 4 < 2) {
        ASSERT_EQ(lifter->setIoStatus(1), 0) << name;
      }
    }
    const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal(name);
    std::size_t disable = journal.size();
    for (std::size_t i = 0; i < journal.size(); ++i) {
      if (journal[i].op == "setEnable" && journal[i].args == std::vector<double>{0.0}) {
        ASSERT_EQ(disable, journal.size()) << name << ": disabled twice";
        disable = i;
      }
    }
    ASSERT_LT(disable, journal.size()) << name << ": never disabled";
    ASSERT_GE(disable, 2U) << name;
    // The destructor's own hold at the present position comes right before.
    EXPECT_EQ(journal[disable - 2].op, "getPosition") << name;
    EXPECT_EQ(journal[disable - 1].op, "setPosition") << name;
    EXPECT_EQ(journal[disable - 1].args, journal[disable - 2].args) << name;
    for (std::size_t i = disable + 1; i < journal.size(); ++i) {
      ASSERT_FALSE(IsMotion(journal[i].op)) << name << ": " << journal[i].op << " after the disable";
    }
    EXPECT_EQ(journal.back().op.front(), '~') << name << ": motor not released last";
    vorn_motor_sim::Reset();
    ASSERT_EQ(vorn_motor_sim::LiveMotors(), 0U) << name;
  }
  EXPECT_EQ(ThreadCount(), threads_before);
}

}  // namespace
