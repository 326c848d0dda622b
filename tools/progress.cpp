#include "tools/progress.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

namespace vorn_io::tool {
namespace {

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

void Progress::Ramp(double fraction, double seconds_left) {
  if (!shown_) {
    return;
  }
  // The estimate comes from the ramp's length; the move itself ends when the
  // lifter says so, so the display stops short of 100% until then.
  const double shown = std::clamp(fraction, 0.0, 0.99);
  const double left = std::max(seconds_left, 0.0);
  if (relay_.Active()) {
    const std::string rest = fmt::format("  about {:.1f} s left", left);
    relay_.SetStatus(LifterBar(shown, relay_.Width() - 1 - static_cast<int>(rest.size())) + rest);
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
    relay_.SetStatus(fmt::format("gripper settling {}  {} polls, {:.1f} s", "|/-\\"[(polls / 10) % 4], polls, seconds));
    return;
  }
  if (polls >= printed_polls_ + kPollsPerLine) {
    printed_polls_ = polls - polls % kPollsPerLine;
    Print(fmt::format("vorn-io: settling, {} polls, {:.1f} s\n", printed_polls_, seconds));
  }
}

void Progress::RampDone() {
  relay_.ClearStatus();
  if (shown_) {
    Print(relay_.Active() ? LifterBar(1.0, relay_.Width() - 1) + "\n" : "vorn-io: progress 100%\n");
  }
}

}  // namespace vorn_io::tool
