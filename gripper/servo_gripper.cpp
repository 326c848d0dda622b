#include "vorn_io/gripper/servo_gripper.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "common/thrown_text.h"
#include "gripper/servo_gripper_impl.h"

namespace {

using vorn_io::detail::ThrownText;

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

ServoGripper::ServoGripper(int motor_id, unsigned int motor_baudrate, std::string& motor_dev_name, bool motor_inverse)
    : impl_(std::make_unique<Impl>()) {
  impl_->InitServoGripper(motor_id, motor_baudrate, motor_dev_name, motor_inverse);
}

ServoGripper::ServoGripper(const std::string& path) : impl_(std::make_unique<Impl>()) {
  // The loader takes its path by mutable reference; the caller's stays untouched.
  std::string file = path.empty() ? std::string(kDefaultParameterFile) : path;
  Impl& state = *impl_;
  state.function_get_para(file);
  state.StartFromParameters();
}

ServoGripper::ServoGripper(int motor_number, std::string& path) : impl_(std::make_unique<Impl>()) {
  Impl& state = *impl_;
  state.function_get_para(static_cast<unsigned int>(motor_number), path);
  state.StartFromParameters();
}

ServoGripper::ServoGripper(YAML::Node node) : impl_(std::make_unique<Impl>()) {
  Impl& state = *impl_;
  state.function_get_para(node);
  state.StartFromParameters();
}

ServoGripper::~ServoGripper() { impl_->ReleaseMotor(); }

void ServoGripper::InitServoGripper(int motor_id, unsigned int motor_baudrate, std::string& motor_dev_name,
                                    bool motor_inverse) {
  impl_->InitServoGripper(motor_id, motor_baudrate, motor_dev_name, motor_inverse);
}

int ServoGripper::setGripperMotion(double target, double torque) { return impl_->setGripperMotion(target, torque); }

int ServoGripper::getGripperState(bool& finished) { return impl_->getGripperState(finished); }

std::vector<vorn_io::GripperPoll> ServoGripper::lastMotionTrace() const {
  std::vector<vorn_io::GripperPoll> copy;
  copy.reserve(impl_->trace.Kept());
  impl_->trace.CopyTo(copy, impl_->trace.Oldest(), impl_->trace.End());
  return copy;
}

int ServoGripper::MoveToStatus(int status) {
  Impl& state = *impl_;
  return status != 0 ? state.setGripperMotion(Impl::kCloseTarget, state.torque_high)
                     : state.setGripperMotion(Impl::kOpenTarget, state.torque_low);
}

ParkOutcome ServoGripper::park() {
  impl_->ReleaseMotor();
  return impl_->parkOutcome;
}

void ServoGripper::Impl::ReleaseMotor() noexcept {
  if (!motor) {
    return;
  }
  ParkOutcome result;
  result.hadMotor = true;
  // A motor library that throws while disabling must not end the host in
  // `delete`: the motor is released all the same.
  try {
    const int disabled = motor->setEnable(false);
    result.disableTaken = disabled == 0;
    if (disabled != 0) {
      ++result.failedCalls;
      LOG_ERROR("The gripper motor setEnable(false) returned {} at shutdown\n", disabled);
    }
  } catch (...) {
    ++result.failedCalls;
    LOG_ERROR("The gripper motor setEnable(false) {} at shutdown\n", ThrownText());
  }
  std::this_thread::sleep_for(kDisableSettle);
  try {
    bool enabled = true;
    const int query = motor->getEnableState(enabled);
    if (query != 0) {
      ++result.failedCalls;
      LOG_ERROR("The gripper motor getEnableState returned {} at shutdown, disable not confirmed\n", query);
    } else if (enabled) {
      LOG_ERROR("The gripper motor still reports enabled at shutdown, released anyway\n");
    }
    result.disableConfirmed = query == 0 && !enabled;
  } catch (...) {
    ++result.failedCalls;
    LOG_ERROR("The gripper motor getEnableState {} at shutdown, disable not confirmed\n", ThrownText());
  }
  result.finished = true;
  parkOutcome = result;
  motor.reset();
}

int ServoGripper::Impl::SendMotion(double target, double torque) {
  const int result = motor->setGripperStatus(target, kMotionSpeed, torque);
  if (result != 0) {
    LOG_ERROR("The gripper motor refused the motion to {} (setGripperStatus returned {})\n", target, result);
    return -1;
  }
  return 0;
}

void ServoGripper::Impl::StartFromParameters() {
  // A motor from what a failed load left (no device name, a default id)
  // could drive whichever servo answers; the gripper drives none.
  if (!parametersLoaded) {
    loadFailed = true;
    LOG_ERROR("The gripper parameters did not load, no motor created\n");
    return;
  }
  InitServoGripper(static_cast<int>(id), baudrate, dev_name, inverse);
}

void ServoGripper::Impl::InitServoGripper(int motor_id, unsigned int motor_baudrate, std::string& motor_dev_name,
                                          bool motor_inverse) {
  // Two objects must never drive one servo line, so the old motor goes before
  // the new one is opened. If the new one then fails, the gripper has none.
  ReleaseMotor();
  loadFailed = false;  // the host named the motor itself
  motor = std::make_unique<feetechMotor>(static_cast<unsigned int>(motor_id), motor_baudrate, motor_dev_name,
                                         motor_inverse);
  LOG_INFO("The gripper motor has been created.\n");
  try {
    motor->initMotor();
    motor->setEnable(true);
    std::this_thread::sleep_for(kEnableSettle);
    SendMotion(kOpenTarget, kStartupTorque);
  } catch (...) {
    // A servo told to enable may be enabled even though a call threw: it is
    // disabled before its release, and the host gets the exception.
    ReleaseMotor();
    throw;
  }
  StartSettleTest();
}

void ServoGripper::Impl::StartSettleTest() {
  pollCount = 0;
  readingFailureLogged = false;
  trace.Clear();
  commandAt = std::chrono::steady_clock::now();
}

double ServoGripper::Impl::WindowVariance() const {
  double sum = 0.0;
  double sum_of_squares = 0.0;
  for (std::int32_t k = 0; k < windowCount; ++k) {
    const double sample = positionWindow[static_cast<std::size_t>(k)];
    sum += sample;
    sum_of_squares += sample * sample;
  }
  const auto n = static_cast<double>(windowCount);
  const double mean = sum / n;
  return sum_of_squares / n - mean * mean;
}

void ServoGripper::Impl::Record(double reading, bool settled) {
  vorn_io::GripperPoll poll;
  poll.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - commandAt).count();
  // Strictly increasing, even for polls within the clock's resolution.
  if (trace.Kept() > 0 && !(poll.seconds > trace.Newest().seconds)) {
    poll.seconds = std::nextafter(trace.Newest().seconds, std::numeric_limits<double>::infinity());
  }
  poll.position = reading;
  poll.variance = windowCount == kWindowSize ? WindowVariance() : std::numeric_limits<double>::quiet_NaN();
  poll.settled = settled;
  if (trace.Full()) {
    trace.Reserve(trace.Capacity() * 2 + 64);
  }
  trace.Push(poll);
}

