#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "vorn_motor/damiao_motor.h"
#include "vorn_motor/feetech_motor.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

using testing::DoubleNear;
using testing::ElementsAre;
using testing::HasSubstr;

constexpr double kLifterTorqueLimit = 3.5;
constexpr double kGripperSpeed = 0.30679615757712825;

/// A damiao motor with the lifter's defaults, initialised and enabled.
std::unique_ptr<damiaoMotor> ReadyDamiao(const std::string& dev_name, bool inverse = false) {
  auto motor = std::make_unique<damiaoMotor>(4340, 1, 0, 0, dev_name, inverse, 15.0F, 1.0F);
  motor->initMotor();
  motor->setEnable(true);
  return motor;
}

std::unique_ptr<feetechMotor> ReadyFeetech(std::string dev_name) {
  auto motor = std::make_unique<feetechMotor>(1, 115200, dev_name, false);
  motor->initMotor();
  motor->setEnable(true);
  return motor;
}

double PositionOf(MotorInterface& motor) {
  double position = 0.0;
  EXPECT_EQ(motor.getPosition(position), 0);
  return position;
}

double TorqueOf(MotorInterface& motor) {
  double torque = 0.0;
  EXPECT_EQ(motor.getTorque(torque), 0);
  return torque;
}

vorn_motor_sim::MotorScript WithMaxSpeed(double speed) {
  vorn_motor_sim::MotorScript script;
  script.maxSpeed = speed;
  return script;
}

vorn_motor_sim::MotorScript WithObstacle(double obstacle) {
  vorn_motor_sim::MotorScript script;
  script.obstacle = obstacle;
  return script;
}

/// Every test runs on the manual clock: motors move only when it advances.
class SimModelTest : public testing::Test {
 protected:
  void SetUp() override {
    vorn_motor_sim::Reset();
    vorn_motor_sim::UseManualClock();
  }
  void TearDown() override { vorn_motor_sim::Reset(); }
};

TEST_F(SimModelTest, TravelsTowardsTheCommandAtTheBoundedRate) {
  vorn_motor_sim::Configure("rate", WithMaxSpeed(2.0));
  auto motor = ReadyDamiao("rate");
  motor->setPosition(10.0);
  vorn_motor_sim::AdvanceClock(1.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(2.0, 1e-9));
  double velocity = 0.0;
  motor->getVelocity(velocity);
  EXPECT_THAT(velocity, DoubleNear(2.0, 1e-9));
  vorn_motor_sim::AdvanceClock(2.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(6.0, 1e-9));
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(10.0, 1e-9));  // arrives without overshoot
  vorn_motor_sim::AdvanceClock(1.0);
  motor->getVelocity(velocity);
  EXPECT_EQ(velocity, 0.0);
  EXPECT_EQ(TorqueOf(*motor), 0.0);
}

TEST_F(SimModelTest, TheServoTravelsAtItsCommandedSpeedUpToTheMaximum) {
  struct Case {
    double commanded;
    std::optional<double> max_speed;
    double expected_after_2s;
  };
  for (const Case& c : {Case{0.5, std::nullopt, 1.0}, Case{0.5, 0.25, 0.5}, Case{0.0, 1.5, 3.0}}) {
    SCOPED_TRACE(c.commanded);
    vorn_motor_sim::Reset();
    vorn_motor_sim::UseManualClock();
    vorn_motor_sim::MotorScript script;
    script.maxSpeed = c.max_speed;
    vorn_motor_sim::Configure("servo-rate", script);
    auto motor = ReadyFeetech("servo-rate");
    motor->setGripperStatus(10.0, c.commanded, 50.0);
    vorn_motor_sim::AdvanceClock(2.0);
    EXPECT_THAT(PositionOf(*motor), DoubleNear(c.expected_after_2s, 1e-9));
  }
}

