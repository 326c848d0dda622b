// Settings and situations that would otherwise start a move that never ends,
// or call through an empty motor handle.
#include <pthread.h>
#include <sched.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "lifter_test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using namespace lifter_test;

TEST(LifterSettings, LifterWithoutMotorRefusesMoves) {
  LogCapture capture;
  {
    UpdownLifter lifter(YAML::Load("vendor: servo\n"));
    EXPECT_EQ(lifter.setIoStatus(1), -1);
    EXPECT_EQ(lifter.setIoStatus(0), 0);  // already there
    EXPECT_EQ(lifter.setIoStatus(2), -1);
    int status = -1;
    EXPECT_EQ(lifter.getIoStatus(status), 0);
  }
  const std::string log = capture.Text();
  EXPECT_EQ(Occurrences(log, "[ERROR] Lifter has no motor, cmd rejected: 1\r\n"), 1U);
  EXPECT_EQ(Occurrences(log, "[WARN] Lifter already in stat: 0\r\n"), 1U);
  EXPECT_EQ(Occurrences(log, "[WARN] Lifter cmd error: 2\r\n"), 1U);
}

TEST(LifterSettings, FreqThatGivesNoUsablePeriodIsReplaced) {
  struct Case {
    std::string freq;
    unsigned int used;
    std::string error;
  };
  // Above 1000 the whole-millisecond interval was 0: ticks ran back to back.
  const std::vector<Case> cases = {
      {"0", 10, "[ERROR] Invalid freq: 0, use 10\r\n"},
      {"1001", 1000, "[ERROR] Invalid freq: 1001, use 1000\r\n"},
      {"4000000000", 1000, "[ERROR] Invalid freq: 4000000000, use 1000\r\n"},
  };
  for (const Case& c : cases) {
    const std::string dev = UniqueDevName();
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, "freq: " + c.freq + "\n"));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      ASSERT_TRUE(WaitFor([&] { return CountOf(dev, "setPosition") > 0; }));
    }
    // The step stays speed / freq, with the frequency used.
    EXPECT_EQ(static_cast<float>(SetPositions(dev).at(0)), -(1.5707964F / static_cast<float>(c.used))) << c.freq;
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, c.error), 1U) << c.freq;
    EXPECT_EQ(Occurrences(log, "Invalid freq"), 1U) << c.freq;
  }
}

/// Threads of this process under SCHED_FIFO at `priority` (from /proc:
/// the 40th field of a thread's stat is its real-time priority, the 41st
/// its policy).
std::size_t ThreadsUnderFifoAt(int priority) {
  std::size_t count = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream stat(task.path() / "stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t name_end = text.rfind(')');
    if (name_end == std::string::npos) {
      continue;
    }
    std::istringstream fields(text.substr(name_end + 2));
    std::vector<std::string> values{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    // Fields from the 3rd on: the 40th and 41st are at 37 and 38.
    if (values.size() > 38 && values[37] == std::to_string(priority) && values[38] == "1") {
      ++count;
    }
  }
  return count;
}

TEST(LifterSettings, ThreadPriorityRunsTheTicksUnderFifoOrIsReplaced) {
  struct Case {
    std::string value;
    int used;
    std::string error;  // empty: none
  };
  // Unreadable values silently give the fallback, as "freq" does.
  const std::vector<Case> cases = {
      {"0", 0, ""},
      {"37", 37, ""},
      {"100", 0, "[ERROR] Invalid thread_priority: 100, use 0\r\n"},
      {"-4", 0, "[ERROR] Invalid thread_priority: -4, use 0\r\n"},
      {"high", 0, ""},
  };
  const bool real_time = vorn_io_test::MayUseRealTime();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string dev = UniqueDevName();
    LogCapture capture;
    UpdownLifter lifter(Description(dev, "thread_priority: " + c.value + "\n"));
    ASSERT_TRUE(WaitFor([&] { return CountOf(dev, "setEnable") > 0; }));
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "[ERROR] "), c.error.empty() ? 0U : 1U) << log;
    if (!c.error.empty()) {
      EXPECT_EQ(Occurrences(log, c.error), 1U) << log;
    }
    // Allowed, the tick thread runs under SCHED_FIFO at that priority; else
    // one warning says what was asked, why not, and how to allow it.
    const bool fifo = c.used > 0 && real_time;
    if (c.used > 0) {
      EXPECT_EQ(ThreadsUnderFifoAt(c.used), fifo ? 1U : 0U);
    }
    EXPECT_EQ(Occurrences(log, "[WARN] SCHED_FIFO at thread_priority " + std::to_string(c.used) +
                                   " refused: Operation not permitted; the lifter runs at normal scheduling. Allow "
                                   "it with an rtprio limit of at least "),
              c.used > 0 && !real_time ? 1U : 0U)
        << log;
  }
}

TEST(LifterSettings, TravelThatIsNoFiniteNumberBecomesTheFallback) {
  struct Case {
    std::string maxpos;
    std::string error;  // empty: none
    std::string travel;
  };
  const std::vector<Case> cases = {
      {".nan", "[ERROR] Invalid maxpos: nan, use 450.00\r\n", "maxpos: 450.00\r\n"},
      {"-.inf", "[ERROR] Invalid maxpos: inf, use 450.00\r\n", "maxpos: 450.00\r\n"},
      {".inf", "", "maxpos: 480.00\r\n"},  // capped like any other large travel
  };
  for (const Case& c : cases) {
    const std::string dev = UniqueDevName();
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, "maxpos: " + c.maxpos + "\n" + FastTicks(2.0F)));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      EXPECT_EQ(WaitForEndOfMove(lifter), 1) << c.maxpos;
    }
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "Invalid maxpos"), c.error.empty() ? 0U : 1U) << c.maxpos;
    if (!c.error.empty()) {
      EXPECT_EQ(Occurrences(log, c.error), 1U) << c.maxpos;
    }
    EXPECT_EQ(Occurrences(log, c.travel), 1U) << c.maxpos;
  }
}

