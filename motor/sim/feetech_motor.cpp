#include "vorn_motor/feetech_motor.h"

#include "sim_motor.h"

struct feetechMotor::Impl {
  vorn_motor_sim::detail::SimMotor sim;
  explicit Impl(std::string dev_name) : sim("feetechMotor", std::move(dev_name)) {}
};

feetechMotor::feetechMotor(unsigned int id, unsigned int baudrate, std::string& dev_name, bool inverse)
    : impl_(std::make_unique<Impl>(dev_name)) {
  impl_->sim.RecordConstruction({static_cast<double>(id), static_cast<double>(baudrate), inverse ? 1.0 : 0.0});
}

feetechMotor::~feetechMotor() = default;

int feetechMotor::initMotor() { return impl_->sim.initMotor(); }
int feetechMotor::setPosition(double position) { return impl_->sim.setPosition(position); }
int feetechMotor::setVelocity(double velocity) { return impl_->sim.setVelocity(velocity); }
int feetechMotor::getVelocity(double& velocity) { return impl_->sim.getVelocity(velocity); }
int feetechMotor::getPosition(double& position) { return impl_->sim.getPosition(position); }
int feetechMotor::setEnable(bool enable) { return impl_->sim.setEnable(enable); }
int feetechMotor::getEnableState(bool& enabled) { return impl_->sim.getEnableState(enabled); }
int feetechMotor::setZeroPosition(int value) { return impl_->sim.setZeroPosition(value); }
int feetechMotor::getTorque(double& torque) { return impl_->sim.getTorque(torque); }
int feetechMotor::setGripperStatus(double position, double speed, double torque) {
  return impl_->sim.setGripperStatus(position, speed, torque);
}
