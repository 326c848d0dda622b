#include "vorn_io/private_timer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

struct PrivateTimer::Worker {
  std::mutex mutex;
  std::condition_variable wake;
  std::thread thread;
};

PrivateTimer::PrivateTimer() : worker_(std::make_unique<Worker>()) {}

PrivateTimer::~PrivateTimer() { stop(); }

void PrivateTimer::Launch(int interval, std::function<void()> task) {
  stop();
  running.store(true);
  worker_->thread = std::thread([this, interval, task = std::move(task)] {
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
      const std::chrono::milliseconds remaining(interval - elapsed);
      std::unique_lock<std::mutex> lock(worker_->mutex);
      // Waits out the whole remainder (spurious and signal wake-ups included);
      // only a stop request ends it early.
      worker_->wake.wait_until(lock, Clock::now() + remaining, [this] { return !running.load(); });
    }
  });
}

void PrivateTimer::stop() noexcept {
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    running.store(false);
  }
  worker_->wake.notify_all();
  std::thread& thread = worker_->thread;
  if (!thread.joinable()) {
    return;
  }
  if (thread.get_id() == std::this_thread::get_id()) {
    thread.detach();
  } else {
    thread.join();
  }
}
