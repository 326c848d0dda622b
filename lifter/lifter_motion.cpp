#include <cmath>

#include "lifter/lifter_settings.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"

int UpdownLifter::setIoStatus(int status) {
  const std::lock_guard<std::mutex> lock(mtx);
  if (moving.load()) {
    LOG_WARN("Lifter is busy, cmd rejected...\r\n");
    return -1;
  }
  // Answered before the range check: a state declared with setInitialStatus
  // may lie outside 0 and 1.
  if (status == currentStatus.load()) {
    LOG_WARN("Lifter already in stat: {}\r\n", status);
    return 0;
  }
  if (static_cast<unsigned int>(status) > 1U) {
    LOG_WARN("Lifter cmd error: {}\r\n", status);
    return -1;
  }
  if (!motor) {
    LOG_ERROR("Lifter has no motor, cmd rejected: {}\r\n", status);
    return -1;
  }
  // State 0 lies in the motor's positive direction, state 1 in its negative one.
  const float next_step = vorn_io::lifter::StepOf(speed, freq, status == 0);
  if (!vorn_io::lifter::RampEnds(next_step, maxpos)) {
    LOG_ERROR("Ramp step {} per tick cannot cover maxpos {:.2f}, cmd rejected: {}\r\n", next_step, maxpos, status);
    return -1;
  }
  motor->setZeroPosition(vorn_io::lifter::kZeroPositionValue);
  cmdPos = 0.0F;
  moveHeldTicks = 0;
  step = next_step;
  targetStatus = status;
  moving.store(true);
  return 0;
}

int UpdownLifter::getIoStatus(int& status) {
  // Lock-free, so that a poll never waits behind a tick's motor I/O. A move
  // stores its reached state before it clears `moving`.
  status = moving.load() ? -1 : currentStatus.load();
  return status;
}

UpdownLifter::MoveOutcome UpdownLifter::lastMove() const {
  // A lock of its own: the tick holds `mtx` across its motor calls.
  const std::lock_guard<std::mutex> lock(outcomeMtx);
  return outcome;
}

void UpdownLifter::Callback() {
  const std::lock_guard<std::mutex> lock(mtx);
  if (!moving.load()) {
    return;
  }
  cmdPos += step;
  // The move ends on the tick that passes the travel, without a command: the
  // previous tick's was the last. The line goes out before a poll can see the
  // reached state.
  if (std::fabs(cmdPos) > maxpos) {
    LOG_INFO("Get to target pos.\r\n");
    {
      const std::lock_guard<std::mutex> outcome_lock(outcomeMtx);
      outcome = MoveOutcome{true, false, moveHeldTicks, 0U};
    }
    currentStatus.store(targetStatus);
    moving.store(false);
    return;
  }
  double torque = 0.0;
  double position = 0.0;
  motor->getTorque(torque);
  motor->getPosition(position);
  // Compared signed, as the motor reports it: a negative reading never holds.
  if (torque >= static_cast<double>(maxTorque)) {
    LOG_INFO("Get max torque: {}, stop.\r\n", torque);
    ++moveHeldTicks;
    motor->setPosition(position);
  } else {
    motor->setPosition(static_cast<double>(cmdPos));
  }
  LOG_INFO("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n", cmdPos, position, torque);
}
