#include "tools/console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>

namespace vorn_io::tool {
namespace {

constexpr const char* kWipeLine = "\r\033[K";
constexpr int kBarWidth = 30;
constexpr long kPollsPerLine = 100;

/// "lifter [#######.............]  35%" in at most `columns`: the bar gives
/// up cells before the percentage is cut off.
std::string LifterBar(double fraction, int columns) {
  // The line without its cells: "lifter ", the brackets and " 100%".
  const int cells = std::clamp(columns - (7 + 2 + 5), 0, kBarWidth);
  const auto filled = static_cast<std::size_t>(std::floor(fraction * cells));
  return fmt::format("lifter [{}{}] {:3d}%", std::string(filled, '#'), std::string(cells - filled, '.'),
                     static_cast<int>(std::floor(fraction * 100.0)));
}

}  // namespace

Console::Console(bool show_progress, bool library_lines)
    : show_progress_(show_progress), library_lines_(library_lines) {
  const char* term = std::getenv("TERM");  // NOLINT(concurrency-mt-unsafe)
  bar_ = show_progress && isatty(STDOUT_FILENO) != 0 && (term == nullptr || std::string(term) != "dumb");
}

bool Console::Pump() {
  std::string text;
  long lines = 0;
  while (listener_.Next(line_)) {
    if (library_lines_) {
      text.append(line_.text).push_back('\n');
      ++lines;
    }
  }
  if (lines > 0) {
    Emit(std::move(text), lines);
  }
  return lines > 0;
}

void Console::Print(const std::string& line) {
  Pump();
  Emit(line, 1);
}

void Console::Emit(std::string text, long lines) {
  if (dropped_ > 0) {
    text.insert(0, fmt::format("vorn-io: {} lines dropped: standard output did not take them in time\n", dropped_));
  }
  if (status_drawn_) {
    text.insert(0, kWipeLine);
  }
  if (!status_.empty()) {
    text += kWipeLine + status_;
  }
  if (Write(text)) {
    dropped_ = 0;
    status_drawn_ = !status_.empty();
  } else {
    dropped_ += lines;
  }
}

bool Console::Write(const std::string& text) {
  // A line cut short is ended before anything else goes on it.
  const std::string whole = cut_ ? "\n" + text : text;
  using Clock = std::chrono::steady_clock;
  // After a loss nothing waits until standard output takes text again.
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(dropped_ > 0 ? 0 : quorvane::Logger::kStallBoundMs);
  std::size_t done = 0;
  while (done < whole.size()) {
    pollfd out{STDOUT_FILENO, POLLOUT, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    const int ready = poll(&out, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready < 0 && errno == EINTR && left > 0) {
      continue;
    }
    if (ready <= 0 || (out.revents & POLLOUT) == 0) {
      break;
    }
    // Room for PIPE_BUF bytes: a pipe takes this much whole, without blocking.
    const ssize_t written =
        write(STDOUT_FILENO, whole.data() + done, std::min<std::size_t>(whole.size() - done, PIPE_BUF));
    if (written < 0 && errno != EINTR) {
      break;
    }
    done += static_cast<std::size_t>(std::max<ssize_t>(written, 0));
  }
  cut_ = done > 0 && done < whole.size();
  return done == whole.size();
}

int Console::Width() const {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col < 2) {
    return 80;
  }
  return size.ws_col;
}

void Console::Status(const std::string& line) {
  // Drawn wider than the terminal, the line would wrap and "\r" could not wipe it.
  const std::string shown = line.substr(0, static_cast<std::size_t>(std::max(Width() - 1, 0)));
  if (!bar_ || shown == status_) {
    Pump();
    return;
  }
  status_ = shown;
  // Drawn below the lines that came meanwhile; a status line the terminal did
  // not take is simply not on the screen.
  if (!Pump() && (status_drawn_ || !status_.empty())) {
    status_drawn_ = Write(kWipeLine + status_) && !status_.empty();
  }
}

void Console::Ramp(double fraction, double seconds_left) {
  if (!show_progress_) {
    Pump();
    return;
  }
  // The estimate comes from the ramp's length; the move itself ends when the
  // lifter says so, so the display stops short of 100% until then.
  const double shown = std::clamp(fraction, 0.0, 0.99);
  const double left = std::max(seconds_left, 0.0);
  if (bar_) {
    const std::string rest = fmt::format("  about {:.1f} s left", left);
    Status(LifterBar(shown, Width() - 1 - static_cast<int>(rest.size())) + rest);
    return;
  }
  const int tenths = static_cast<int>(std::floor(shown * 10.0));
  if (tenths > printed_tenths_) {
    printed_tenths_ = tenths;
    Print(fmt::format("vorn-io: progress {:3d}%, about {:.1f} s left\n", tenths * 10, left));
  } else {
    Pump();
  }
}

void Console::Settling(long polls, double seconds) {
  if (!show_progress_) {
    Pump();
    return;
  }
  if (bar_) {
    Status(fmt::format("gripper settling {}  {} polls, {:.1f} s", "|/-\\"[(polls / 10) % 4], polls, seconds));
    return;
  }
  if (polls >= printed_polls_ + kPollsPerLine) {
    printed_polls_ = polls - polls % kPollsPerLine;
    Print(fmt::format("vorn-io: settling, {} polls, {:.1f} s\n", printed_polls_, seconds));
  } else {
    Pump();
  }
}

void Console::RampDone() {
  ClearStatus();
  if (show_progress_) {
    Print(bar_ ? LifterBar(1.0, Width() - 1) + "\n" : "vorn-io: progress 100%\n");
  }
}

}  // namespace vorn_io::tool
