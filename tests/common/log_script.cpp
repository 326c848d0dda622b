// Logs a scripted sequence of lines through vorn_io's logger, one command per
// argument, so a test can run it in a fresh process with an environment of its
// choosing and compare what reaches standard output or the journal.
//
//   info:TEXT  warn:TEXT  error:TEXT   one line with TEXT as its message
//   lines:N                           N info lines "line 1" .. "line N"
//   threads:T:N                       T threads at once, N info lines each ("tI J")
//   setenv:NAME=VALUE  unsetenv:NAME  changes the environment between lines
//
// The journal test finds the source lines of the three log calls by their
// trailing "log-call:" markers, so keep each call on one line.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vorn_io/logger.h"

namespace {

void LogInfo(const std::string& text) {
  LOG_INFO("{}", text);  // log-call:info
}

void LogWarn(const std::string& text) {
  LOG_WARN("{}", text);  // log-call:warn
}

void LogError(const std::string& text) {
  LOG_ERROR("{}", text);  // log-call:error
}

bool StartsWith(const std::string& text, const char* prefix, std::string& rest) {
  const std::string head(prefix);
  if (text.compare(0, head.size(), head) != 0) {
    return false;
  }
  rest = text.substr(head.size());
  return true;
}

void LogFromThreads(int threads, int lines) {
  std::vector<std::thread> workers;
  workers.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([t, lines] {
      for (int j = 0; j < lines; ++j) {
        LOG_INFO("t{} {}", t, j);
      }
    });
  }
  for (std::thread& worker : workers) {
    worker.join();
  }
}

bool Run(const std::string& command) {
  std::string rest;
  if (StartsWith(command, "info:", rest)) {
    LogInfo(rest);
  } else if (StartsWith(command, "warn:", rest)) {
    LogWarn(rest);
  } else if (StartsWith(command, "error:", rest)) {
    LogError(rest);
  } else if (StartsWith(command, "lines:", rest)) {
    const int count = std::atoi(rest.c_str());
    for (int k = 1; k <= count; ++k) {
      LOG_INFO("line {}", k);
    }
  } else if (StartsWith(command, "threads:", rest)) {
    const std::size_t colon = rest.find(':');
    if (colon == std::string::npos) {
      return false;
    }
    LogFromThreads(std::atoi(rest.substr(0, colon).c_str()), std::atoi(rest.substr(colon + 1).c_str()));
  } else if (StartsWith(command, "setenv:", rest)) {
    const std::size_t equals = rest.find('=');
    if (equals == std::string::npos) {
      return false;
    }
    return setenv(rest.substr(0, equals).c_str(), rest.substr(equals + 1).c_str(), 1) == 0;
  } else if (StartsWith(command, "unsetenv:", rest)) {
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
      std::fprintf(stderr, "log_script: bad command '%s'\n", argv[i]);
      return 2;
    }
  }
  return 0;
}
