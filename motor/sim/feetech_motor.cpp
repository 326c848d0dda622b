#include "vorn_motor/feetech_motor.h"

#include <utility>

#include "sim_motor.h"
#include "sim_notice.h"

namespace {

// A servo's controller is stiff: a command a twentieth of a unit beyond an
// obstacle already pushes with the full default limit.
constexpr double kStiffness = 2000.0;
// The limit before the first setGripperStatus, in the unit of its torque argument.
constexpr double kDefaultTorqueLimit = 100.0;

}  // namespace

struct feetechMotor::Impl {
  vorn_motor_sim::detail::SimMotor sim;
  Impl(bool inverse, std::string dev_name, const std::vector<double>& args)
      : sim({vorn_motor_sim::detail::Vendor::kFeetech, inverse, kStiffness, kDefaultTorqueLimit}, std::move(dev_name),
            args) {}
};

feetechMotor::feetechMotor(unsigned int id, unsigned int baudrate, std::string& dev_name, bool inverse)
    : impl_(std::make_unique<Impl>(
          inverse, dev_name,
          std::vector<double>{static_cast<double>(id), static_cast<double>(baudrate), inverse ? 1.0 : 0.0})) {
  vorn_motor_sim::detail::AnnounceSimulation();
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