TEST_F(SimModelTest, AnObstacleStopsTravelAndPushingAgainstItRaisesTheTorque) {
  for (const double side : {1.0, -1.0}) {
    SCOPED_TRACE(side);
    const std::string name = side > 0 ? "wall-up" : "wall-down";
    vorn_motor_sim::Configure(name, WithObstacle(3.0 * side));
    auto motor = ReadyDamiao(name);
    motor->setPosition(10.0 * side);
    vorn_motor_sim::AdvanceClock(10.0);
    EXPECT_THAT(PositionOf(*motor), DoubleNear(3.0 * side, 1e-9));
    // Signed like the push; well past the lifter's hold threshold.
    EXPECT_GE(TorqueOf(*motor) * side, kLifterTorqueLimit);
    // Held where it stands, it no longer pushes.
    motor->setPosition(3.0 * side);
    EXPECT_EQ(TorqueOf(*motor), 0.0);
    // Nothing holds it on the way back.
    motor->setPosition(0.0);
    vorn_motor_sim::AdvanceClock(10.0);
    EXPECT_THAT(PositionOf(*motor), DoubleNear(0.0, 1e-9));
  }
}

TEST_F(SimModelTest, TheTorqueWindsUpWithTheCommandBeyondTheObstacle) {
  vorn_motor_sim::Configure("spring", WithObstacle(1.0));
  auto motor = ReadyDamiao("spring");
  motor->setPosition(1.1);
  vorn_motor_sim::AdvanceClock(5.0);
  const double slight = TorqueOf(*motor);
  motor->setPosition(1.5);
  const double harder = TorqueOf(*motor);
  EXPECT_GT(slight, 0.0);
  EXPECT_LT(slight, kLifterTorqueLimit);
  EXPECT_GE(harder, kLifterTorqueLimit);
}

TEST_F(SimModelTest, AServoClosingOnAnObjectSettlesThereAtItsTorqueLimit) {
  vorn_motor_sim::Configure("jaw", WithObstacle(2.0));
  auto motor = ReadyFeetech("jaw");
  motor->setGripperStatus(10.0, kGripperSpeed, 60.0);
  vorn_motor_sim::AdvanceClock(1.0);
  const double moving = TorqueOf(*motor);
  EXPECT_GT(moving, 0.0);
  EXPECT_LT(moving, 60.0 * 0.5);
  vorn_motor_sim::AdvanceClock(20.0);
  std::vector<double> readings;
  for (int i = 0; i < 20; ++i) {
    vorn_motor_sim::AdvanceClock(0.01);
    readings.push_back(PositionOf(*motor));
  }
  EXPECT_THAT(readings, testing::Each(DoubleNear(2.0, 1e-12)));
  EXPECT_THAT(TorqueOf(*motor), DoubleNear(60.0, 1e-9));
  // Opening again is free.
  motor->setGripperStatus(-10.0, kGripperSpeed, 60.0);
  vorn_motor_sim::AdvanceClock(1.0);
  EXPECT_LT(PositionOf(*motor), 2.0);
}

TEST_F(SimModelTest, AServoWithoutTorqueDoesNotMove) {
  auto motor = ReadyFeetech("limp");
  motor->setGripperStatus(10.0, kGripperSpeed, 0.0);
  vorn_motor_sim::AdvanceClock(5.0);
  EXPECT_EQ(PositionOf(*motor), 0.0);
}

TEST_F(SimModelTest, ADisabledMotorStaysWhereItIs) {
  auto motor = std::make_unique<damiaoMotor>(4340, 1, 0, 0, "limp-damiao", false, 15.0F, 1.0F);
  motor->initMotor();
  motor->setPosition(5.0);
  vorn_motor_sim::AdvanceClock(5.0);
  EXPECT_EQ(PositionOf(*motor), 0.0);
  bool enabled = true;
  EXPECT_EQ(motor->getEnableState(enabled), 0);
  EXPECT_FALSE(enabled);

  // Enabling holds the present position rather than chasing an old command.
  motor->setEnable(true);
  vorn_motor_sim::AdvanceClock(5.0);
  EXPECT_EQ(PositionOf(*motor), 0.0);

  motor->setPosition(5.0);
  vorn_motor_sim::AdvanceClock(0.5);
  const double when_disabled = PositionOf(*motor);
  EXPECT_GT(when_disabled, 0.0);
  motor->setEnable(false);
  vorn_motor_sim::AdvanceClock(5.0);
  EXPECT_EQ(PositionOf(*motor), when_disabled);
  EXPECT_EQ(TorqueOf(*motor), 0.0);
  EXPECT_EQ(motor->getEnableState(enabled), 0);
  EXPECT_FALSE(enabled);
}

