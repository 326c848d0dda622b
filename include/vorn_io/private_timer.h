#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <utility>

#include "vorn_io/export.h"

/// Runs a task periodically on a thread of its own.
///
/// With a millisecond interval, each cycle calls the task, measures how long
/// it took in whole milliseconds (the fraction dropped) and sleeps for the
/// rest of the interval. With a `std::chrono` period, calls start on a fixed
/// schedule, one period apart, fractions of a millisecond included, so that
/// the calls keep the period on average whatever the task's duration. Both
/// sleep to absolute deadlines of the monotonic clock, which keeps a
/// wall-clock step from freezing or hurrying the owner, and the thread asks
/// the kernel for the smallest timer slack (1 ns), so that it wakes when it
/// is due rather than up to 50 us later. A task that overruns is followed at
/// once by the next call; missed cycles are not made up. A signal delivered
/// during the sleep does not shorten it; only `stop()` (or `finish`) does.
///
/// Devices inherit this privately; only the owner starts and stops it. The
/// owner must call `stop()` (or `finish` and then `awaitEnd`) first thing in
/// its destructor, before any state the task touches is torn down, or hold
/// that state in the task itself. The task must not destroy its owner, nor
/// call `start` on its own timer.
///
/// The thread holds only its task and a state shared with the timer, never
/// the timer itself: an owner whose task hangs may `abandon` the thread and
/// be destroyed while the thread lives on.
class VORN_IO_EXPORT PrivateTimer {
 public:
  PrivateTimer();
  /// Stops the timer if the owner has not done so (an abandoned thread is
  /// not waited for).
  ~PrivateTimer();

  PrivateTimer(const PrivateTimer&) = delete;
  PrivateTimer& operator=(const PrivateTimer&) = delete;
  PrivateTimer(PrivateTimer&&) = delete;
  PrivateTimer& operator=(PrivateTimer&&) = delete;

  /// Starts calling `task` every `interval` milliseconds on a new thread and
  /// returns at once; the first call is made without an initial wait. An
  /// interval of 0 or less runs the cycles back to back. The task's result is
  /// ignored; it must not throw. Starting a running timer stops it first.
  template <typename Task>
  void start(int interval, Task task) {
    Launch(interval, std::function<void()>([task = std::move(task)]() mutable { static_cast<void>(task()); }));
  }

  /// Like the millisecond `start`, but call n starts `n * period` after the
  /// first one. A call that ends late by less than a period is followed at
  /// once and the schedule holds; one that ends late by more than a period
  /// restarts the schedule from its end, so that no burst of calls makes up
  /// the missed ones. A period that is not above 0 (or not a number) runs
  /// the calls back to back.
  template <typename Task>
  void start(std::chrono::duration<double, std::milli> period, Task task) {
    static_cast<void>(start(period, 0, std::move(task)));
  }

  /// Like the scheduled `start`, with the thread's scheduling chosen: a
  /// `priority` of 1 to 99 runs it under the real-time policy SCHED_FIFO at
  /// that priority, 0 under the normal policy. Returns 0, or the error number
  /// with which the system refused the policy (EPERM when the process may not
  /// use real-time scheduling, EINVAL for a priority outside 0 to 99); the
  /// thread then runs under the normal policy all the same. The policy is in
  /// force before the first call.
  template <typename Task>
  int start(std::chrono::duration<double, std::milli> period, int priority, Task task) {
    return LaunchOnSchedule(period, priority,
                            std::function<void()>([task = std::move(task)]() mutable { static_cast<void>(task()); }));
  }

  /// Clears `running`, cuts a sleep in progress short, and returns once the
  /// thread has left its loop: the task is never called again. A task call
  /// already under way is completed first. Stopping twice, stopping from two
  /// threads at once, or stopping a timer that never started is harmless.
  /// Called from within the task itself, it ends the loop after that call
  /// without waiting.
  void stop() noexcept;

  /// Ends the loop as `stop()` does but without waiting: the task call under
  /// way is completed, then `last` runs once on the timer's thread, and the
  /// thread ends. A timer that is not running starts a thread for `last`
  /// alone. Wait for it with `awaitEnd`. The thread is the owner's place for
  /// work that must not hold the owner's caller if it hangs (a device's
  /// shutdown on a motor library that may never return).
  template <typename Task>
  void finish(Task last) {
    Finish(std::function<void()>([last = std::move(last)]() mutable { static_cast<void>(last()); }));
  }

  /// Waits at most `bound` for the timer's thread to end; true once it has
  /// ended (or when there is none), false when it still runs.
  bool awaitEnd(std::chrono::nanoseconds bound) noexcept;

  /// Leaves the timer's thread to run on by itself, for an owner that gave up
  /// waiting for a task that does not return: the loop is ended as by
  /// `stop()`, the thread keeps its task (and whatever the task holds) alive
  /// and ends as soon as the task returns. The timer is then as if stopped.
  void abandon() noexcept;

 protected:
  /// True from `start` until the loop is told to end.
  std::atomic<bool> running{false};

  /// Within a task call on the timer's thread: the time the call was due to
  /// start (its deadline on the schedule; for the millisecond `start`, the
  /// end of the sleep before it, or the end of the previous call when there
  /// was none), so that a task can tell how late it started. Anywhere else:
  /// a default `time_point` (the clock's epoch).
  static std::chrono::steady_clock::time_point callDue() noexcept;

 private:
  void Launch(int interval, std::function<void()> task);
  int LaunchOnSchedule(std::chrono::duration<double, std::milli> period, int priority, std::function<void()> task);
  void Finish(std::function<void()> last);

  struct Worker;
  std::unique_ptr<Worker> worker_;
};
