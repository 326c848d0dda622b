#include <algorithm>
#include <atomic>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "vorn_io/version.h"

namespace {

// Name, version with the 7-digit revision, then __DATE__ ("Dec  8 2026") and
// __TIME__ ("15:53:29") as the compiler writes them.
const std::regex kVersionLine(
    R"(vorn_io version: 1\.0\.0\.[0-9a-f]{7}, compile time: )"
    R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 1-3]\d \d{4} [0-2]\d:[0-5]\d:[0-6]\d)");

TEST(Version, HasItsFixedForm) {
  const std::string text = get_version_str();
  EXPECT_TRUE(std::regex_match(text, kVersionLine)) << text;
  EXPECT_EQ(text.size(), 66U) << text;
  const std::string separator = ", compile time: ";
  const std::size_t at = text.find(separator);
  ASSERT_NE(at, std::string::npos) << text;
  EXPECT_EQ(text.find(separator, at + 1), std::string::npos) << text;
}

TEST(Version, IsFormattedOnce) {
  const char* first = get_version_str();
  const std::string copy = first;
  const char* second = get_version_str();
  EXPECT_EQ(first, second);
  EXPECT_EQ(copy, second);
}

// Every test runs in a process of its own under ctest, so these calls are the
// process's first: the threads race for the one-time formatting.
TEST(Version, ConcurrentFirstCallsAgree) {
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::atomic<bool> go{false};
  std::vector<const char*> results(kThreads, nullptr);
  std::vector<std::string> texts(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      ready.fetch_add(1);
      while (!go.load()) {
        std::this_thread::yield();
      }
      results[static_cast<std::size_t>(i)] = get_version_str();
      texts[static_cast<std::size_t>(i)] = results[static_cast<std::size_t>(i)];
    });
  }
  while (ready.load() < kThreads) {
    std::this_thread::yield();
  }
  go.store(true);
  for (std::thread& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(results[static_cast<std::size_t>(i)], results[0]);
    EXPECT_TRUE(std::regex_match(texts[static_cast<std::size_t>(i)], kVersionLine))
        << texts[static_cast<std::size_t>(i)];
  }
}

}  // namespace
