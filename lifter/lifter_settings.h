#pragma once

#include <chrono>

// The lifter's rules for its ramp. Internal to the lifter; its description
// is read by `vorn_io::ReadLifterDescription`, which applies them.
namespace vorn_io::lifter {

/// The motor library's argument for making the present position the zero of
/// its frame, at start-up and before every move.
inline constexpr int kZeroPositionValue = 200;

/// The highest tick frequency: a tick every millisecond. A higher one would
/// tick faster than the motor is worth commanding, and an idle lifter would
/// spin a core.
inline constexpr unsigned int kMaxFreq = 1000;

/// The highest real-time priority of the lifter's thread (SCHED_FIFO's).
inline constexpr int kMaxThreadPriority = 99;

/// The time from one tick to the next, 1000 / freq ms, fraction included.
std::chrono::duration<double, std::milli> TickPeriod(unsigned int freq);

/// The signed increment of the set position per tick, in single precision.
float StepOf(float speed, unsigned int freq, bool positive);

/// Whether a ramp of `step` per tick, accumulated in single precision from 0,
/// gets past `maxpos`. A step smaller than half the spacing of floats at the
/// travel is lost in the rounding before the ramp gets there, and the move
/// would never end.
bool RampEnds(float step, float maxpos);

/// A travel of 0 has nothing to move: the move ends on its first tick,
/// reached, without sending a position.
bool NothingToMove(float maxpos);

/// Whether the ramp's first step already passes a travel that is not 0: the
/// move would end on its first tick without ever sending a position, so the
/// lifter refuses it.
bool FirstStepPassesTravel(float step, float maxpos);

/// Ticks from the command to the end of the move, counted as the lifter
/// ramps (in single precision), the last one only ending it: every tick but
/// the last sends a position. 0 for a ramp that never ends.
unsigned long long MoveTicks(float step, float maxpos);

/// A move that sends fewer positions than this jumps the motor by more than
/// a fifth of its travel per tick: it works, but hardly as a ramp.
inline constexpr unsigned long long kFewestRampCommands = 5;

}  // namespace vorn_io::lifter
