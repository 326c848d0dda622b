#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace vorn_io::lifter {

/// The lifter's lock, which a command may give up waiting for: a tick holds
/// it across motor calls, and a motor library may never return from one.
/// Meets the Lockable requirements, so `std::lock_guard` takes it.
class TickLock {
 public:
  void lock() {
    std::unique_lock<std::mutex> guard(mutex_);
    free_.wait(guard, [this] { return !held_; });
    held_ = true;
  }

  bool try_lock() {
    const std::lock_guard<std::mutex> guard(mutex_);
    if (held_) {
      return false;
    }
    held_ = true;
    return true;
  }

  /// Waits at most `bound` for the lock; false when it did not come free.
  bool try_lock_for(std::chrono::nanoseconds bound) {
    std::unique_lock<std::mutex> guard(mutex_);
    if (!free_.wait_for(guard, bound, [this] { return !held_; })) {
      return false;
    }
    held_ = true;
    return true;
  }

  void unlock() {
    {
      const std::lock_guard<std::mutex> guard(mutex_);
      held_ = false;
    }
    free_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable free_;
  bool held_ = false;
};

}  // namespace vorn_io::lifter
