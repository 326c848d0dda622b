#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.h"
#include "vorn_io/pid.h"

namespace {

using testing::HasSubstr;
using vorn_io_test::LogOf;
using vorn_io_test::Occurrences;

constexpr double kTolerance = 1e-9;

// Runs the steps {error, sample time} and returns what each returned.
std::vector<double> RunSteps(Pid& pid, const std::vector<std::pair<double, double>>& steps) {
  std::vector<double> results;
  results.reserve(steps.size());
  for (const auto& [error, sample_time] : steps) {
    results.push_back(pid.PidCalc(error, sample_time));
  }
  return results;
}

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t k = 0; k < actual.size(); ++k) {
    EXPECT_NEAR(actual[k], expected[k], kTolerance) << "step " << k + 1;
  }
}

TEST(Pid, ProportionalOnlyReturnsGainTimesError) {
  Pid pid(1, 0, 0, 10, -10);
  ExpectNear(RunSteps(pid, {{2.0, 0.1}, {2.0, 0.1}, {2.0, 0.1}}), {2.0, 2.0, 2.0});
}

TEST(Pid, FullLawWithTheFirstStepsDerivativeKick) {
  Pid pid(2, 0.5, 0.1, 100, -100);
  ExpectNear(RunSteps(pid, {{1.0, 0.1}, {1.0, 0.1}, {1.0, 0.1}, {1.0, 0.1}}), {4.1, 2.2, 2.3, 2.4});
}

TEST(Pid, RunningOutputWindsUpBeyondTheLimit) {
  Pid pid(1, 1, 0, 3, -3);
  ExpectNear(RunSteps(pid, std::vector<std::pair<double, double>>(5, {1.0, 1.0})), {2, 3, 3, 3, 3});
  // The sum reached 6: it takes a step back to 3 before the result leaves the limit.
  ExpectNear(RunSteps(pid, std::vector<std::pair<double, double>>(5, {-1.0, 1.0})), {3, 2, 1, 0, -1});
}

TEST(Pid, UpperLimitIsTestedFirstWhenTheLimitsAreCrossed) {
  Pid pid(1, 0, 0, 1, 5);
  ExpectNear(RunSteps(pid, {{3.0, 1.0}, {0.0, 1.0}}), {1.0, 5.0});
}

TEST(Pid, EachStepUsesItsOwnSampleTimeForEveryTerm) {
  Pid pid(1, 1, 1, 100, -100);
  // Step 1: (1*0.5 + 1 + 2) * 1 = 3.5. Step 2 with T = 0.25:
  // (0.25 + 1 + 4) * 2 - (8 + 1) * 1 + 4 * 0 = 1.5, so 5.0.
  ExpectNear(RunSteps(pid, {{1.0, 0.5}, {2.0, 0.25}}), {3.5, 5.0});
}

TEST(Pid, NewGainsApplyToTheKeptHistoryAndOutput) {
  // History after two steps: e1 = 3, e2 = 2, output 3.
  Pid integral(1, 0, 0, 100, -100);
  RunSteps(integral, {{2.0, 1.0}, {3.0, 1.0}});
  integral.UpdatePidParameters(2, 1, 0);
  // 3 + 2 * ((1 + 1) * 3 - 3) = 9; a fresh controller would give 12.
  EXPECT_NEAR(integral.PidCalc(3.0, 1.0), 9.0, kTolerance);

  Pid derivative(1, 0, 0, 100, -100);
  RunSteps(derivative, {{2.0, 1.0}, {3.0, 1.0}});
  derivative.UpdatePidParameters(1, 0, 1);
  // 3 + ((0 + 1 + 1) * 3 - (2 + 1) * 3 + 1 * 2) = 2: the step before last (2) is used too.
  EXPECT_NEAR(derivative.PidCalc(3.0, 1.0), 2.0, kTolerance);
}

// A rejected step must leave no trace: the twin that never saw it answers the same.
void ExpectRejectedWithoutTrace(double error, double sample_time, const std::string& logged) {
  Pid pid(2, 0.5, 0.1, 100, -100);
  Pid twin(2, 0.5, 0.1, 100, -100);
  const std::vector<std::pair<double, double>> history = {{1.0, 0.1}, {-0.5, 0.2}};
  RunSteps(pid, history);
  RunSteps(twin, history);

  double result = -1.0;
  const std::string out = LogOf([&] { result = pid.PidCalc(error, sample_time); });
  EXPECT_EQ(result, 0.0);
  EXPECT_EQ(Occurrences(out, "[ERROR] "), 1U) << out;
  EXPECT_THAT(out, HasSubstr(logged));

  for (int step = 0; step < 3; ++step) {
    EXPECT_EQ(pid.PidCalc(0.7, 0.1), twin.PidCalc(0.7, 0.1)) << "step " << step;
  }
}

TEST(Pid, ZeroSampleTimeIsRejectedWithItsSign) {
  ExpectRejectedWithoutTrace(1.0, 0.0, "[ERROR] Error: sample time is 0.000\r\n");
  ExpectRejectedWithoutTrace(1.0, -0.0, "[ERROR] Error: sample time is -0.000\r\n");
}

TEST(Pid, NonFiniteInputIsRejected) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, double>> inputs = {{kNan, 0.1}, {kInf, 0.1}, {-kInf, 0.1},
                                                         {1.0, kNan}, {1.0, kInf}, {1.0, -kInf}};
  for (const auto& [error, sample_time] : inputs) {
    SCOPED_TRACE(testing::Message() << error << ", " << sample_time);
    ExpectRejectedWithoutTrace(error, sample_time, "[ERROR] Error: pid input is not finite");
  }
}

TEST(Pid, AStepThatWouldOverflowTheOutputIsRejected) {
  // kd / T overflows for a denormal sample time.
  ExpectRejectedWithoutTrace(1.0, std::numeric_limits<double>::denorm_min(), "[ERROR] Error: pid output is not finite");
  ExpectRejectedWithoutTrace(std::numeric_limits<double>::max(), 1.0, "[ERROR] Error: pid output is not finite");
}

TEST(Pid, NonFiniteGainsDoNotPoisonTheOutput) {
  Pid pid(1, 0, 0, 10, -10);
  EXPECT_NEAR(pid.PidCalc(2.0, 1.0), 2.0, kTolerance);
  pid.UpdatePidParameters(std::numeric_limits<double>::quiet_NaN(), 0, 0);
  std::string out = LogOf([&] { EXPECT_EQ(pid.PidCalc(3.0, 1.0), 0.0); });
  EXPECT_EQ(Occurrences(out, "[ERROR] Error: pid output is not finite"), 1U) << out;
  pid.UpdatePidParameters(1, 0, 0);
  EXPECT_NEAR(pid.PidCalc(3.0, 1.0), 3.0, kTolerance);
}

}  // namespace
