#include "vorn_io/lifter.h"

#include <cmath>
#include <exception>
#include <system_error>

#include "lifter/lifter_impl.h"
#include "lifter/lifter_settings.h"
#include "vorn_io/config_keys.h"
#include "vorn_io/description.h"
#include "vorn_io/logger.h"
#include "vorn_motor/common/motor_factory.h"

namespace {

namespace key = vorn_io::keys::lifter;
using vorn_io::keys::AbsentValueOf;

// Best effort, for a construction that fails: the exception that ends it
// is the one the host gets.
void DisableQuietly(MotorInterface& motor) noexcept {
  try {
    motor.setEnable(false);
  } catch (...) {
  }
}

}  // namespace

UpdownLifter::UpdownLifter(const YAML::Node& node) : impl_(std::make_shared<Impl>()) {
  Impl& state = *impl_;
  state.initParameter();

  const vorn_io::LifterReading reading = vorn_io::ReadLifterDescription(node);
  if (reading.error) {
    std::rethrow_exception(reading.error);
  }
  const vorn_io::LifterSettings& settings = reading.settings;
  if (reading.unusable_freq) {
    LOG_ERROR("Invalid freq: {}, use {}\r\n", *reading.unusable_freq, settings.freq);
  }
  if (reading.unusable_maxpos) {
    LOG_ERROR("Invalid maxpos: {}, use {:.2f}\r\n", *reading.unusable_maxpos, settings.maxpos);
  }
  if (reading.unusable_speed) {
    LOG_ERROR("Invalid speed: {}, use {}\r\n", *reading.unusable_speed, settings.speed);
  }
  if (reading.unusable_thread_priority) {
    LOG_ERROR("Invalid thread_priority: {}, use {}\r\n", *reading.unusable_thread_priority, settings.thread_priority);
  }
  // No tick runs yet: the state is written without its lock.
  state.maxpos = settings.maxpos;
  state.freq = settings.freq;
  state.speed = settings.speed;

  LOG_INFO("id: {}; master_id: {}; mode: {}; strdev: {}; maxpos: {:.2f}\r\n", settings.id, settings.master_id,
           settings.mode, settings.dev_name, state.maxpos);
  state.moveTicks = reading.move_ticks;
  state.ReserveTrace();
  const float step = vorn_io::lifter::StepOf(state.speed, state.freq, true);
  if (!vorn_io::lifter::RampEnds(step, state.maxpos)) {
    LOG_ERROR("Ramp step {} per tick cannot cover maxpos {:.2f}, moves will be refused\r\n", step, state.maxpos);
  } else if (vorn_io::lifter::FirstStepPassesTravel(step, state.maxpos)) {
    LOG_ERROR("Ramp step {} per tick passes maxpos {:.2f} on the first tick, moves will be refused\r\n", step,
              state.maxpos);
  }

  state.motor = MotorAllocate(node);
  MotorInterface* const motor = state.motor.get();
  if (motor == nullptr) {
    return;
  }
  bool enable_sent = false;
  try {
    const int init = motor->initMotor();
    if (init != 0) {
      LOG_ERROR("Motor initMotor returned {}, moves will be refused\r\n", init);
      state.motorStartFailed = true;
      return;
    }
    // Its result does not matter: every move sets its zero again.
    motor->setZeroPosition(vorn_io::lifter::kZeroPositionValue);
    enable_sent = true;
    const int enable = motor->setEnable(true);
    if (enable != 0) {
      LOG_ERROR("Motor setEnable returned {}, moves will be refused\r\n", enable);
      state.motorStartFailed = true;
      return;
    }
    // The tick holds the state, not this object (see the header).
    const int refused = start(vorn_io::lifter::TickPeriod(state.freq), settings.thread_priority,
                              [shared = impl_] { shared->Callback(); });
    if (refused != 0) {
      LOG_WARN(
          "SCHED_FIFO at thread_priority {} refused: {}; the lifter runs at normal scheduling. "
          "Allow it with an rtprio limit of at least {} (ulimit -r, rtprio in /etc/security/limits.conf, "
          "LimitRTPRIO= of a systemd unit) or the capability CAP_SYS_NICE\r\n",
          settings.thread_priority, std::error_code(refused, std::generic_category()).message(),
          settings.thread_priority);
    }
  } catch (...) {
    // The tick must be over before the motor goes. A motor told to enable
    // may be enabled even though the call threw.
    stop();
    if (enable_sent) {
      DisableQuietly(*motor);
    }
    state.motor.reset();
    throw;
  }
}

UpdownLifter::~UpdownLifter() {
  // Parked already, this only finds the outcome. A thread that could not be
  // waited for keeps its own reference to the state and the motor.
  static_cast<void>(park());
}

void UpdownLifter::initParameter() { impl_->initParameter(); }

void UpdownLifter::setInitialStatus(int status) { impl_->setInitialStatus(status); }

void UpdownLifter::Impl::initParameter() {
  // Ticks read the ramp state under the lock; so it is written under it.
  const std::lock_guard<vorn_io::lifter::TickLock> lock(mtx);
  currentStatus.store(0);
  targetStatus = 0;
  freq = AbsentValueOf<unsigned int>(key::kFreq);
  moving.store(false);
  step = 0.2F;
  maxpos = AbsentValueOf<float>(key::kMaxpos);
  maxTorque = 3.5F;
  cmdPos = 0.0F;
  speed = AbsentValueOf<float>(key::kSpeed);
  PlanMoves();
}

void UpdownLifter::Impl::PlanMoves() {
  moveTicks = vorn_io::lifter::MoveTicks(vorn_io::lifter::StepOf(speed, freq, true), maxpos);
}

void UpdownLifter::Impl::setInitialStatus(int status) {
  currentStatus.store(status);
  betweenStates.store(false);
}