TEST_F(SimModelTest, SetZeroPositionRebasesTheFrame) {
  vorn_motor_sim::Configure("rebase", WithObstacle(6.0));
  auto motor = ReadyDamiao("rebase");
  motor->setPosition(4.0);
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_EQ(motor->setZeroPosition(200), 0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(0.0, 1e-9));
  // The frame moved, the axis did not: the obstacle is now 2 ahead.
  motor->setPosition(5.0);
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(2.0, 1e-9));
}

TEST_F(SimModelTest, AnInvertedMotorMeetsTheObstacleTheOtherWay) {
  vorn_motor_sim::Configure("mirrored", WithObstacle(3.0));
  auto motor = ReadyDamiao("mirrored", true);
  motor->setPosition(-10.0);
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(-3.0, 1e-9));
  EXPECT_LE(TorqueOf(*motor), -kLifterTorqueLimit);
  motor->setPosition(10.0);
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(10.0, 1e-9));
}

TEST_F(SimModelTest, ARampFasterThanTheMotorLagsWithoutTrippingTheTorqueLimit) {
  // A lifter-like ramp with the simulation's defaults: 10 units/s in 10 ticks a second.
  auto motor = ReadyDamiao("lagging");
  double ramp = 0.0;
  double previous = 0.0;
  for (int tick = 1; tick <= 20; ++tick) {
    vorn_motor_sim::AdvanceClock(0.1);
    EXPECT_LT(TorqueOf(*motor), kLifterTorqueLimit) << "tick " << tick;
    const double position = PositionOf(*motor);
    EXPECT_GE(position, previous);
    previous = position;
    ramp += 1.0;
    motor->setPosition(ramp);
  }
  EXPECT_LT(previous, 0.75 * ramp);
  EXPECT_GT(previous, 0.25 * ramp);
}

TEST_F(SimModelTest, ReadingsCarrySeededNoise) {
  vorn_motor_sim::MotorScript script;
  script.noise = 0.01;
  script.seed = 42;
  vorn_motor_sim::Configure("noisy", script);
  auto first = ReadyDamiao("noisy");
  auto second = ReadyDamiao("noisy");
  std::vector<double> a;
  std::vector<double> b;
  for (int i = 0; i < 50; ++i) {
    a.push_back(PositionOf(*first));
    b.push_back(PositionOf(*second));
  }
  EXPECT_EQ(a, b);
  EXPECT_THAT(a, testing::Each(testing::AllOf(testing::Ge(-0.01), testing::Le(0.01))));
  EXPECT_NE(a.front(), a.back());
}

TEST_F(SimModelTest, CallsBeforeInitMotorAreRefused) {
  damiaoMotor motor(4340, 1, 0, 0, "uninitialised", false, 15.0F, 1.0F);
  EXPECT_EQ(motor.setEnable(true), -1);
  EXPECT_EQ(motor.setPosition(1.0), -1);
  vorn_motor_sim::AdvanceClock(1.0);
  motor.initMotor();
  EXPECT_EQ(PositionOf(motor), 0.0);
  const std::vector<vorn_motor_sim::Call> refused = vorn_motor_sim::Calls("uninitialised", "setEnable");
  ASSERT_EQ(refused.size(), 1U);
  EXPECT_EQ(refused[0].result, -1);
}

TEST_F(SimModelTest, ScriptedReadingsComeFirstThenTheModel) {
  vorn_motor_sim::MotorScript script;
  script.torques = {3.6, -10.0};
  script.positions = {7.0};
  vorn_motor_sim::Configure("scripted", script);
  auto motor = ReadyDamiao("scripted");
  EXPECT_EQ(TorqueOf(*motor), 3.6);
  EXPECT_EQ(TorqueOf(*motor), -10.0);
  EXPECT_EQ(TorqueOf(*motor), 0.0);
  EXPECT_EQ(PositionOf(*motor), 7.0);
  EXPECT_EQ(PositionOf(*motor), 0.0);
}

