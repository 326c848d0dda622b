#pragma once

#include <string>

namespace vorn_io_test {

/// The varying tail of flood line `line` of thread `thread`: its length tells
/// a line cut short or run into another from a whole one.
inline std::string FloodPadding(int thread, int line) {
  return std::string(static_cast<std::size_t>(1 + (thread * 31 + line) % 57), static_cast<char>('a' + thread % 26));
}

}  // namespace vorn_io_test
