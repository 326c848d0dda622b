#include "vorn_io/private_timer.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct PrivateTimer::Worker {
  // Guards `thread` and the sleep; `running` is cleared under it, so a stop
  // request cannot slip in between the check and the wait.
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
  // Held by a stop() that waits for the loop, so a second one waits as well.
  std::mutex join_mutex;
};

PrivateTimer::PrivateTimer() : worker_(std::make_unique<Worker>()) {}

PrivateTimer::~PrivateTimer() { stop(); }

void PrivateTimer::Launch(int interval, std::function<void()> task) {
  stop();
  const std::lock_guard<std::mutex> lock(worker_->mutex);
  running.store(true);
  worker_->thread = std::thread([this, interval, task = std::move(task)] { Loop(interval, task); });
}

void PrivateTimer::LaunchScheduled(std::chrono::duration<double, std::milli> period, std::function<void()> task) {
  stop();
  const std::lock_guard<std::mutex> lock(worker_->mutex);
  running.store(true);
  // A period that cannot be scheduled runs back to back, like an interval of 0.
  const std::chrono::duration<double, std::nano> usable =
      period.count() > 0.0 && std::isfinite(period.count()) ? period : std::chrono::duration<double, std::milli>(0.0);
  worker_->thread = std::thread([this, usable, task = std::move(task)] { LoopScheduled(usable, task); });
}

void PrivateTimer::SleepUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(worker_->mutex);
  // A wait towards a fixed deadline: wake-ups by signals or spurious ones
  // resume it for the time left, and only a stop request ends it early.
  worker_->wake.wait_until(lock, deadline, [this] { return !running.load(); });
}

void PrivateTimer::Loop(int interval, const std::function<void()>& task) {
  using Clock = std::chrono::steady_clock;
  while (running.load()) {
    const Clock::time_point t0 = Clock::now();
    task();
    const Clock::time_point t1 = Clock::now();
    // Only whole milliseconds of the task's duration count.
    const std::int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count();
    if (elapsed >= interval) {
      continue;
    }
    SleepUntil(t1 + std::chrono::milliseconds(interval - elapsed));
  }
}

void PrivateTimer::LoopScheduled(std::chrono::duration<double, std::nano> period, const std::function<void()>& task) {
  using Clock = std::chrono::steady_clock;
  // Each deadline is computed from the origin, never by adding up periods,
  // so the rounding of a fractional period to the clock's ticks cannot drift.
  Clock::time_point origin = Clock::now();
  std::uint64_t calls = 0;
  while (running.load()) {
    task();
    ++calls;
    const Clock::time_point due =
        origin + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(calls));
    const Clock::time_point now = Clock::now();
    if (now - due > period) {
      // Far behind: the next call starts at once and the schedule from it.
      origin = now;
      calls = 0;
      continue;
    }
    if (now < due) {
      SleepUntil(due);
    }
  }
}

void PrivateTimer::stop() noexcept {
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    running.store(false);
    if (worker_->thread.get_id() == std::this_thread::get_id()) {
      // From within the task: the loop ends as soon as the task returns, and
      // the owner's own stop() joins the thread later.
      return;
    }
  }
  worker_->wake.notify_all();
  const std::lock_guard<std::mutex> join_lock(worker_->join_mutex);
  std::thread finished;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    finished = std::move(worker_->thread);
  }
  if (finished.joinable()) {
    finished.join();
  }
}
