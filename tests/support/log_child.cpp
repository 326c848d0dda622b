// The logging child of the logger tests: a fresh process, so the logger reads
// the environment the test gives it and numbers from 1. One command per
// argument, run in order:
//
//   info:TEXT  warn:TEXT  error:TEXT   one line with TEXT as its message
//   lines:N                           N info lines "line 1" .. "line N"
//   flood:T:N                         T threads at once, N info lines each ("flood T I PADDING")
//   timer:L:N                         L warn lines "main I", then N info lines "tick I" from a timer thread
//   stall:console|journal:N           N flood lines, then a lifter's whole move at 1 kHz and its deletion;
//                                     says on standard error how long that took ("held N ms"), waits until
//                                     the output named has been read dry and logs "after the drain"
//   configure:console=B,journal=B,level=NAME   Logger::Configure with the settings named (any of them)
//   await:PATH                        waits until the file PATH exists
//   setenv:NAME=VALUE  unsetenv:NAME  changes the environment between lines
//
// The journal test finds the source lines of the three log calls by their
// trailing "log-call:" markers, so keep each call on one line.
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "child_process.h"
#include "flood_line.h"
#include "test_support.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_io/private_timer.h"

namespace {

using Clock = std::chrono::steady_clock;

void LogInfo(const std::string& text) {
  LOG_INFO("{}", text);  // log-call:info
}

void LogWarn(const std::string& text) {
  LOG_WARN("{}", text);  // log-call:warn
}

void LogError(const std::string& text) {
  LOG_ERROR("{}", text);  // log-call:error
}

void Flood(int threads, int lines) {
  std::mutex mutex;
  std::condition_variable go;
  bool started = false;
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      {
        std::unique_lock<std::mutex> lock(mutex);
        go.wait(lock, [&] { return started; });
      }
      for (int i = 0; i < lines; ++i) {
        LOG_INFO("flood {} {} {}", t, i, vorn_io_test::FloodPadding(t, i));
      }
    });
  }
  {
    const std::lock_guard<std::mutex> lock(mutex);
    started = true;
  }
  go.notify_all();
  for (std::thread& worker : workers) {
    worker.join();
  }
}

// Lines from the host thread and from a timer thread; an exception that
// escaped a log call ends the process through std::terminate.
class TickLogger : private PrivateTimer {
 public:
  bool Run(int lines, int ticks) {
    for (int i = 0; i < lines; ++i) {
      LOG_WARN("main {}\r\n", i);
    }
    start(1, [this, ticks] {
      const int n = count_.load();
      if (n < ticks) {
        LOG_INFO("tick {}\r\n", n);
        count_.store(n + 1);
      }
    });
    const bool done = vorn_io_test::WaitFor([&] { return count_.load() >= ticks; }, std::chrono::seconds(30));
    stop();
    return done;
  }

 private:
  std::atomic<int> count_{0};
};

bool Exists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

// Whether standard output, a pipe, holds no unread bytes.
bool StdoutDrained() {
  int unread = 0;
  return ioctl(STDOUT_FILENO, FIONREAD, &unread) == 0 && unread == 0;
}

bool Stall(const std::string& output, int lines) {
  const auto start = Clock::now();
  for (int i = 0; i < lines; ++i) {
    LOG_INFO("flood {} {}", i, vorn_io_test::FloodPadding(0, i));
  }
  // 1 kHz ticks, each logging its line; a short move.
  auto* lifter =
      new UpdownLifter(YAML::Load("{vendor: damiao, dev_name: stall, freq: 1000, speed: 10.0, maxpos: 2.0}"));
  const bool moved =
      lifter->setIoStatus(1) == 0 && vorn_io_test::WaitForEndOfMove(*lifter, std::chrono::seconds(20)) == 1;
  delete lifter;
  const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  std::fprintf(stderr, "held %lld ms\n", static_cast<long long>(held.count()));
  if (!moved) {
    std::fprintf(stderr, "the move did not end\n");
    return false;
  }
  const bool drained = vorn_io_test::WaitFor(
      output == "journal" ? std::function<bool()>([] { return Exists(vorn_io_test::kJournalDrained); })
                          : std::function<bool()>(StdoutDrained),
      std::chrono::seconds(30));
  if (!drained) {
    std::fprintf(stderr, "the %s was not read dry\n", output.c_str());
    return false;
  }
  LOG_INFO("after the drain");
  return true;
}

std::optional<bool> Switch(const std::string& value) {
  return value == "true" ? std::optional<bool>(true) : value == "false" ? std::optional<bool>(false) : std::nullopt;
}

bool Configure(const std::string& settings) {
  quorvane::LogSettings given;
  std::istringstream items(settings);
  for (std::string item; std::getline(items, item, ',');) {
    const std::size_t equals = item.find('=');
    const std::string name = item.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : item.substr(equals + 1);
    if (name == "console") {
      given.console = Switch(value);
    } else if (name == "journal") {
      given.journal = Switch(value);
    } else if (name == "level") {
      given.level = spdlog::level::from_str(value);
    } else {
      return false;
    }
  }
  quorvane::Logger::Configure(given);
  return true;
}

// The numbers after "NAME:" and the ":" between them.
std::vector<int> Numbers(const std::string& rest) {
  std::vector<int> numbers;
  std::istringstream parts(rest);
  for (std::string part; std::getline(parts, part, ':');) {
    numbers.push_back(std::atoi(part.c_str()));
  }
  return numbers;
}

bool Run(const std::string& command) {
  const std::size_t colon = command.find(':');
  const std::string name = command.substr(0, colon);
  const std::string rest = colon == std::string::npos ? std::string() : command.substr(colon + 1);
  const std::vector<int> numbers = Numbers(rest);
  if (name == "info") {
    LogInfo(rest);
  } else if (name == "warn") {
    LogWarn(rest);
  } else if (name == "error") {
    LogError(rest);
  } else if (name == "lines") {
    for (int k = 1; k <= numbers.at(0); ++k) {
      LOG_INFO("line {}", k);
    }
  } else if (name == "flood" && numbers.size() == 2) {
    Flood(numbers[0], numbers[1]);
  } else if (name == "timer" && numbers.size() == 2) {
    TickLogger logger;
    return logger.Run(numbers[0], numbers[1]);
  } else if (name == "stall") {
    const std::size_t at = rest.find(':');
    return at != std::string::npos && Stall(rest.substr(0, at), std::atoi(rest.c_str() + at + 1));
  } else if (name == "configure") {
    return Configure(rest);
  } else if (name == "await") {
    return vorn_io_test::WaitFor([&] { return Exists(rest); }, std::chrono::seconds(30));
  } else if (name == "setenv" && rest.find('=') != std::string::npos) {
    return setenv(rest.substr(0, rest.find('=')).c_str(), rest.substr(rest.find('=') + 1).c_str(), 1) == 0;
  } else if (name == "unsetenv") {
    return unsetenv(rest.c_str()) == 0;
  } else {
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!Run(argv[i])) {
      std::fprintf(stderr, "log_child: '%s' failed\n", argv[i]);
      return 2;
    }
  }
  return 0;
}
