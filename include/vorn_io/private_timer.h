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
/// run on the monotonic clock, which keeps a wall-clock step from freezing or
/// hurrying the owner. A task that overruns is followed at once by the next
/// call; missed cycles are not made up. A signal delivered during the sleep
/// does not shorten it; only `stop()` does.
///
/// Devices inherit this privately; only the owner starts and stops it. The
/// owner must call `stop()` first thing in its destructor, before any state
/// the task touches is torn down. The task must not destroy its owner, nor
/// call `start` on its own timer.
class VORN_IO_EXPORT PrivateTimer {
 public:
  PrivateTimer();
  /// Stops the timer if the owner has not done so.
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
    LaunchScheduled(period, std::function<void()>([task = std::move(task)]() mutable { static_cast<void>(task()); }));
  }

  /// Clears `running`, cuts a sleep in progress short, and returns once the
  /// thread has left its loop: the task is never called again. A task call
  /// already under way is completed first. Stopping twice, stopping from two
  /// threads at once, or stopping a timer that never started is harmless.
  /// Called from within the task itself, it ends the loop after that call
  /// without waiting.
  void stop() noexcept;

 protected:
  /// True while the periodic loop is to go on.
  std::atomic<bool> running{false};

 private:
  void Launch(int interval, std::function<void()> task);
  void LaunchScheduled(std::chrono::duration<double, std::milli> period, std::function<void()> task);
  void Loop(int interval, const std::function<void()>& task);
  void LoopScheduled(std::chrono::duration<double, std::nano> period, const std::function<void()>& task);
  /// Sleeps until `deadline` or a stop request, whichever comes first.
  void SleepUntil(std::chrono::steady_clock::time_point deadline);

  struct Worker;
  std::unique_ptr<Worker> worker_;
};
