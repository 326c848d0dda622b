#pragma once

#include <chrono>
#include <string>

#include <yaml-cpp/yaml.h>

// Reading and checking a lifter description. Internal to the lifter.
namespace vorn_io::lifter {

/// The motor library's argument for making the present position the zero of
/// its frame, at start-up and before every move.
inline constexpr int kZeroPositionValue = 200;

/// The highest tick frequency: a tick every millisecond. A higher one would
/// tick faster than the motor is worth commanding, and an idle lifter would
/// spin a core.
inline constexpr unsigned int kMaxFreq = 1000;

/// What a lifter reads from its description: the motor's identity (for the
/// start-up line only; the motor reads its own keys) and the ramp settings.
struct Settings {
  int id = 0;
  std::string dev_name;
  int mode = 0;
  int master_id = 0;
  float maxpos = 0.0F;
  unsigned int freq = 0;
  float speed = 0.0F;
};

/// Reads the lifter's keys in their order. An absent key keeps the value
/// `settings` already holds; yaml-cpp's exceptions pass to the caller.
void ReadSettings(const YAML::Node& node, Settings& settings);

/// A negative travel counts as its magnitude; otherwise it is capped at 480.
float NormaliseMaxpos(float maxpos);

/// Replaces the values that would start a move that never ends (a zero
/// frequency, a travel or speed that is not a finite number, a zero speed)
/// by their fallbacks, and a frequency above `kMaxFreq` by `kMaxFreq`, with
/// an error line for each.
void ReplaceUnusable(Settings& settings);

/// The time from one tick to the next, 1000 / freq ms, fraction included.
std::chrono::duration<double, std::milli> TickPeriod(unsigned int freq);

/// The signed increment of the set position per tick, in single precision.
float StepOf(float speed, unsigned int freq, bool positive);

/// Whether a ramp of `step` per tick, accumulated in single precision from 0,
/// gets past `maxpos`. A step smaller than half the spacing of floats at the
/// travel is lost in the rounding before the ramp gets there, and the move
/// would never end.
bool RampEnds(float step, float maxpos);

}  // namespace vorn_io::lifter