int ServoGripper::Impl::setGripperMotion(double target, double torque) {
  StartSettleTest();
  if (motor) {
    return SendMotion(target, torque);
  }
  if (loadFailed) {
    LOG_ERROR("The gripper parameters did not load, motion to {} refused\n", target);
  } else {
    LOG_ERROR("The gripper has no motor, motion to {} refused\n", target);
  }
  return -1;
}

int ServoGripper::Impl::getGripperState(bool& finished) {
  finished = false;
  if (!motor) {
    return -1;  // nothing to read: parameters that did not load, or a failed re-initialisation
  }
  // A reading that failed or is no number is no sample: a stale position
  // repeated would look like rest. Only samples count towards the hold-off.
  double reading = 0.0;
  const int result = motor->getPosition(reading);
  if (result != 0 || !std::isfinite(reading)) {
    if (!readingFailureLogged) {
      readingFailureLogged = true;
      // A failed call's value is whatever the variable held: never shown.
      if (result != 0) {
        LOG_ERROR("The gripper motor gave no usable position (getPosition returned {})\n", result);
      } else {
        LOG_ERROR("The gripper motor gave no usable position (getPosition read {})\n", reading);
      }
    }
    Record(std::numeric_limits<double>::quiet_NaN(), false);
    return -1;
  }
  position = reading;
  ++pollCount;

  if (windowCount < kWindowSize) {
    ++windowCount;
  }
  windowWriteIndex = (windowWriteIndex + 1) % kWindowSize;
  positionWindow[static_cast<std::size_t>(windowWriteIndex)] = position;

  if (pollCount <= kHoldOffPolls) {
    Record(reading, false);
    return 0;
  }
  if (WindowVariance() < kSettledVariance) {
    finished = true;
    pollCount = 0;
  }
  Record(reading, finished);
  return 0;
}