TEST_F(SimModelTest, ScriptedFaultsFailOrThrowInTheirWindowOfCalls) {
  using vorn_motor_sim::Fault;
  vorn_motor_sim::MotorScript script;
  script.torques = {std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::infinity(), 1.5, 2.5};
  // The second and third getTorque fail; the next behaves again.
  script.faults = {{"getTorque", Fault::kFails, 1, 2}, {"setPosition", Fault::kThrows}};
  vorn_motor_sim::Configure("faulty", script);
  auto motor = ReadyDamiao("faulty");

  std::vector<int> results;
  std::vector<double> readings;
  for (int i = 0; i < 4; ++i) {
    double torque = 42.0;
    results.push_back(motor->getTorque(torque));
    readings.push_back(torque);
  }
  EXPECT_THAT(results, ElementsAre(0, -1, -1, 0));
  // A failed call writes nothing and uses no scripted reading up.
  ASSERT_EQ(readings.size(), 4U);
  EXPECT_TRUE(std::isnan(readings[0]));
  EXPECT_THAT(std::vector<double>(readings.begin() + 1, readings.end()),
              ElementsAre(42.0, 42.0, -std::numeric_limits<double>::infinity()));
  std::vector<int> journalled;
  for (const vorn_motor_sim::Call& call : vorn_motor_sim::Calls("faulty", "getTorque")) {
    journalled.push_back(call.result);
  }
  EXPECT_THAT(journalled, ElementsAre(0, -1, -1, 0));

  EXPECT_THROW(motor->setPosition(3.0), std::runtime_error);
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_EQ(PositionOf(*motor), 0.0);  // the command that threw did nothing
  ASSERT_EQ(vorn_motor_sim::Calls("faulty", "setPosition").size(), 1U);
  EXPECT_EQ(vorn_motor_sim::Calls("faulty", "setPosition")[0].result, -1);
}

TEST_F(SimModelTest, AnEnableThatThrowsAfterActingLeavesTheMotorEnabled) {
  vorn_motor_sim::MotorScript script;
  script.faults = {{"setEnable", vorn_motor_sim::Fault::kThrowsAfterActing, 0, 1}};
  vorn_motor_sim::Configure("enables-then-throws", script);
  damiaoMotor motor(4340, 1, 0, 0, "enables-then-throws", false, 15.0F, 1.0F);
  motor.initMotor();
  EXPECT_THROW(motor.setEnable(true), std::runtime_error);
  bool enabled = false;
  EXPECT_EQ(motor.getEnableState(enabled), 0);
  EXPECT_TRUE(enabled);
  EXPECT_EQ(motor.setEnable(false), 0);  // past the window
  EXPECT_EQ(motor.getEnableState(enabled), 0);
  EXPECT_FALSE(enabled);
}

