#include <cmath>
#include <exception>
#include <string>

#include <fmt/format.h>

#include "lifter/lifter_impl.h"
#include "lifter/lifter_settings.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"

namespace {

// The motor calls of a tick, as `moveFailures` counts them.
constexpr std::size_t kGetTorque = 0;
constexpr std::size_t kGetPosition = 1;
constexpr std::size_t kSetPosition = 2;
constexpr const char* kCallNames[] = {"getTorque", "getPosition", "setPosition"};

// What the exception being handled says, for an error line.
std::string ThrownText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return fmt::format("threw: {}", error.what());
  } catch (...) {
    return "threw";
  }
}

}  // namespace

int UpdownLifter::setIoStatus(int status) { return impl_->setIoStatus(status); }

int UpdownLifter::getIoStatus(int& status) { return impl_->getIoStatus(status); }

UpdownLifter::MoveOutcome UpdownLifter::lastMove() const { return impl_->lastMove(); }

void UpdownLifter::Callback() { impl_->Callback(); }

int UpdownLifter::Impl::setIoStatus(int status) {
  const std::lock_guard<std::mutex> lock(mtx);
  if (moving.load()) {
    LOG_WARN("Lifter is busy, cmd rejected...\r\n");
    return -1;
  }
  // Answered before the range check: a state declared with setInitialStatus
  // may lie outside 0 and 1. A lifter an abandoned move left mid-travel is in
  // neither state, so it moves whichever it is told.
  if (status == currentStatus.load() && !betweenStates.load()) {
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
  if (motorStartFailed) {
    LOG_ERROR("Lifter motor failed to start, cmd rejected: {}\r\n", status);
    return -1;
  }
  // State 0 lies in the motor's positive direction, state 1 in its negative one.
  const float next_step = vorn_io::lifter::StepOf(speed, freq, status == 0);
  if (!vorn_io::lifter::RampEnds(next_step, maxpos)) {
    LOG_ERROR("Ramp step {} per tick cannot cover maxpos {:.2f}, cmd rejected: {}\r\n", next_step, maxpos, status);
    return -1;
  }
  // The ramp runs from this zero: from an old one it would drive the motor
  // to wherever that lies.
  std::string zero_failure;
  try {
    const int result = motor->setZeroPosition(vorn_io::lifter::kZeroPositionValue);
    if (result != 0) {
      zero_failure = fmt::format("returned {}", result);
    }
  } catch (...) {
    zero_failure = ThrownText();
  }
  if (!zero_failure.empty()) {
    LOG_ERROR("Motor setZeroPosition {}, cmd rejected: {}\r\n", zero_failure, status);
    return -1;
  }
  cmdPos = 0.0F;
  moveHeldTicks = 0;
  moveFailures.fill(0);
  failingTicks = 0;
  moveHoldSkipped = false;
  step = next_step;
  targetStatus = status;
  moving.store(true);
  return 0;
}

int UpdownLifter::Impl::getIoStatus(int& status) const {
  // Lock-free, so that a poll never waits behind a tick's motor I/O. A move
  // stores its reached state before it clears `moving`.
  status = moving.load() ? -1 : currentStatus.load();
  return status;
}

UpdownLifter::MoveOutcome UpdownLifter::Impl::lastMove() const {
  // A lock of its own: the tick holds `mtx` across its motor calls.
  const std::lock_guard<std::mutex> lock(outcomeMtx);
  return outcome;
}

void UpdownLifter::Impl::CountFailure(std::size_t call, const std::string& what) {
  if (moveFailures[call]++ == 0) {
    LOG_ERROR("Motor {} {} during the move, further failures are counted\r\n", kCallNames[call], what);
  }
}

bool UpdownLifter::Impl::ReadMotor(std::size_t call, double& value) {
  int result = 0;
  try {
    result = call == kGetTorque ? motor->getTorque(value) : motor->getPosition(value);
  } catch (...) {
    CountFailure(call, ThrownText());
    throw;  // the tick abandons the move
  }
  if (result != 0) {
    CountFailure(call, fmt::format("returned {}", result));
    return false;
  }
  if (!std::isfinite(value)) {
    CountFailure(call, fmt::format("read {}", value));
    return false;
  }
  return true;
}

bool UpdownLifter::Impl::CommandPosition(double position) {
  int result = 0;
  try {
    result = motor->setPosition(position);
  } catch (...) {
    CountFailure(kSetPosition, ThrownText());
    throw;  // the tick abandons the move
  }
  if (result != 0) {
    CountFailure(kSetPosition, fmt::format("returned {}", result));
    return false;
  }
  return true;
}

void UpdownLifter::Impl::EndMove(bool reached) {
  unsigned int failed = 0;
  for (std::size_t call = 0; call < moveFailures.size(); ++call) {
    if (moveFailures[call] > 0) {
      LOG_ERROR("Motor {} failed {} times during the move\r\n", kCallNames[call], moveFailures[call]);
      failed += moveFailures[call];
    }
  }
  {
    const std::lock_guard<std::mutex> outcome_lock(outcomeMtx);
    outcome = MoveOutcome{reached, !reached, moveHeldTicks, failed};
  }
  if (reached) {
    currentStatus.store(targetStatus);
  }
  betweenStates.store(!reached);
  moving.store(false);
}

void UpdownLifter::Impl::Callback() {
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
    EndMove(true);
    return;
  }
  const unsigned int failed_before = moveFailures[kGetTorque] + moveFailures[kGetPosition] + moveFailures[kSetPosition];
  try {
    double torque = 0.0;
    double position = 0.0;
    const bool torque_usable = ReadMotor(kGetTorque, torque);
    const bool position_usable = ReadMotor(kGetPosition, position);
    // Without a usable torque the tick cannot tell whether to hold: it sends
    // nothing, and the ramp goes on.
    if (torque_usable) {
      // Compared signed, as the motor reports it: a negative reading never holds.
      if (torque >= static_cast<double>(maxTorque)) {
        LOG_INFO("Get max torque: {}, stop.\r\n", torque);
        ++moveHeldTicks;
        if (position_usable) {
          CommandPosition(position);
        } else if (!moveHoldSkipped) {
          moveHoldSkipped = true;
          LOG_ERROR("No usable position to hold at, hold skipped\r\n");
        }
      } else {
        CommandPosition(static_cast<double>(cmdPos));
      }
      LOG_INFO("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n", cmdPos, position, torque);
    }
  } catch (const std::exception& error) {
    LOG_ERROR("Motor library threw during the move: {}; move abandoned, lifter in neither state\r\n", error.what());
    EndMove(false);
    return;
  } catch (...) {
    LOG_ERROR("Motor library threw during the move; move abandoned, lifter in neither state\r\n");
    EndMove(false);
    return;
  }
  const unsigned int failed_now = moveFailures[kGetTorque] + moveFailures[kGetPosition] + moveFailures[kSetPosition];
  failingTicks = failed_now > failed_before ? failingTicks + 1 : 0;
  if (failingTicks >= kAbandonAfterFailingTicks) {
    LOG_ERROR("Motor failed on {} ticks in a row; move abandoned, lifter in neither state\r\n", failingTicks);
    EndMove(false);
  }
}
