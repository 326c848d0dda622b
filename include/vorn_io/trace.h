#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "vorn_io/export.h"

/// What a device recorded of its last motion, sample by sample, so that a
/// move can be seen afterwards (tuning `speed` or `freq`, finding out why a
/// move was held or abandoned) without parsing log lines.
namespace vorn_io {

/// The most samples a trace keeps: a little over a minute of ticks at
/// 1 kHz. A longer motion keeps its last samples; the move's outcome counts
/// the ones it did not keep.
inline constexpr std::size_t kTraceCapacity = 65536;

/// One tick of a lifter's move. Positions and torques are in the motor's
/// units; a value that was not read, whose call failed or that was not
/// finite is NaN.
struct LifterTick {
  /// The failed-call bits of `failedCalls`: a call that returned an error,
  /// threw, or gave a value that is not finite.
  static constexpr std::uint8_t kGetTorqueFailed = 1U;
  static constexpr std::uint8_t kGetPositionFailed = 2U;
  static constexpr std::uint8_t kSetPositionFailed = 4U;

  /// When the tick started, in seconds since `setIoStatus` accepted the move
  /// (the monotonic clock); strictly increasing through a trace.
  double seconds = 0.0;
  /// How long after its scheduled time the tick started, in seconds; NaN
  /// for a tick that did not come from the lifter's own schedule (a host
  /// that calls `Callback` itself).
  double lateness = 0.0;
  /// The ramp's set position after this tick's step. On the tick that ends
  /// the move it lies past the travel, and nothing is read or sent.
  double setPosition = 0.0;
  /// The position and torque as read on this tick.
  double position = 0.0;
  double torque = 0.0;
  /// The position sent to the motor on this tick (the ramp's, or where the
  /// hold kept it); NaN when nothing was sent.
  double sent = 0.0;
  /// The torque limit the tick compared with: the hold's threshold.
  float torqueLimit = 0.0F;
  /// The torque hold stopped the motor on this tick (`sent` is `position`).
  bool held = false;
  /// The torque was at or past the limit in the direction the lifter does
  /// not hold in: the ramp pushed on.
  bool unheld = false;
  /// The calls of this tick that failed, as bits (`kGetTorqueFailed`, ...).
  std::uint8_t failedCalls = 0;
};

/// One poll of a servo gripper since its last command.
struct GripperPoll {
  /// When the poll read the position, in seconds since the command (the
  /// monotonic clock); strictly increasing through a trace.
  double seconds = 0.0;
  /// The position read; NaN when the reading failed or was not finite.
  double position = 0.0;
  /// The variance of the settle window (the last 20 usable positions); NaN
  /// until the window holds 20 of them.
  double variance = 0.0;
  /// The gripper judged the motion at rest on this poll.
  bool settled = false;
};

/// Writes a lifter's trace as CSV: the header row
/// "time_s,lateness_s,set_position,position,torque,torque_limit,sent_position,held,unheld,failed_calls",
/// then one row per tick. Numbers are written so that they read back
/// exactly, NaN as an empty cell, booleans as 0 and 1, the failed calls by
/// name joined by "+" ("getTorque+setPosition"). Returns false when the
/// stream failed.
VORN_IO_EXPORT bool WriteTraceCsv(std::ostream& out, const std::vector<LifterTick>& trace);

/// Writes a gripper's trace as CSV: the header row
/// "time_s,position,variance,settled", then one row per poll, as above.
VORN_IO_EXPORT bool WriteTraceCsv(std::ostream& out, const std::vector<GripperPoll>& trace);

}  // namespace vorn_io