TEST_F(SimModelTest, EnableStateScripts) {
  struct Case {
    const char* name;
    vorn_motor_sim::MotorScript script;
    std::vector<int> results;
    std::vector<bool> enabled;
  };
  vorn_motor_sim::MotorScript fails;
  fails.enableQueryFails = true;
  vorn_motor_sim::MotorScript never;
  never.neverDisables = true;
  vorn_motor_sim::MotorScript lagging;
  lagging.disableLagQueries = 2;
  const std::vector<Case> cases = {
      {"prompt", {}, {0, 0, 0}, {false, false, false}},
      {"fails", fails, {-1, -1, -1}, {true, true, true}},  // the flag is left as it was
      {"never", never, {0, 0, 0}, {true, true, true}},
      {"lagging", lagging, {0, 0, 0}, {true, true, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vorn_motor_sim::Configure(c.name, c.script);
    auto motor = ReadyDamiao(c.name);
    motor->setEnable(false);
    std::vector<int> results;
    std::vector<bool> enabled;
    for (int i = 0; i < 3; ++i) {
      bool flag = true;
      results.push_back(motor->getEnableState(flag));
      enabled.push_back(flag);
    }
    EXPECT_EQ(results, c.results);
    EXPECT_EQ(enabled, c.enabled);
  }
}

TEST_F(SimModelTest, AScriptedConstructorFailureThrowsAndLeavesNoMotor) {
  vorn_motor_sim::MotorScript script;
  script.constructorThrows = true;
  vorn_motor_sim::Configure("broken", script);
  const std::size_t live = vorn_motor_sim::LiveMotors();
  std::string name = "broken";
  EXPECT_THROW(feetechMotor(3, 9600, name, true), std::runtime_error);
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live);
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal("broken");
  ASSERT_EQ(journal.size(), 1U);
  EXPECT_EQ(journal[0].op, "feetechMotor");
  EXPECT_THAT(journal[0].args, ElementsAre(3, 9600, 1));
  EXPECT_EQ(journal[0].result, -1);
}

TEST_F(SimModelTest, TheJournalKeepsEveryCallInOrderUntilReset) {
  const std::size_t live = vorn_motor_sim::LiveMotors();
  {
    auto motor = ReadyFeetech("journal");
    EXPECT_EQ(vorn_motor_sim::LiveMotors(), live + 1);
    motor->setGripperStatus(-10.0, kGripperSpeed, 100.0);
    motor->setEnable(false);
  }
  EXPECT_EQ(vorn_motor_sim::LiveMotors(), live);
  std::vector<std::string> ops;
  for (const vorn_motor_sim::Call& call : vorn_motor_sim::Journal("journal")) {
    ops.push_back(call.op);
  }
  EXPECT_THAT(ops,
              ElementsAre("feetechMotor", "initMotor", "setEnable", "setGripperStatus", "setEnable", "~feetechMotor"));
  EXPECT_THAT(vorn_motor_sim::Calls("journal", "setGripperStatus").at(0).args,
              ElementsAre(-10.0, kGripperSpeed, 100.0));
  EXPECT_THAT(vorn_motor_sim::Calls("journal", "setEnable").at(1).args, ElementsAre(0.0));
  vorn_motor_sim::Reset();
  EXPECT_TRUE(vorn_motor_sim::Journal("journal").empty());
}

TEST_F(SimModelTest, ALongRunningJournalKeepsTheLatestCallsInOrder) {
  auto motor = ReadyDamiao("long-run");
  constexpr int kCommands = 70000;
  for (int i = 0; i < kCommands; ++i) {
    motor->setPosition(static_cast<double>(i));
  }
  const std::vector<vorn_motor_sim::Call> journal = vorn_motor_sim::Journal("long-run");
  ASSERT_EQ(journal.size(), 65536U);
  // The oldest calls (constructor, initMotor, setEnable, the first commands)
  // are gone; what is left runs on without a gap to the latest.
  const double first = kCommands - 65536.0;
  for (std::size_t i = 0; i < journal.size(); ++i) {
    ASSERT_EQ(journal[i].op, "setPosition") << i;
    ASSERT_THAT(journal[i].args, ElementsAre(first + static_cast<double>(i))) << i;
  }
  motor.reset();
  EXPECT_EQ(vorn_motor_sim::Journal("long-run").back().op, "~damiaoMotor");
}

TEST_F(SimModelTest, MotorsMayBeUsedFromSeveralThreads) {
  auto motor = ReadyDamiao("threads");
  std::vector<std::thread> threads;
  threads.reserve(4);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&motor] {
      for (int i = 0; i < 500; ++i) {
        double value = 0.0;
        motor->setPosition(1.0);
        motor->getTorque(value);
        vorn_motor_sim::AdvanceClock(0.001);
        if (i % 50 == 0) {
          static_cast<void>(vorn_motor_sim::Journal("threads").size());
        }
      }
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(vorn_motor_sim::Calls("threads", "getTorque").size(), 2000U);
}

TEST_F(SimModelTest, TheRealClockMovesMotorsByItself) {
  vorn_motor_sim::UseRealClock();
  vorn_motor_sim::Configure("real-time", WithMaxSpeed(100.0));
  auto motor = ReadyDamiao("real-time");
  motor->setPosition(1.0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (PositionOf(*motor) < 1.0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(PositionOf(*motor), 1.0);
}

/// Sets environment variables for the life of the object.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(std::vector<std::pair<std::string, std::string>> variables)
      : variables_(std::move(variables)) {
    for (const auto& [name, value] : variables_) {
      setenv(name.c_str(), value.c_str(), 1);  // NOLINT(concurrency-mt-unsafe): no motor is being created
    }
  }
  ~ScopedEnvironment() {
    for (const auto& variable : variables_) {
      unsetenv(variable.first.c_str());  // NOLINT(concurrency-mt-unsafe)
    }
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::vector<std::pair<std::string, std::string>> variables_;
};

TEST_F(SimModelTest, TheEnvironmentSetsObstacleAndSpeedPerVendor) {
  const ScopedEnvironment environment({{"VORN_MOTOR_SIM_DAMIAO_OBSTACLE", "2.5"},
                                       {"VORN_MOTOR_SIM_MAX_SPEED", "1"},
                                       {"VORN_MOTOR_SIM_FEETECH_MAX_SPEED", "0.5"}});
  auto lifter_motor = ReadyDamiao("env-damiao");
  auto gripper_motor = ReadyFeetech("env-feetech");
  lifter_motor->setPosition(10.0);
  gripper_motor->setGripperStatus(10.0, 0.0, 100.0);
  vorn_motor_sim::AdvanceClock(2.0);
  EXPECT_THAT(PositionOf(*lifter_motor), DoubleNear(2.0, 1e-9));
  EXPECT_THAT(PositionOf(*gripper_motor), DoubleNear(1.0, 1e-9));
  vorn_motor_sim::AdvanceClock(100.0);
  EXPECT_THAT(PositionOf(*lifter_motor), DoubleNear(2.5, 1e-9));
  EXPECT_GE(TorqueOf(*lifter_motor), kLifterTorqueLimit);
  EXPECT_THAT(PositionOf(*gripper_motor), DoubleNear(10.0, 1e-9));  // the obstacle was the lifter's only
}

TEST_F(SimModelTest, TheEnvironmentScriptsFailingThrowingAndHangingCalls) {
  const ScopedEnvironment environment({{"VORN_MOTOR_SIM_DAMIAO_FAIL", "getTorque,setZeroPosition@1"},
                                       {"VORN_MOTOR_SIM_THROW", "getPosition"},
                                       {"VORN_MOTOR_SIM_DAMIAO_HANG", "getVelocity@1"},
                                       {"VORN_MOTOR_SIM_FEETECH_FAIL", "setEnable,bogus"}});
  testing::internal::CaptureStderr();
  auto lifter_motor = ReadyDamiao("env-fail-damiao");
  auto gripper_motor = ReadyFeetech("env-fail-feetech");
  const std::string complaints = testing::internal::GetCapturedStderr();
  double value = 0.0;
  EXPECT_EQ(lifter_motor->getTorque(value), -1);
  EXPECT_EQ(lifter_motor->setZeroPosition(200), 0);
  EXPECT_EQ(lifter_motor->setZeroPosition(200), -1);
  EXPECT_THROW(lifter_motor->getPosition(value), std::runtime_error);
  // The first call behaves; the second hangs until it is released.
  EXPECT_EQ(lifter_motor->getVelocity(value), 0);
  std::future<int> hung = std::async(std::launch::async, [&] { return lifter_motor->getVelocity(value); });
  EXPECT_EQ(hung.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  vorn_motor_sim::ReleaseStalledCalls();
  EXPECT_EQ(hung.get(), 0);
  // A list with an unknown operation is ignored as a whole, and said so.
  EXPECT_THAT(complaints, HasSubstr("VORN_MOTOR_SIM_FEETECH_FAIL=\"setEnable,bogus\""));
  EXPECT_EQ(vorn_motor_sim::Calls("env-fail-feetech", "setEnable").at(0).result, 0);
  EXPECT_THROW(gripper_motor->getPosition(value), std::runtime_error);
}

TEST_F(SimModelTest, AScriptOverridesTheEnvironmentAndBadValuesAreReported) {
  const ScopedEnvironment environment({{"VORN_MOTOR_SIM_OBSTACLE", "1"}, {"VORN_MOTOR_SIM_MAX_SPEED", "fast"}});
  vorn_motor_sim::Configure("env-script", WithObstacle(4.0));
  testing::internal::CaptureStderr();
  auto motor = ReadyDamiao("env-script");
  const std::string complaints = testing::internal::GetCapturedStderr();
  EXPECT_THAT(complaints, HasSubstr("VORN_MOTOR_SIM_MAX_SPEED=\"fast\""));
  motor->setPosition(10.0);
  vorn_motor_sim::AdvanceClock(0.5);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(2.5, 1e-9));  // the default speed, 5 per second
  vorn_motor_sim::AdvanceClock(10.0);
  EXPECT_THAT(PositionOf(*motor), DoubleNear(4.0, 1e-9));
}

}  // namespace
