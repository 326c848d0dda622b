#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstddef>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"
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
    tid_ = static_cast<pid_t>(syscall(SYS_gettid));
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
  pid_t Tid() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return tid_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Clock::time_point> starts_;
  std::vector<Clock::time_point> ends_;
  pthread_t thread_{};
  pid_t tid_ = 0;
};

/// Waits until thread `tid` of this process is asleep (state S: blocked in
/// a wait, here the timer's sleep); false on the deadline.
bool WaitUntilAsleep(pid_t tid) {
  const std::string path = "/proc/self/task/" + std::to_string(tid) + "/stat";
  const Clock::time_point deadline = Clock::now() + kDeadline;
  while (Clock::now() < deadline) {
    std::ifstream stat(path);
    std::string text;
    std::getline(stat, text);
    const std::size_t name_end = text.rfind(')');
    if (name_end != std::string::npos && name_end + 2 < text.size() && text[name_end + 2] == 'S') {
      return true;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

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
  // Late in a run, so that a schedule that restarted its origin but kept its
  // count of calls would wait as many periods as calls have run (1 s here).
  constexpr std::chrono::duration<double, std::milli> kPeriod{20.0};
  constexpr int kLong = 50;
  CallLog log;
  Ticker timer;
  std::atomic<int> calls{0};
  timer.start(kPeriod, [&] {
    log.Begin();
    if (calls.fetch_add(1) == kLong) {
      std::this_thread::sleep_for(milliseconds(75));  // three cycles missed
    }
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(kLong + 4));
  timer.stop();
  const std::vector<Clock::time_point> starts = log.Starts();
  const std::vector<Clock::time_point> ends = log.Ends();
  const Clock::time_point overrun_end = ends[kLong];
  // The call after the long one comes at once; the missed cycles are not made
  // up: the ones after it keep a period's distance from the overrun, and no
  // more than a generous bound.
  EXPECT_LT(Between(overrun_end, starts[kLong + 1]), milliseconds(60));
  EXPECT_GE(starts[kLong + 2] - overrun_end, kPeriod);
  EXPECT_GE(starts[kLong + 3] - overrun_end, kPeriod * 2.0);
  EXPECT_LT(Between(overrun_end, starts[kLong + 3]), milliseconds(400));
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
  // Both loops, stopped only once the thread is asleep: a stop that did not
  // wake it would wait out the 30 s.
  for (const bool scheduled : {false, true}) {
    SCOPED_TRACE(scheduled ? "scheduled" : "millisecond");
    CallLog log;
    Ticker timer;
    const auto task = [&] {
      log.Begin();
      log.End();
    };
    if (scheduled) {
      timer.start(std::chrono::duration<double, std::milli>(30000.0), task);
    } else {
      timer.start(30000, task);
    }
    ASSERT_TRUE(log.WaitForEnds(1));
    ASSERT_TRUE(WaitUntilAsleep(log.Tid()));
    const Clock::time_point before = Clock::now();
    timer.stop();
    EXPECT_LT(Between(before, Clock::now()), milliseconds(5000));
    EXPECT_EQ(log.Count(), 1U);
  }
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

/// The scheduling and timer slack of the thread that runs a call.
struct ThreadTraits {
  int policy = -1;
  int priority = -1;
  long slack_ns = -1;
};

ThreadTraits TraitsOfThisThread() {
  ThreadTraits traits;
  sched_param parameters{};
  pthread_getschedparam(pthread_self(), &traits.policy, &parameters);
  traits.priority = parameters.sched_priority;
  traits.slack_ns = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
  return traits;
}

TEST(PrivateTimerTest, TheThreadRunsWithTheSmallestSlackAndThePolicyAskedFor) {
  struct Case {
    const char* name;
    int priority;
    int result;  // when the process may use real-time scheduling
    int policy;
  };
  const bool real_time = vorn_io_test::MayUseRealTime();
  const std::vector<Case> cases = {
      {"normal", 0, 0, SCHED_OTHER},
      {"fifo 10", 10, real_time ? 0 : EPERM, real_time ? SCHED_FIFO : SCHED_OTHER},
      {"fifo 99", 99, real_time ? 0 : EPERM, real_time ? SCHED_FIFO : SCHED_OTHER},
      {"above 99", 100, EINVAL, SCHED_OTHER},
      {"negative", -1, EINVAL, SCHED_OTHER},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::promise<ThreadTraits> first_call;
    std::atomic<bool> told{false};
    Ticker timer;
    const int result = timer.start(std::chrono::duration<double, std::milli>(5.0), c.priority, [&] {
      if (!told.exchange(true)) {
        first_call.set_value(TraitsOfThisThread());
      }
    });
    EXPECT_EQ(result, c.result);
    // The policy is in force from the first call on.
    const ThreadTraits traits = first_call.get_future().get();
    timer.stop();
    EXPECT_EQ(traits.policy, c.policy);
    EXPECT_EQ(traits.priority, c.policy == SCHED_FIFO ? c.priority : 0);
    EXPECT_LE(traits.slack_ns, 1);  // a real-time thread reads 0: it has none at all
    EXPECT_GE(traits.slack_ns, 0);
  }
  // The millisecond loop sleeps with the smallest slack too.
  std::promise<ThreadTraits> first_call;
  std::atomic<bool> told{false};
  Ticker timer;
  timer.start(5, [&] {
    if (!told.exchange(true)) {
      first_call.set_value(TraitsOfThisThread());
    }
  });
  EXPECT_EQ(first_call.get_future().get().slack_ns, 1);
}

TEST(PrivateTimerTest, FinishRunsTheLastWorkOnTheTimersThreadAfterTheLastCall) {
  // A running timer, and one that never started: the last work runs on a
  // thread of the timer's, never the caller's, and no call follows it.
  for (const bool started : {true, false}) {
    SCOPED_TRACE(started ? "running" : "never started");
    CallLog log;
    Ticker timer;
    if (started) {
      timer.start(std::chrono::duration<double, std::milli>(5.0), [&] {
        log.Begin();
        log.End();
      });
      ASSERT_TRUE(log.WaitForEnds(2));
    }
    std::atomic<std::size_t> calls_before_last{0};
    std::atomic<bool> on_caller{true};
    std::atomic<bool> on_tick_thread{false};
    const pthread_t caller = pthread_self();
    timer.finish([&] {
      calls_before_last = log.Count();
      on_caller = pthread_equal(pthread_self(), caller) != 0;
      on_tick_thread = started && pthread_equal(pthread_self(), log.Thread()) != 0;
    });
    EXPECT_FALSE(timer.running.load());
    ASSERT_TRUE(timer.awaitEnd(kDeadline));
    EXPECT_FALSE(on_caller.load());
    EXPECT_EQ(log.Count(), calls_before_last.load());
    EXPECT_EQ(on_tick_thread.load(), started);
  }
}

TEST(PrivateTimerTest, AThreadLeftOnAHungTaskOutlivesItsTimerAndEndsWhenTheTaskReturns) {
  CallLog log;
  Gate gate;
  // Shared with the thread, which may still be in set_value when the test ends.
  auto last_ran = std::make_shared<std::promise<void>>();
  std::future<void> ran = last_ran->get_future();
  auto timer = std::make_unique<Ticker>();
  timer->start(std::chrono::duration<double, std::milli>(5.0), [&] {
    log.Begin();
    gate.Pass();
    log.End();
  });
  ASSERT_TRUE(log.WaitForStarts(1));
  timer->finish([last_ran] { last_ran->set_value(); });
  // Hung: the bounded wait gives up, and the timer goes without waiting.
  EXPECT_FALSE(timer->awaitEnd(milliseconds(50)));
  timer->abandon();
  EXPECT_TRUE(timer->awaitEnd(milliseconds(0)));
  const Clock::time_point before = Clock::now();
  timer.reset();
  EXPECT_LT(Between(before, Clock::now()), milliseconds(5000));
  // Released, the task returns and the last work runs, with the timer gone.
  gate.Open();
  ASSERT_EQ(ran.wait_for(kDeadline), std::future_status::ready);
  EXPECT_EQ(log.Count(), 1U);
}

}  // namespace
