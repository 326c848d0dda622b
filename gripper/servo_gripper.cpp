#include "vorn_io/gripper/servo_gripper.h"

#include <chrono>
#include <thread>

namespace {

// One servo revolution is 4096 steps; the servo is driven at 200 steps per second.
constexpr double kMotionSpeed = 0.30679615757712825;
// The start-up move may meet whatever the gripper happens to hold, so it
// always pushes with the full torque rather than a configured one.
constexpr double kStartupTorque = 100.0;
// The servo needs a moment after enabling before it takes a command.
constexpr std::chrono::milliseconds kEnableSettle{30};
// The servo needs a moment after disabling before its line may be closed.
constexpr std::chrono::milliseconds kDisableSettle{200};
// The window holds positions of the last motion only once this many polls
// have passed, so the settle test never judges the motion before it.
constexpr int kHoldOffPolls = 400;
constexpr double kSettledVariance = 1e-6;
constexpr const char* kDefaultParameterFile = "motor_.yaml";

}  // namespace

ServoGripper::ServoGripper(int motor_id, unsigned int motor_baudrate, std::string& motor_dev_name, bool motor_inverse) {
  InitServoGripper(motor_id, motor_baudrate, motor_dev_name, motor_inverse);
}

ServoGripper::ServoGripper(const std::string& path) {
  // The loader takes its path by mutable reference; the caller's stays untouched.
  std::string file = path.empty() ? std::string(kDefaultParameterFile) : path;
  function_get_para(file);
  InitServoGripper(static_cast<int>(id), baudrate, dev_name, inverse);
}

ServoGripper::ServoGripper(int motor_number, std::string& path) {
  function_get_para(static_cast<unsigned int>(motor_number), path);
  InitServoGripper(static_cast<int>(id), baudrate, dev_name, inverse);
}

ServoGripper::ServoGripper(YAML::Node node) {
  function_get_para(node);
  InitServoGripper(static_cast<int>(id), baudrate, dev_name, inverse);
}

ServoGripper::~ServoGripper() { ReleaseMotor(); }

void ServoGripper::ReleaseMotor() {
  if (!motor) {
    return;
  }
  motor->setEnable(false);
  std::this_thread::sleep_for(kDisableSettle);
  motor.reset();
}

void ServoGripper::InitServoGripper(int motor_id, unsigned int motor_baudrate, std::string& motor_dev_name,
                                    bool motor_inverse) {
  // Two objects must never drive one servo line, so the old motor goes before
  // the new one is opened. If the new one then fails, the gripper has none.
  ReleaseMotor();
  motor = std::make_unique<feetechMotor>(static_cast<unsigned int>(motor_id), motor_baudrate, motor_dev_name,
                                         motor_inverse);
  LOG_INFO("The gripper motor has been created.\n");
  motor->initMotor();
  motor->setEnable(true);
  std::this_thread::sleep_for(kEnableSettle);
  motor->setGripperStatus(kOpenTarget, kMotionSpeed, kStartupTorque);
  pollCount = 0;
}

int ServoGripper::setGripperMotion(double target, double torque) {
  pollCount = 0;
  if (motor) {
    motor->setGripperStatus(target, kMotionSpeed, torque);
  }
  return 0;
}

int ServoGripper::getGripperState(bool& finished) {
  finished = false;
  if (!motor) {
    return 0;  // a failed re-initialisation left nothing to read
  }
  ++pollCount;
  motor->getPosition(position);

  if (windowCount < kWindowSize) {
    ++windowCount;
  }
  windowWriteIndex = (windowWriteIndex + 1) % kWindowSize;
  positionWindow[static_cast<std::size_t>(windowWriteIndex)] = position;

  if (pollCount <= kHoldOffPolls) {
    return 0;
  }

  double sum = 0.0;
  double sum_of_squares = 0.0;
  for (std::int32_t k = 0; k < windowCount; ++k) {
    const double sample = positionWindow[static_cast<std::size_t>(k)];
    sum += sample;
    sum_of_squares += sample * sample;
  }
  const auto n = static_cast<double>(windowCount);
  const double mean = sum / n;
  const double variance = sum_of_squares / n - mean * mean;
  // A NaN variance fails this test, so an unreadable position never counts as rest.
  if (variance < kSettledVariance) {
    finished = true;
    pollCount = 0;
  }
  return 0;
}
