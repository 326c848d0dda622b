#include "lifter/lifter_settings.h"

#include <cmath>
#include <iterator>
#include <limits>

#include <fmt/format.h>

#include "common/description_readers.h"
#include "common/key_reading.h"
#include "vorn_io/config_keys.h"

namespace vorn_io {
namespace {

namespace key = keys::lifter;
using detail::Row;
using keys::FallbackOf;

constexpr float kMaxposCap = 480.0F;

// "id", "dev_name", "mode" and "master_id" have no fallback and come first:
// a value that does not convert is a broken description, and the lifter
// raises yaml-cpp's error before it reads anything else.
constexpr Row<LifterSettings> kRows[] = {
    {&key::kId, &LifterSettings::id},         {&key::kDevName, &LifterSettings::dev_name},
    {&key::kMode, &LifterSettings::mode},     {&key::kMasterId, &LifterSettings::master_id},
    {&key::kMaxpos, &LifterSettings::maxpos}, {&key::kFreq, &LifterSettings::freq},
    {&key::kSpeed, &LifterSettings::speed},   {&key::kThreadPriority, &LifterSettings::thread_priority},
};
static_assert(detail::AllHold(kRows), "a lifter key's type differs from its member's");
static_assert(std::size(kRows) == std::size(key::kAll), "every lifter key has a row");

std::string Text(float value) { return fmt::format("{}", value); }

/// A negative travel counts as its magnitude; otherwise it is capped at 480.
void NormaliseMaxpos(LifterSettings& settings, KeyAccount& entry) {
  if (settings.maxpos < 0.0F) {
    settings.maxpos = -settings.maxpos;
    detail::MarkReplaced(entry, Text(settings.maxpos), "a negative travel counts as its magnitude");
  } else if (settings.maxpos > kMaxposCap) {
    settings.maxpos = kMaxposCap;
    detail::MarkReplaced(entry, Text(settings.maxpos), "the travel is at most 480");
  }
}

/// Replaces the values that would start a move that never ends (a zero
/// frequency, a travel or speed that is not a finite number, a zero speed)
/// by their fallbacks, and a frequency above `kMaxFreq` by `kMaxFreq`.
void ReplaceUnusable(LifterReading& reading) {
  LifterSettings& settings = reading.settings;
  KeyAccount& freq = detail::EntryOf(reading.account, key::kFreq.name);
  // 1000 / freq ms is the tick period: a zero would divide by zero.
  if (settings.freq == 0) {
    reading.unusable_freq = settings.freq;
    settings.freq = FallbackOf<unsigned int>(key::kFreq);
    detail::MarkReplaced(freq, std::to_string(settings.freq), "a frequency of 0 gives no tick period");
  }
  if (settings.freq > lifter::kMaxFreq) {
    reading.unusable_freq = settings.freq;
    settings.freq = lifter::kMaxFreq;
    detail::MarkReplaced(freq, std::to_string(settings.freq), "the lifter ticks at most once a millisecond");
  }
  // The move ends when the ramp passes maxpos, which never happens for NaN or infinity.
  if (!std::isfinite(settings.maxpos)) {
    reading.unusable_maxpos = settings.maxpos;
    settings.maxpos = FallbackOf<float>(key::kMaxpos);
    detail::MarkReplaced(detail::EntryOf(reading.account, key::kMaxpos.name), Text(settings.maxpos),
                         "a travel that is not finite would never end the move");
  }
  // Priorities of the real-time policy run from 1 to 99; 0 is the normal policy.
  if (settings.thread_priority < 0 || settings.thread_priority > lifter::kMaxThreadPriority) {
    reading.unusable_thread_priority = settings.thread_priority;
    settings.thread_priority = FallbackOf<int>(key::kThreadPriority);
    detail::MarkReplaced(detail::EntryOf(reading.account, key::kThreadPriority.name),
                         std::to_string(settings.thread_priority),
                         "a real-time priority runs from 1 to 99 (0: normal scheduling)");
  }
  // A zero or NaN speed never advances the ramp. A negative one reverses the
  // direction of both moves; it is kept as configured.
  KeyAccount& speed = detail::EntryOf(reading.account, key::kSpeed.name);
  if (settings.speed == 0.0F || !std::isfinite(settings.speed)) {
    reading.unusable_speed = settings.speed;
    settings.speed = FallbackOf<float>(key::kSpeed);
    detail::MarkReplaced(speed, Text(settings.speed), "a speed that is 0 or not finite would never end the move");
  } else if (settings.speed < 0.0F) {
    detail::MarkSuspect(speed,
                        "a negative speed reverses both moves: status 0 ramps in the motor's negative direction, "
                        "status 1 in its positive one");
  }
}

/// "speed" has two defaults; says which one applied.
void NameTheSpeedDefault(KeyAccount& speed) {
  const std::string absent = Text(keys::AbsentValueOf<float>(key::kSpeed));
  const std::string unreadable = Text(FallbackOf<float>(key::kSpeed));
  if (speed.origin == KeyOrigin::kDefault) {
    speed.detail =
        fmt::format("absent: the default for an absent speed, {} (an unreadable one gives {})", absent, unreadable);
  } else if (speed.origin == KeyOrigin::kFallback) {
    speed.detail += fmt::format(" (an absent speed gives {})", absent);
  }
}

/// The findings about the ramp as a whole: a travel of 0, a ramp that never
/// ends, one whose first step passes the travel, one of very few steps.
void AccountForTheRamp(LifterReading& reading) {
  const LifterSettings& settings = reading.settings;
  const float step = lifter::StepOf(settings.speed, settings.freq, true);
  if (lifter::NothingToMove(settings.maxpos)) {
    detail::MarkSuspect(detail::EntryOf(reading.account, key::kMaxpos.name),
                        "a travel of 0: a move has nothing to move, it ends at once without sending a position");
    return;
  }
  KeyAccount ramp;
  ramp.key = "speed/freq";
  if (reading.move_ticks == 0) {
    ramp.origin = KeyOrigin::kMissing;
    ramp.detail = fmt::format(
        "a step of {} per tick (speed / freq) is lost in the rounding before the ramp covers {}; the lifter refuses "
        "every move",
        step, settings.maxpos);
  } else if (lifter::FirstStepPassesTravel(step, settings.maxpos)) {
    ramp.origin = KeyOrigin::kError;
    ramp.detail = fmt::format(
        "a step of {} per tick (speed / freq) passes the travel {} on the first tick, before any position is sent; "
        "the lifter refuses every move",
        step, settings.maxpos);
  } else if (reading.move_ticks - 1 < lifter::kFewestRampCommands) {
    ramp.origin = KeyOrigin::kSuspect;
    ramp.detail =
        fmt::format("a move sends {} position(s): the motor jumps {} per tick, more than a fifth of the travel {}",
                    reading.move_ticks - 1, step, settings.maxpos);
  } else {
    return;
  }
  ramp.value = fmt::format("{}", step);
  reading.account.keys.push_back(std::move(ramp));
}

}  // namespace

namespace lifter {

std::chrono::duration<double, std::milli> TickPeriod(unsigned int freq) {
  return std::chrono::duration<double, std::milli>(1000.0 / static_cast<double>(freq));
}

float StepOf(float speed, unsigned int freq, bool positive) {
  const float step = speed / static_cast<float>(freq);
  return positive ? step : -step;
}

bool RampEnds(float step, float maxpos) {
  const float magnitude = std::fabs(step);
  if (!(magnitude > 0.0F) || !std::isfinite(maxpos)) {
    return false;
  }
  // The spacing of floats just above the travel is the widest the ramp meets
  // before it passes it: a step above half of it always moves the ramp on.
  const float spacing = std::nextafter(maxpos, std::numeric_limits<float>::infinity()) - maxpos;
  return magnitude > spacing / 2.0F;
}

bool NothingToMove(float maxpos) { return maxpos == 0.0F; }

bool FirstStepPassesTravel(float step, float maxpos) { return maxpos > 0.0F && std::fabs(step) > maxpos; }

unsigned long long MoveTicks(float step, float maxpos) {
  if (!RampEnds(step, maxpos)) {
    return 0;
  }
  // Counted up to where the closed form is as good.
  constexpr unsigned long long kCountedTicks = 10'000'000ULL;
  float position = 0.0F;
  for (unsigned long long tick = 1; tick <= kCountedTicks; ++tick) {
    position += step;
    if (std::fabs(position) > maxpos) {
      return tick;
    }
  }
  return static_cast<unsigned long long>(
             std::floor(static_cast<double>(maxpos) / static_cast<double>(std::fabs(step)))) +
         1;
}

}  // namespace lifter

LifterReading ReadLifterDescription(const YAML::Node& node) {
  LifterReading reading;
  const detail::KeyMap map(node);
  if (!detail::Subscriptable(map, key::kId.name, reading.error, reading.account)) {
    return reading;
  }
  detail::ReadRows(map, kRows, detail::WhenAbsent::kKeepDefault, reading.settings, reading.error, reading.account);
  NormaliseMaxpos(reading.settings, detail::EntryOf(reading.account, key::kMaxpos.name));
  ReplaceUnusable(reading);
  NameTheSpeedDefault(detail::EntryOf(reading.account, key::kSpeed.name));

  const LifterSettings& settings = reading.settings;
  reading.tick_period_ms = lifter::TickPeriod(settings.freq).count();
  reading.move_ticks = lifter::MoveTicks(lifter::StepOf(settings.speed, settings.freq, true), settings.maxpos);
  AccountForTheRamp(reading);

  const std::vector<std::string> own = detail::NamesOf(kRows);
  reading.motor = detail::ReadMotorKeys(node, own);
  reading.account.keys.insert(reading.account.keys.end(), reading.motor.account.keys.begin(),
                              reading.motor.account.keys.end());
  std::vector<std::string> known = own;
  for (std::string& name : detail::MotorKeyNames()) {
    known.push_back(std::move(name));
  }
  detail::AccountForStrayKeys(map, known, "no device reads this key; it is ignored", reading.account);
  return reading;
}

}  // namespace vorn_io
