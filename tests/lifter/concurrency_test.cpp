#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

// Polls and declarations from other threads while moves run on the ticks;
// built with -DVORN_IO_SANITIZER=thread this shows the lifter race-free.
TEST(LifterConcurrency, PollsAndDeclarationsDuringMoves) {
  UpdownLifter lifter(Description(UniqueDevName(), "maxpos: 2\n" + FastTicks()));
  std::atomic<bool> done{false};
  std::atomic<int> odd_reports{0};
  std::vector<std::thread> pollers;
  pollers.reserve(2);
  for (int i = 0; i < 2; ++i) {
    pollers.emplace_back([&, i] {
      while (!done.load()) {
        int status = 0;
        const int result = lifter.getIoStatus(status);
        if (result != status || result < -1 || result > 1) {
          odd_reports.fetch_add(1);
        }
        // The trace copied mid-move is one move's, in order: never a mix of two.
        const std::vector<vorn_io::LifterTick> trace =
            i == 1 ? lifter.lastMoveTrace() : std::vector<vorn_io::LifterTick>{};
        for (std::size_t k = 1; k < trace.size(); ++k) {
          if (!(trace[k].seconds > trace[k - 1].seconds) ||
              !(std::fabs(trace[k].setPosition) > std::fabs(trace[k - 1].setPosition))) {
            odd_reports.fetch_add(1);
          }
        }
      }
    });
  }
  for (int move = 0; move < 20; ++move) {
    const int target = (move + 1) % 2;
    ASSERT_EQ(lifter.setIoStatus(target), 0) << move;
    // Declares the state the lifter is in anyway: the race is the point.
    lifter.setInitialStatus(1 - target);
    EXPECT_EQ(WaitForEndOfMove(lifter), target) << move;
  }
  done.store(true);
  for (std::thread& poller : pollers) {
    poller.join();
  }
  EXPECT_EQ(odd_reports.load(), 0);
}

// initParameter resets the ramp while ticks read it; built with
// -DVORN_IO_SANITIZER=thread this shows the reset race-free.
TEST(LifterConcurrency, InitParameterDuringAMoveEndsItInStateZero) {
  const std::string dev = UniqueDevName();
  UpdownLifter lifter(Description(dev, "maxpos: 400\n" + FastTicks()));
  for (int move = 0; move < 20; ++move) {
    ASSERT_EQ(lifter.setIoStatus(1), 0) << move;
    const std::size_t sent = CountOf(dev, "setPosition");
    ASSERT_TRUE(WaitFor([&] { return CountOf(dev, "setPosition") > sent + 2; })) << move;
    lifter.initParameter();
    int status = -1;
    EXPECT_EQ(lifter.getIoStatus(status), 0) << move;
  }
}

// A host watches a move through its ticks, and sees a motor call that hangs
// while it hangs: neither query waits for the tick that holds the lifter.
TEST(LifterConcurrency, ProgressCountsTheTicksAndShowsAHungCallWithoutWaiting) {
  using Clock = std::chrono::steady_clock;
  const std::string dev = UniqueDevName();
  vorn_motor_sim::MotorScript script;
  script.faults = {{"getTorque", vorn_motor_sim::Fault::kStalls, 3, 1}};  // the move's 4th tick
  vorn_motor_sim::Configure(dev, script);
  UpdownLifter lifter(Description(dev, "maxpos: 1\n" + FastTicks()));  // 6 commands, then the end
  const UpdownLifter::MoveProgress idle = lifter.moveProgress();
  EXPECT_FALSE(idle.moving);
  EXPECT_EQ(idle.ticksDone, 0U);
  EXPECT_EQ(idle.motorCall, nullptr);

  const Clock::time_point commanded = Clock::now();
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  UpdownLifter::MoveProgress hung;
  ASSERT_TRUE(WaitFor([&] {
    hung = lifter.moveProgress();
    return hung.ticksDone == 3 && hung.motorCall != nullptr && std::strcmp(hung.motorCall, "getTorque") == 0;
  }));
  EXPECT_TRUE(hung.moving);
  EXPECT_EQ(hung.target, 1);
  EXPECT_EQ(hung.ticksTotal, 7U);
  EXPECT_GE(hung.motorCallSince, commanded);
  EXPECT_LE(hung.motorCallSince, Clock::now());
  int status = 0;
  EXPECT_EQ(lifter.getIoStatus(status), -1);
  vorn_motor_sim::ReleaseStalledCalls();

  EXPECT_EQ(WaitForEndOfMove(lifter), 1);
  const UpdownLifter::MoveProgress ended = lifter.moveProgress();
  EXPECT_FALSE(ended.moving);
  EXPECT_EQ(ended.ticksDone, 7U);
  EXPECT_EQ(ended.ticksTotal, 7U);
  EXPECT_EQ(ended.motorCall, nullptr);
}

}  // namespace
