// A child program for the logger tests: each run is a fresh process, so the
// logger reads the environment the test gives it and numbers from 1.
//
//   vorn_io_log_child flood THREADS LINES   THREADS threads log LINES lines each
//   vorn_io_log_child timer LINES TICKS     LINES lines from main, then TICKS from a timer thread
//   vorn_io_log_child stall console|journal LINES
//       LINES lines as fast as they go, then a lifter's whole move and its
//       deletion; says on standard error how long that took ("held N ms").
//       Then waits until the output named has been read dry and logs
//       "after the drain".
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "child_process.h"
#include "flood_line.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"
#include "vorn_io/private_timer.h"

namespace {

int Flood(int threads, int lines) {
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
  return 0;
}

// Exercises the logger from the host thread and from a timer thread; an
// exception that escaped a log call shows as exit code 3 (host) or as the
// process ending through std::terminate (timer thread).
class TickLogger : private PrivateTimer {
 public:
  int Run(int lines, int ticks) {
    try {
      for (int i = 0; i < lines; ++i) {
        LOG_WARN("main {}\r\n", i);
      }
    } catch (const std::exception& error) {
      std::fprintf(stderr, "exception from a log call: %s\n", error.what());
      return 3;
    }
    start(1, [this, ticks] {
      const int n = count_.load();
      if (n < ticks) {
        LOG_INFO("tick {}\r\n", n);
        count_.store(n + 1);
      }
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (count_.load() < ticks && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    stop();
    return count_.load() == ticks ? 0 : 4;
  }

 private:
  std::atomic<int> count_{0};
};

using Clock = std::chrono::steady_clock;

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// Whether standard output, a pipe, holds no unread bytes.
bool StdoutDrained() {
  int unread = 0;
  return ioctl(STDOUT_FILENO, FIONREAD, &unread) == 0 && unread == 0;
}

bool JournalDrained() {
  struct stat info {};
  return stat(vorn_io_test::kJournalDrained, &info) == 0;
}

int Stall(const std::string& output, int lines) {
  const auto start = Clock::now();
  for (int i = 0; i < lines; ++i) {
    LOG_INFO("flood {} {}", i, vorn_io_test::FloodPadding(0, i));
  }
  // 1 kHz ticks, each logging its line; a short move.
  YAML::Node node;
  node["vendor"] = "damiao";
  node["dev_name"] = "stall";
  node["freq"] = 1000;
  node["speed"] = 10.0;
  node["maxpos"] = 2.0;
  auto* lifter = new UpdownLifter(node);
  int status = -1;
  const bool moved = lifter->setIoStatus(1) == 0 &&
                     WaitUntil([&] { return lifter->getIoStatus(status) == 1; }, std::chrono::seconds(20));
  delete lifter;
  const auto held = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
  std::fprintf(stderr, "held %lld ms\n", static_cast<long long>(held.count()));
  if (!moved) {
    std::fprintf(stderr, "the move did not end\n");
    return 5;
  }
  if (!WaitUntil(output == "journal" ? JournalDrained : StdoutDrained, std::chrono::seconds(30))) {
    std::fprintf(stderr, "the %s was not read dry\n", output.c_str());
    return 6;
  }
  LOG_INFO("after the drain");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s flood|timer N M, or stall console|journal N\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  if (mode == "stall") {
    return Stall(argv[2], std::atoi(argv[3]));
  }
  const int first = std::atoi(argv[2]);
  const int second = std::atoi(argv[3]);
  if (mode == "flood") {
    return Flood(first, second);
  }
  if (mode == "timer") {
    TickLogger logger;
    return logger.Run(first, second);
  }
  std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
  return 2;
}
