#include "vorn_motor/damiao_motor.h"

#include <cmath>
#include <utility>

#include "sim_motor.h"
#include "sim_notice.h"

namespace {

// The motor's own position controller, when the configured gain is unusable.
constexpr float kDefaultKp = 15.0F;
// Peak torque, in the unit the lifter's torque limit (3.5) is given in.
constexpr double kPeakTorque = 6.0;

vorn_motor_sim::detail::MotorTraits DamiaoTraits(bool inverse, float kp) {
  const float gain = kp > 0.0F && std::isfinite(kp) ? kp : kDefaultKp;
  return {vorn_motor_sim::detail::Vendor::kDamiao, inverse, static_cast<double>(gain), kPeakTorque};
}

}  // namespace

struct damiaoMotor::Impl {
  vorn_motor_sim::detail::SimMotor sim;
  Impl(const vorn_motor_sim::detail::MotorTraits& traits, std::string dev_name, const std::vector<double>& args)
      : sim(traits, std::move(dev_name), args) {}
};

damiaoMotor::damiaoMotor(int motor_model, unsigned int id, unsigned int mode, unsigned int master_id,
                         std::string dev_name, bool inverse, float kp, float kd)
    : impl_(std::make_unique<Impl>(
          DamiaoTraits(inverse, kp), std::move(dev_name),
          std::vector<double>{static_cast<double>(motor_model), static_cast<double>(id), static_cast<double>(mode),
                              static_cast<double>(master_id), inverse ? 1.0 : 0.0, static_cast<double>(kp),
                              static_cast<double>(kd)})) {
  vorn_motor_sim::detail::AnnounceSimulation();
}

damiaoMotor::~damiaoMotor() = default;

int damiaoMotor::initMotor() { return impl_->sim.initMotor(); }
int damiaoMotor::setPosition(double position) { return impl_->sim.setPosition(position); }
int damiaoMotor::setVelocity(double velocity) { return impl_->sim.setVelocity(velocity); }
int damiaoMotor::getVelocity(double& velocity) { return impl_->sim.getVelocity(velocity); }
int damiaoMotor::getPosition(double& position) { return impl_->sim.getPosition(position); }
int damiaoMotor::setEnable(bool enable) { return impl_->sim.setEnable(enable); }
int damiaoMotor::getEnableState(bool& enabled) { return impl_->sim.getEnableState(enabled); }
int damiaoMotor::setZeroPosition(int value) { return impl_->sim.setZeroPosition(value); }
int damiaoMotor::getTorque(double& torque) { return impl_->sim.getTorque(torque); }
