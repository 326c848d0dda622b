// The output of a session: every line of a move command, bounded.
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "tools/session.h"

namespace vorn_io::tool {
namespace {

constexpr const char* kWipeLine = "\r\033[K";
constexpr int kBarWidth = 30;
constexpr long kPollsPerLine = 100;

int Width() {
  winsize size{};
  return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 2 ? size.ws_col : 80;
}

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

bool Session::Pump() {
  std::string text;
  long lines = 0;
  for (; listener_.Next(line_); ++lines) {
    text.append(line_.text).push_back('\n');
  }
  if (!library_lines_ || lines == 0) {
    return false;
  }
  Emit(std::move(text), lines, false);
  return true;
}

bool Session::Print(const std::string& text, bool wait) {
  Pump();
  return Emit(text, static_cast<long>(std::count(text.begin(), text.end(), '\n')), wait);
}

void Session::Warn(const std::string& text) {
  Status({});
  Write(err_, text, true);
}

bool Session::Emit(std::string text, long lines, bool wait) {
  const std::string lost =
      dropped_ > 0 ? fmt::format("vorn-io: {} lines dropped: standard output did not take them in time\n", dropped_)
                   : "";
  text = (status_drawn_ ? kWipeLine : "") + lost + text + (status_.empty() ? "" : kWipeLine + status_);
  // After a loss only the tool's own lines wait, until standard output takes text again.
  if (!Write(out_, text, wait || dropped_ == 0)) {
    dropped_ += lines;
    return false;
  }
  dropped_ = 0;
  status_drawn_ = !status_.empty();
  return true;
}

bool Session::Write(quorvane::detail::BoundedOutput& output, const std::string& text, bool wait) {
  quorvane::detail::StallBudget budget(std::chrono::milliseconds(quorvane::Logger::kStallBoundMs));
  errno = 0;
  if (output.Write(text.data(), text.size(), budget, wait) == quorvane::detail::Offer::kWritten) {
    return true;
  }
  const bool stalled = errno == 0 || errno == EAGAIN || errno == EWOULDBLOCK;
  failure_ = &output != &out_ ? failure_
             : stalled        ? "it did not take the text in time"
                              : std::strerror(errno);  // NOLINT
  return false;
}

void Session::Status(const std::string& line) {
  // Drawn wider than the terminal, the line would wrap and "\r" could not wipe it.
  const std::string shown = line.substr(0, static_cast<std::size_t>(std::max(Width() - 1, 0)));
  if (shown == status_) {
    Pump();
    return;
  }
  status_ = shown;
  // Drawn below the lines that came meanwhile; a status line the terminal did
  // not take is simply not on the screen.
  if (!Pump()) {
    status_drawn_ = Write(out_, kWipeLine + status_, dropped_ == 0) && !status_.empty();
  }
}

void Session::Progress(const std::string& bar, const std::string& line) {
  if (show_progress_ && bar_) {
    Status(bar);
  } else if (show_progress_ && !line.empty()) {
    Print(line, false);
  } else {
    Pump();
  }
}

void Session::Ramp(double fraction, double seconds_left) {
  // The estimate comes from the ramp's length; the move itself ends when the
  // lifter says so, so the display stops short of 100% until then.
  const double shown = std::clamp(fraction, 0.0, 0.99);
  const int tenths = static_cast<int>(std::floor(shown * 10.0));
  const std::string left = fmt::format("about {:.1f} s left", std::max(seconds_left, 0.0));
  const bool due = tenths > printed_tenths_;
  printed_tenths_ = std::max(tenths, printed_tenths_);
  Progress(LifterBar(shown, Width() - 3 - static_cast<int>(left.size())) + "  " + left,
           due ? fmt::format("vorn-io: progress {:3d}%, {}\n", tenths * 10, left) : std::string());
}

void Session::Settling(long polls, double seconds) {
  const bool due = polls >= printed_polls_ + kPollsPerLine;
  printed_polls_ = due ? polls - polls % kPollsPerLine : printed_polls_;
  Progress(fmt::format("gripper settling {}  {} polls, {:.1f} s", "|/-\\"[(polls / 10) % 4], polls, seconds),
           due ? fmt::format("vorn-io: settling, {} polls, {:.1f} s\n", printed_polls_, seconds) : std::string());
}

void Session::RampDone() {
  Status({});
  if (show_progress_) {
    Print(bar_ ? LifterBar(1.0, Width() - 1) + "\n" : "vorn-io: progress 100%\n", false);
  }
}

}  // namespace vorn_io::tool
