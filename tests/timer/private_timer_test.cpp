#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_io/private_timer.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Generous: the machines running these tests are shared and noisy.
constexpr milliseconds kDeadline{10000};

/// A timer owner that exposes what the tests look at.
class Ticker : public PrivateTimer {
 public:
  using PrivateTimer::running;
};

/// What the task saw: when each call started and ended, and on which thread.
class CallLog {
 public:
  void Begin() {
    const std::lock_guard<std::mutex> lock(mutex_);
    starts_.push_back(Clock::now());
    thread_ = pthread_self();
    changed_.notify_all();
  }
  void End() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ends_.push_back(Clock::now());
    changed_.notify_all();
  }
  /// Waits until `count` calls have ended; false on the deadline.
  bool WaitForEnds(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return ends_.size() >= count; });
  }
  bool WaitForStarts(std::size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kDeadline, [&] { return starts_.size() >= count; });
  }
  std::vector<Clock::time_point> Starts() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return starts_;
  }
  std::vector<Clock::time_point> Ends() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ends_;
  }
  std::size_t Count() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return starts_.size();
  }
  pthread_t Thread() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return thread_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Clock::time_point> starts_;
  std::vector<Clock::time_point> ends_;
  pthread_t thread_{};
};

/// Lets a task block until the test releases it.
class Gate {
 public:
  void Open() {
    const std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Pass() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

milliseconds Between(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<milliseconds>(to - from);
}

TEST(PrivateTimerTest, CallsStartOneIntervalApartWhenTheTaskIsShorter) {
  CallLog log;
  Ticker timer;
  timer.start(100, [&] {
    log.Begin();
    std::this_thread::sleep_for(milliseconds(30));
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(4));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  for (std::size_t i = 1; i < 4; ++i) {
    // Measured from start to start: the task's 30 ms are part of the period.
    EXPECT_GE(Between(starts[i - 1], starts[i]), milliseconds(95)) << "call " << i;
    EXPECT_LT(Between(starts[i - 1], starts[i]), milliseconds(300)) << "call " << i;
  }
}

TEST(PrivateTimerTest, AnOverrunIsFollowedAtOnceAndNotMadeUpAfterwards) {
  CallLog log;
  Ticker timer;
  std::atomic<int> calls{0};
  timer.start(100, [&] {
    log.Begin();
    if (calls.fetch_add(1) < 2) {
      std::this_thread::sleep_for(milliseconds(250));
    }
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(6));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  const std::vector<Clock::time_point> ends = log.Ends();
  // No sleep after an overrun: the next call starts right after the long one.
  EXPECT_LT(Between(ends[0], starts[1]), milliseconds(60));
  EXPECT_LT(Between(ends[1], starts[2]), milliseconds(60));
  // Once the task is fast again, no burst of calls makes up the missed cycles.
  for (std::size_t i = 3; i < 6; ++i) {
    EXPECT_GE(Between(starts[i - 1], starts[i]), milliseconds(95)) << "call " << i;
  }
}

TEST(PrivateTimerTest, AScheduledPeriodKeepsItsFractionOfAMillisecond) {
  // 2.5 ms: whole milliseconds would start the calls 0.5 ms early each.
  constexpr std::chrono::duration<double, std::milli> kPeriod{2.5};
  constexpr std::size_t kCalls = 200;
  CallLog log;
  Ticker timer;
  timer.start(kPeriod, [&] {
    log.Begin();
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(kCalls + 1));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  // Calls never come early against the schedule of the first one; the slack
  // covers only the moment between the schedule's origin and that call.
  const std::chrono::duration<double, std::milli> slack{1.0};
  for (std::size_t i = 1; i <= kCalls; ++i) {
    ASSERT_GE(starts[i] - starts[0], kPeriod * static_cast<double>(i) - slack) << "call " << i;
  }
  EXPECT_LT(starts[kCalls] - starts[0], kPeriod * static_cast<double>(kCalls) * 10.0);
}

TEST(PrivateTimerTest, AScheduledOverrunOfMoreThanAPeriodRestartsTheScheduleWithoutABurst) {
  constexpr std::chrono::duration<double, std::milli> kPeriod{20.0};
  CallLog log;
  Ticker timer;
  std::atomic<int> calls{0};
  timer.start(kPeriod, [&] {
    log.Begin();
    if (calls.fetch_add(1) == 1) {
      std::this_thread::sleep_for(milliseconds(75));  // three cycles missed
    }
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(5));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  const std::vector<Clock::time_point> ends = log.Ends();
  // The call after the long one comes at once; the missed cycles are not made
  // up: the one after it keeps a period's distance from the overrun.
  EXPECT_LT(Between(ends[1], starts[2]), milliseconds(60));
  EXPECT_GE(starts[3] - ends[1], kPeriod);
  EXPECT_GE(starts[4] - ends[1], kPeriod * 2.0);
}

void IgnoreSignal(int /*signal*/) {}

TEST(PrivateTimerTest, ASignalDuringTheSleepDoesNotShortenIt) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: an interrupted sleep returns early unless resumed
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

  CallLog log;
  Ticker timer;
  timer.start(400, [&] {
    log.Begin();
    log.End();
  });
  ASSERT_TRUE(log.WaitForEnds(1));
  const pthread_t timer_thread = log.Thread();
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(milliseconds(30));
    if (log.Count() == 1) {
      ASSERT_EQ(pthread_kill(timer_thread, SIGUSR1), 0);
    }
  }
  ASSERT_TRUE(log.WaitForStarts(2));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  EXPECT_GE(Between(starts[0], starts[1]), milliseconds(395));
  sigaction(SIGUSR1, &previous, nullptr);
}

TEST(PrivateTimerTest, StopDuringTheTaskWaitsForThatCallAndPreventsAnother) {
  CallLog log;
  Gate gate;
  Ticker timer;
  timer.start(10, [&] {
    log.Begin();
    gate.Pass();
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(1));
  std::future<void> stopping = std::async(std::launch::async, [&] { timer.stop(); });
  // stop() must not return while the task is still under way.
  EXPECT_EQ(stopping.wait_for(milliseconds(100)), std::future_status::timeout);
  EXPECT_TRUE(log.Ends().empty());
  gate.Open();
  ASSERT_EQ(stopping.wait_for(kDeadline), std::future_status::ready);
  // Once stop() has returned the loop is gone, so the count is final.
  EXPECT_EQ(log.Count(), 1U);
  EXPECT_EQ(log.Ends().size(), 1U);
  EXPECT_FALSE(timer.running.load());
}

TEST(PrivateTimerTest, StopDuringTheSleepReturnsPromptly) {
  CallLog log;
  Ticker timer;
  timer.start(60000, [&] {
    log.Begin();
    log.End();
  });
  ASSERT_TRUE(log.WaitForEnds(1));
  const Clock::time_point before = Clock::now();
  timer.stop();
  EXPECT_LT(Between(before, Clock::now()), milliseconds(5000));
  EXPECT_EQ(log.Count(), 1U);
}

TEST(PrivateTimerTest, StartReturnsAtOnceAndTheFirstCallIsNotDelayed) {
  CallLog log;
  Gate gate;
  Ticker timer;
  const Clock::time_point before = Clock::now();
  timer.start(60000, [&] {
    log.Begin();
    gate.Pass();
    log.End();
  });
  EXPECT_TRUE(timer.running.load());
  // Back from start() while the first call cannot have finished.
  EXPECT_TRUE(log.Ends().empty());
  ASSERT_TRUE(log.WaitForStarts(1));
  EXPECT_LT(Between(before, log.Starts()[0]), milliseconds(5000));
  gate.Open();
  timer.stop();
}

TEST(PrivateTimerTest, AnIntervalOfZeroOrLessRunsBackToBack) {
  for (const int interval : {0, -5}) {
    std::atomic<int> calls{0};
    Ticker timer;
    const Clock::time_point before = Clock::now();
    timer.start(interval, [&] { calls.fetch_add(1); });
    while (calls.load() < 1000 && Clock::now() - before < kDeadline) {
      std::this_thread::yield();
    }
    timer.stop();
    EXPECT_GE(calls.load(), 1000) << "interval " << interval;
  }
}

TEST(PrivateTimerTest, StoppingTwiceOrNeverStartedIsHarmless) {
  {
    Ticker never_started;
    never_started.stop();
    never_started.stop();
    EXPECT_FALSE(never_started.running.load());
  }
  CallLog log;
  {
    Ticker timer;
    timer.start(5, [&] {
      log.Begin();
      log.End();
    });
    ASSERT_TRUE(log.WaitForEnds(2));
    timer.stop();
    const std::size_t calls = log.Count();
    timer.stop();
    EXPECT_EQ(log.Count(), calls);
  }  // the destructor stops once more
}

TEST(PrivateTimerTest, StopsFromTwoThreadsBothWaitForTheLoop) {
  CallLog log;
  Gate gate;
  Ticker timer;
  timer.start(10, [&] {
    log.Begin();
    gate.Pass();
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(1));
  std::future<void> first = std::async(std::launch::async, [&] { timer.stop(); });
  std::future<void> second = std::async(std::launch::async, [&] { timer.stop(); });
  EXPECT_EQ(second.wait_for(milliseconds(100)), std::future_status::timeout);
  EXPECT_EQ(first.wait_for(milliseconds(0)), std::future_status::timeout);
  gate.Open();
  ASSERT_EQ(first.wait_for(kDeadline), std::future_status::ready);
  ASSERT_EQ(second.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(log.Count(), 1U);
}

TEST(PrivateTimerTest, StopFromWithinTheTaskEndsTheLoopAfterThatCall) {
  CallLog log;
  Ticker timer;
  std::atomic<int> calls{0};
  timer.start(5, [&] {
    log.Begin();
    if (calls.fetch_add(1) == 2) {
      timer.stop();
    }
    log.End();
  });
  ASSERT_TRUE(log.WaitForEnds(3));
  timer.stop();  // joins the loop, which has ended by itself
  EXPECT_EQ(log.Count(), 3U);
}

TEST(PrivateTimerTest, CanBeStartedAgainAfterAStop) {
  CallLog first;
  CallLog second;
  Ticker timer;
  timer.start(5, [&] {
    first.Begin();
    first.End();
  });
  ASSERT_TRUE(first.WaitForEnds(1));
  timer.start(5, [&] {
    second.Begin();
    second.End();
  });
  const std::size_t first_calls = first.Count();
  ASSERT_TRUE(second.WaitForEnds(2));
  timer.stop();
  // Restarting stopped the old loop: only the new task runs from then on.
  EXPECT_EQ(first.Count(), first_calls);
}

}  // namespace
