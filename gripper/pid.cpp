// Placeholder: replaced by the PID implementation.
#include "vorn_io/pid.h"

Pid::Pid(double kp_gain, double ki_gain, double kd_gain, double out_max, double out_min)
    : kp(kp_gain), ki(ki_gain), kd(kd_gain), outMax(out_max), outMin(out_min) {}
double Pid::PidCalc(double, double) { return 0.0; }
void Pid::UpdatePidParameters(double kp_gain, double ki_gain, double kd_gain) {
  kp = kp_gain;
  ki = ki_gain;
  kd = kd_gain;
}
