#include "tools/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "vorn_io/logger.h"

namespace vorn_io::tool {
namespace {

constexpr int kBarWidth = 30;
constexpr long kPollsPerLine = 100;
// The bar's line without its cells: "lifter ", the brackets and " 100%".
constexpr int kFixedCells = 7 + 2 + 5;

}  // namespace

void Progress::Print(const std::string& line) {
  quorvane::detail::StallBudget budget{std::chrono::milliseconds(quorvane::Logger::kStallBoundMs)};
  stdout_.Write(line.data(), line.size(), budget, true);
}

std::string Bar(double fraction, int width) {
  const double clamped = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(std::floor(clamped * width));
  return fmt::format("[{}{}] {:3d}%", std::string(static_cast<std::size_t>(filled), '#'),
                     std::string(static_cast<std::size_t>(width - filled), '.'),
                     static_cast<int>(std::floor(clamped * 100.0)));
}

void Progress::Ramp(double fraction, double seconds_left) {
  // The estimate comes from the ramp's length; the move itself ends when the
  // lifter says so, so the display stops short of 100% until then.
  if (!shown_) {
    return;
  }
  const double shown = std::clamp(fraction, 0.0, 0.99);
  const double left = std::max(seconds_left, 0.0);
  if (relay_.Active()) {
    // The bar gives up cells before the percentage or the time left is cut off.
    const std::string rest = fmt::format("  about {:.1f} s left", left);
    const int cells = std::clamp(relay_.Width() - 1 - kFixedCells - static_cast<int>(rest.size()), 0, kBarWidth);
    relay_.SetStatus("lifter " + Bar(shown, cells) + rest);
    return;
  }
  const int tenths = static_cast<int>(std::floor(shown * 10.0));
  if (tenths > printed_tenths_) {
    printed_tenths_ = tenths;
    Print(fmt::format("vorn-io: progress {:3d}%, about {:.1f} s left\n", tenths * 10, left));
  }
}

void Progress::Settling(long polls, double seconds) {
  if (!shown_) {
    return;
  }
  if (relay_.Active()) {
    static constexpr const char* kSpinner = "|/-\\";
    relay_.SetStatus(
        fmt::format("gripper settling {}  {} polls, {:.1f} s", kSpinner[(polls / 10) % 4], polls, seconds));
    return;
  }
  if (polls >= printed_polls_ + kPollsPerLine) {
    printed_polls_ = polls - polls % kPollsPerLine;
    Print(fmt::format("vorn-io: settling, {} polls, {:.1f} s\n", printed_polls_, seconds));
  }
}

void Progress::Done() { relay_.ClearStatus(); }

void Progress::RampDone() {
  relay_.ClearStatus();
  if (!shown_) {
    return;
  }
  if (relay_.Active()) {
    Print(fmt::format("lifter {}\n", Bar(1.0, std::clamp(relay_.Width() - 1 - kFixedCells, 0, kBarWidth))));
  } else {
    Print("vorn-io: progress 100%\n");
  }
}

}  // namespace vorn_io::tool
