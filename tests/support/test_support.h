#pragma once

// Helpers the test areas share: one copy each.
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>

#include "vorn_io/logger.h"
#include "vorn_io/vorn_io_interface.h"

namespace vorn_io_test {

/// Whether this process may run a thread under SCHED_FIFO: tries it on the
/// calling thread and puts its scheduling back.
inline bool MayUseRealTime() {
  int policy = 0;
  sched_param parameters{};
  pthread_getschedparam(pthread_self(), &policy, &parameters);
  sched_param fifo{};
  fifo.sched_priority = 1;
  if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &fifo) != 0) {
    return false;
  }
  pthread_setschedparam(pthread_self(), policy, &parameters);
  return true;
}

/// How many times `part` occurs in `text`, not overlapping.
inline std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
    ++count;
  }
  return count;
}

/// The threads of this process now.
inline std::size_t ThreadCount() {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
}

/// Polls `condition` every millisecond until it holds; false if `limit` passed first.
inline bool WaitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > until) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

/// Polls a device until it reports something other than "moving" (-1), and
/// returns that; -1 if the move had not ended after `limit`.
inline int WaitForEndOfMove(VornIoInterface& device, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  int status = -1;
  WaitFor([&] { return device.getIoStatus(status) != -1; }, limit);
  return status;
}

/// The library's log lines from construction on, as the console shows them
/// (each line and "\n"), received through a listener: whatever the console
/// is set to, and without touching standard output.
class LogCapture {
 public:
  /// Takes what has come so far.
  std::string Text() {
    std::string text;
    while (listener_.Next(line_)) {
      text.append(line_.text).push_back('\n');
    }
    return text;
  }

 private:
  quorvane::LogListener listener_{1U << 16U};
  quorvane::LogLine line_;
};

/// The log lines `action` caused.
inline std::string LogOf(const std::function<void()>& action) {
  LogCapture capture;
  action();
  return capture.Text();
}

/// A fresh directory under the system's temporary folder, removed with its content on destruction.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vorn_io_test_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }

  /// Writes `content` to `name` inside the directory and returns the file's full path.
  std::string Write(const std::string& name, const std::string& content) const {
    const std::filesystem::path file = path_ / name;
    std::ofstream(file) << content;
    return file.string();
  }

 private:
  std::filesystem::path path_;
};

}  // namespace vorn_io_test
