#pragma once

#include "vorn_io/export.h"

/// A discrete PID controller in incremental (velocity) form.
///
/// Each step is given the control error and that step's sample time; the
/// controller keeps the last two errors and a running output, and returns the
/// output limited to [outMin, outMax]. The running output itself is never
/// limited (it winds up). Not safe for concurrent use.
class VORN_IO_EXPORT Pid {
 public:
  /// Note the order of the limits: upper first.
  Pid(double kp_gain, double ki_gain, double kd_gain, double out_max, double out_min);

  /// One step; returns the running output limited to the range, the upper
  /// limit tested first. A zero sample time ("Error: sample time is ..."), a
  /// non-finite error or sample time, or a step whose running output would
  /// not be finite, is rejected with one error line: the result is 0.0 and
  /// nothing changes.
  double PidCalc(double error_now, double sample_time);

  /// Replaces the gains; the history and the running output stay.
  void UpdatePidParameters(double kp_gain, double ki_gain, double kd_gain);

 private:
  double kp;
  double ki;
  double kd;
  double error = 0.0;
  double lastError = 0.0;
  double prevError = 0.0;
  double output = 0.0;
  double outMax;
  double outMin;
};
