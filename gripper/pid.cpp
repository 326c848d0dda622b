#include "vorn_io/pid.h"

#include <cmath>

#include "vorn_io/logger.h"

Pid::Pid(double kp_gain, double ki_gain, double kd_gain, double out_max, double out_min)
    : kp(kp_gain), ki(ki_gain), kd(kd_gain), outMax(out_max), outMin(out_min) {}

double Pid::PidCalc(double error_now, double sample_time) {
  if (sample_time == 0.0) {
    LOG_ERROR("Error: sample time is {:.3f}\r\n", sample_time);
    return 0.0;
  }
  // There is no reset: one NaN or infinity taken into the history or the
  // running output would spoil every later step, so such a step is refused
  // before anything is stored.
  if (!std::isfinite(error_now) || !std::isfinite(sample_time)) {
    LOG_ERROR("Error: pid input is not finite: error is {}, sample time is {}\r\n", error_now, sample_time);
    return 0.0;
  }

  const double e1 = lastError;
  const double e2 = prevError;
  const double increment = kp * (((ki * sample_time + 1.0) + kd / sample_time) * error_now -
                                 ((kd + kd) / sample_time + 1.0) * e1 + (kd / sample_time) * e2);
  const double next_output = increment + output;
  // Finite inputs can still overflow (a tiny sample time, huge gains, or
  // non-finite gains); the same reasoning applies to the result.
  if (!std::isfinite(next_output)) {
    LOG_ERROR("Error: pid output is not finite: increment is {}, output is {}\r\n", increment, output);
    return 0.0;
  }

  error = error_now;
  lastError = error_now;
  prevError = e1;
  output = next_output;

  if (output > outMax) {
    return outMax;
  }
  if (outMin > output) {
    return outMin;
  }
  return output;
}

void Pid::UpdatePidParameters(double kp_gain, double ki_gain, double kd_gain) {
  kp = kp_gain;
  ki = ki_gain;
  kd = kd_gain;
}