TEST(LifterSettings, SpeedThatCannotEndAMoveBecomesTheFallback) {
  struct Case {
    std::string speed;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"0", "[ERROR] Invalid speed: 0, use 3.14\r\n"},        {"-0.0", "[ERROR] Invalid speed: -0, use 3.14\r\n"},
      {".nan", "[ERROR] Invalid speed: nan, use 3.14\r\n"},   {".inf", "[ERROR] Invalid speed: inf, use 3.14\r\n"},
      {"-.inf", "[ERROR] Invalid speed: -inf, use 3.14\r\n"},
  };
  const std::vector<float> ramp = ExpectedRamp(-(3.14F / static_cast<float>(kFastFreq)), 1.0F);
  for (const Case& c : cases) {
    const std::string dev = UniqueDevName();
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, fmt::format("maxpos: 1\nfreq: {}\nspeed: {}\n", kFastFreq, c.speed)));
      ASSERT_EQ(lifter.setIoStatus(1), 0);
      EXPECT_EQ(WaitForEndOfMove(lifter), 1) << c.speed;
    }
    const std::vector<double> sent = SetPositions(dev);
    ASSERT_EQ(sent.size(), ramp.size() + 1) << c.speed;  // and the destructor's hold
    EXPECT_EQ(sent[0], static_cast<double>(ramp[0])) << c.speed;
    EXPECT_EQ(Occurrences(capture.Text(), c.error), 1U) << c.speed;
  }
}

TEST(LifterSettings, NegativeSpeedIsKeptAndReversesTheRamp) {
  const std::string dev = UniqueDevName();
  LogCapture capture;
  {
    UpdownLifter lifter(Description(dev, "maxpos: 1\n" + FastTicks(-kDefaultStep)));
    ASSERT_EQ(lifter.setIoStatus(1), 0);
    EXPECT_EQ(WaitForEndOfMove(lifter), 1);
  }
  EXPECT_EQ(static_cast<float>(SetPositions(dev).at(0)), kDefaultStep);
  EXPECT_EQ(Occurrences(capture.Text(), "Invalid speed"), 0U);
}

TEST(LifterSettings, RampThatNeverEndsOrSendsNothingRefusesMoves) {
  struct Case {
    std::string extra;
    std::string refusal;  // the error line of the refused move
  };
  const std::vector<Case> cases = {
      // Each ramp would stall below its travel in single precision.
      {"speed: 0.00001\n", "Ramp step -1e-06 per tick cannot cover maxpos 450.00, cmd rejected: 1\r\n"},
      {"maxpos: -1e7\n", "cannot cover maxpos 10000000.00, cmd rejected: 1\r\n"},
      {"freq: 1000\nspeed: 0.01\n", "cannot cover maxpos 450.00, cmd rejected: 1\r\n"},
      // The first step passes the travel: the move would end without a command.
      {"maxpos: 12\nfreq: 50\nspeed: 1000\n",
       "Ramp step -20 per tick passes maxpos 12.00 on the first tick, cmd rejected: 1\r\n"},
      {"maxpos: 12\nspeed: 1e30\n", "passes maxpos 12.00 on the first tick, cmd rejected: 1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.extra);
    const std::string dev = UniqueDevName();
    LogCapture capture;
    {
      UpdownLifter lifter(Description(dev, c.extra));
      EXPECT_EQ(lifter.setIoStatus(1), -1);
      EXPECT_EQ(lifter.setIoStatus(0), 0);
      int status = -1;
      EXPECT_EQ(lifter.getIoStatus(status), 0);
      EXPECT_EQ(CountOf(dev, "setZeroPosition"), 1U);
    }
    const std::string log = capture.Text();
    EXPECT_EQ(Occurrences(log, "moves will be refused\r\n"), 1U);
    EXPECT_EQ(Occurrences(log, ", cmd rejected: 1\r\n"), 1U);
    EXPECT_EQ(Occurrences(log, c.refusal), 1U) << log;
  }
}

TEST(LifterSettings, ZeroTravelHasNothingToMove) {
  const std::string dev = UniqueDevName();
  UpdownLifter lifter(Description(dev, "maxpos: 0\n" + FastTicks()));
  ASSERT_EQ(lifter.setIoStatus(1), 0);
  EXPECT_EQ(WaitForEndOfMove(lifter), 1);
  EXPECT_TRUE(lifter.lastMove().reached);
  EXPECT_EQ(CountOf(dev, "setPosition"), 0U);
}

TEST(LifterSettings, StepsAtTheEdgesOfTheRampRulesAreJudgedExactly) {
  // At a travel of 1 floats lie 2^-23 apart: half of that is the last step
  // that is lost, anything above it carries the ramp on.
  const float spacing = std::nextafter(1.0F, 2.0F) - 1.0F;
  struct Case {
    float speed;
    int result;
  };
  // A step of exactly the travel sends one command; the float above it, none.
  for (const Case& c : {Case{spacing / 2.0F, -1}, Case{spacing, 0}, Case{1.0F, 0}, Case{1.0F + spacing, -1}}) {
    SCOPED_TRACE(c.speed);
    UpdownLifter lifter(Description(UniqueDevName(), fmt::format("maxpos: 1\nfreq: 1\nspeed: {}\n", c.speed)));
    EXPECT_EQ(lifter.setIoStatus(1), c.result);
  }
}

}  // namespace
