#pragma once

/// How a device's shutdown went: whether its motor was held where it stood
/// and whether it is known to be disabled. A host that must know whether a
/// motor may still be powered (to cut its supply, to tell an operator) asks
/// the device's `park()` for it rather than reading log lines.
struct ParkOutcome {
  /// The device had a motor to shut down; without one nothing was done and
  /// the rest says nothing.
  bool hadMotor = false;
  /// The shutdown ran to its end. False while a motor call it waits for (a
  /// tick's, or one of its own) has not returned: see `hungCall`.
  bool finished = false;
  /// The motor was held at its present position before it was disabled
  /// (the lifter's shutdown; the gripper's sends no hold).
  bool held = false;
  /// The motor took `setEnable(false)` (its result was 0).
  bool disableTaken = false;
  /// The motor reported itself disabled afterwards.
  bool disableConfirmed = false;
  /// Calls of the shutdown that failed, threw or gave an unusable reading.
  unsigned int failedCalls = 0;
  /// The motor call that had not returned when the device stopped waiting
  /// for it, or null. The text is the library's own and lives as long as it
  /// is loaded.
  const char* hungCall = nullptr;

  /// Anything short of a confirmed disable: the motor may still be enabled.
  [[nodiscard]] bool motorMayBeEnabled() const { return hadMotor && !disableConfirmed; }
};
