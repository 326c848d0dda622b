#pragma once

// First, as Python asks.
#include <pybind11/pybind11.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "src/errors.h"
#include "vorn_io/park_outcome.h"

namespace vorn_io::python {

/// Whether a device has `park()`: the lifter and the servo gripper.
template <typename T, typename = void>
inline constexpr bool kParks = false;
template <typename T>
inline constexpr bool kParks<T, std::void_t<decltype(std::declval<T&>().park())>> = true;

/// Owns one device for Python, where any thread may close it while another
/// still waits on it. Every call on the device holds a `Use`; `Close` marks
/// the device closing (a waiting move sees that and gives up), waits until
/// no call uses it any more and then destroys it, which parks its motor. A
/// call after that raises ClosedError rather than touch a freed device.
///
/// `Calls` serialises the calls of a device that takes one thread at a time
/// (the servo gripper); each call takes it for as long as it runs.
template <typename Device>
class DeviceHandle {
 public:
  DeviceHandle(std::unique_ptr<Device> device, std::string name) : device_(std::move(device)), name_(std::move(name)) {}

  /// Parks the device if Python never closed it. Python holds its lock when
  /// it destroys the handle; a shutdown that waits must not keep it.
  ~DeviceHandle() {
    if (PyGILState_Check() != 0) {
      PyThreadState* const state = PyEval_SaveThread();
      Close();
      PyEval_RestoreThread(state);
    } else {
      Close();
    }
  }

  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  class Use {
   public:
    explicit Use(DeviceHandle& handle) : handle_(handle) { handle_.Enter(); }
    ~Use() { handle_.Leave(); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    Device& operator*() const { return *handle_.device_; }
    Device* operator->() const { return handle_.device_.get(); }

   private:
    DeviceHandle& handle_;
  };

  /// Parks the device once no call uses it (`park`, for a device that has
  /// one) and destroys it; returns `park`'s outcome, or nothing for a device
  /// without it and when closing twice, which does nothing. Called without
  /// the interpreter's lock.
  std::optional<ParkOutcome> Close() {
    const std::lock_guard<std::mutex> one_close(closing_mutex_);
    std::unique_ptr<Device> device;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      closing_.store(true);
      idle_.wait(lock, [this] { return uses_ == 0; });
      device = std::move(device_);
    }
    std::optional<ParkOutcome> outcome;
    if constexpr (kParks<Device>) {
      if (device) {
        outcome = device->park();
      }
    }
    device.reset();
    return outcome;
  }

  /// True from the moment `Close` begins.
  bool Closing() const { return closing_.load(); }

  std::mutex& Calls() { return calls_; }
  const std::string& Name() const { return name_; }

 private:
  void Enter() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closing_.load() || !device_) {
      throw ClosedError("the " + name_ + " is closed");
    }
    ++uses_;
  }

  void Leave() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (--uses_ == 0) {
      idle_.notify_all();
    }
  }

  std::unique_ptr<Device> device_;
  const std::string name_;
  std::mutex closing_mutex_;
  std::mutex mutex_;
  std::condition_variable idle_;
  int uses_ = 0;
  std::atomic<bool> closing_{false};
  std::mutex calls_;
};

}  // namespace vorn_io::python
