#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace gripper_test {

/// Everything `action` wrote to standard output (the logger's console lines among it).
inline std::string StdoutOf(const std::function<void()>& action) {
  testing::internal::CaptureStdout();
  action();
  return testing::internal::GetCapturedStdout();
}

inline std::size_t CountOf(const std::string& haystack, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) {
    ++count;
  }
  return count;
}

}  // namespace gripper_test
