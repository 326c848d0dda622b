#include "src/log_bridge.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <tuple>
#include <vector>

#include <pybind11/stl.h>

#include "vorn_io/logger.h"

namespace py = pybind11;

namespace vorn_io::python {
namespace {

// How long the thread waits for a line before it looks at its stop flag and
// counts an idle round (which `Flush` waits for).
constexpr std::chrono::milliseconds kIdleWait{20};
// Lines handed over under one taking of the interpreter's lock.
constexpr std::size_t kBatch = 64;

class LogBridge {
 public:
  explicit LogBridge(py::function emit) : emit_(std::move(emit)), thread_([this] { Run(); }) {}

  ~LogBridge() {
    // Normally stopped at exit; at the latest here, without the
    // interpreter's lock, which the thread may be waiting for.
    if (thread_.joinable()) {
      PyThreadState* const state = PyEval_SaveThread();
      Stop();
      PyEval_RestoreThread(state);
    }
  }

  LogBridge(const LogBridge&) = delete;
  LogBridge& operator=(const LogBridge&) = delete;

  /// Delivers what is waiting, then ends the thread. Called without the
  /// interpreter's lock.
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) {
      thread_.join();
    }
  }

  /// Waits until every line logged before the call has been handed to
  /// Python; false if that took longer than `timeout_s`, or when called
  /// from a logging handler. Called without the interpreter's lock, which
  /// the thread needs for it.
  bool Flush(double timeout_s) {
    // A logging handler runs in the thread itself, which cannot wait for
    // its own next round.
    if (std::this_thread::get_id() == thread_.get_id()) {
      return false;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // The round counted next may have begun before this call; the one after
    // it cannot have.
    const std::uint64_t wanted = idle_rounds_ + 2;
    return idle_.wait_for(lock, std::chrono::duration<double>(timeout_s),
                          [&] { return idle_rounds_ >= wanted || !running_; });
  }

 private:
  void Run() {
    std::vector<quorvane::LogLine> batch(kBatch);
    while (!stop_.load()) {
      std::size_t count = 0;
      if (listener_.Next(batch[0], kIdleWait)) {
        count = 1;
        while (count < kBatch && listener_.Next(batch[count])) {
          ++count;
        }
        Deliver(batch, count);
      } else {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++idle_rounds_;
        idle_.notify_all();
      }
    }
    // What was logged before the stop still goes out.
    std::size_t count = 0;
    while (count < kBatch && listener_.Next(batch[count])) {
      ++count;
    }
    Deliver(batch, count);
    const std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
    idle_.notify_all();
  }

  void Deliver(const std::vector<quorvane::LogLine>& batch, std::size_t count) {
    if (count == 0) {
      return;
    }
    const py::gil_scoped_acquire locked;
    for (std::size_t i = 0; i < count; ++i) {
      const quorvane::LogLine& line = batch[i];
      const std::string_view message = MessageText(line);
      // A message is the library's text with a description's values in it:
      // bytes that are no UTF-8 are shown, not lost with the line.
      const py::str text = py::reinterpret_steal<py::str>(
          PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
      try {
        emit_(static_cast<int>(line.level), text, line.file, line.line, line.function, line.number, line.dropped);
      } catch (py::error_already_set& error) {
        error.discard_as_unraisable("vorn_io: handing a log line to logging");
      }
    }
  }

  py::function emit_;
  quorvane::LogListener listener_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable idle_;
  std::uint64_t idle_rounds_ = 0;
  bool running_ = true;
  std::thread thread_;  // last: it starts once everything it uses is there
};

}  // namespace

std::string_view MessageText(const quorvane::LogLine& line) {
  std::string_view message = line.Message();
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
    message.remove_suffix(1);
  }
  return message;
}

void BindLogBridge(py::module_& module) {
  py::class_<LogBridge>(module, "LogBridge",
                        "Hands every line the library logs to `emit(level, message, file, line, function, number, "
                        "dropped)` in a thread of its own; `level` is spdlog's number.")
      .def(py::init<py::function>(), py::arg("emit"))
      .def("flush", &LogBridge::Flush, py::arg("timeout"), py::call_guard<py::gil_scoped_release>(),
           "Waits until the lines logged so far have been handed over; False on a time-out.")
      .def("stop", &LogBridge::Stop, py::call_guard<py::gil_scoped_release>(),
           "Hands over what is waiting and ends the thread.");

  module.def(
      "configure_logger",
      [](std::optional<bool> console, std::optional<bool> journal, std::optional<int> level) {
        quorvane::LogSettings changes{console, journal, std::nullopt};
        if (level) {
          changes.level = static_cast<spdlog::level::level_enum>(*level);
        }
        const quorvane::LogSettings before = quorvane::Logger::Configure(changes);
        return std::tuple<bool, bool, int>(before.console.value_or(false), before.journal.value_or(false),
                                           static_cast<int>(before.level.value_or(spdlog::level::info)));
      },
      py::arg("console") = py::none(), py::arg("journal") = py::none(), py::arg("level") = py::none(),
      py::call_guard<py::gil_scoped_release>(),
      "Logger::Configure: the settings given change, the others stay; returns (console, journal, level) before.");
}

}  // namespace vorn_io::python
