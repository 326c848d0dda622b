// The tool's session in this process, where a test can make a signal arrive
// at the one moment a process run cannot hit: while the device shuts down.
#include <csignal>
#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tools/exit_codes.h"
#include "tools/session.h"
#include "vorn_io/park_outcome.h"
#include "vorn_io/vorn_io_interface.h"

namespace {

using testing::HasSubstr;

/// A device whose shutdown is interrupted by `signal`, as an impatient
/// second Ctrl-C interrupts a lifter parking its motor.
class InterruptedShutdown : public VornIoInterface {
 public:
  explicit InterruptedShutdown(int signal) : signal_(signal) {}
  ParkOutcome park() {
    std::raise(signal_);
    return {};
  }
  InterruptedShutdown(const InterruptedShutdown&) = delete;
  InterruptedShutdown& operator=(const InterruptedShutdown&) = delete;
  InterruptedShutdown(InterruptedShutdown&&) = delete;
  InterruptedShutdown& operator=(InterruptedShutdown&&) = delete;

  int setIoStatus(int /*status*/) override { return 0; }
  int getIoStatus(int& status) override {
    status = 0;
    return 0;
  }

 private:
  int signal_;
};

struct ShutdownCase {
  const char* name;
  int first;   // the signal that ends the run, or 0 for a run that timed out
  int during;  // the signal that arrives while the device shuts down
  int code;
};

class SignalWhileShuttingDownTest : public testing::TestWithParam<ShutdownCase> {};

TEST_P(SignalWhileShuttingDownTest, SaysSoAndKeepsTheFirstEnd) {
  const ShutdownCase& c = GetParam();
  std::string said;
  int code = -1;
  {
    vorn_io::tool::Session session(true, true);
    ASSERT_NE(session.Build<InterruptedShutdown>("test.yaml", "device", c.during), nullptr);
    if (c.first != 0) {
      std::raise(c.first);
    }
    testing::internal::CaptureStderr();
    code = session.Finish(c.first != 0 ? vorn_io::tool::kDone : vorn_io::tool::kTimedOut);
    said = testing::internal::GetCapturedStderr();
  }
  EXPECT_EQ(code, c.code);
  EXPECT_THAT(said, HasSubstr("vorn-io: still shutting the device down (parking and disabling the motor)"));
}

INSTANTIATE_TEST_SUITE_P(Signals, SignalWhileShuttingDownTest,
                         testing::Values(ShutdownCase{"SecondCtrlC", SIGINT, SIGINT, 130},
                                         ShutdownCase{"HangupWhileParkingAfterATimeout", 0, SIGHUP, 3}),
                         [](const testing::TestParamInfo<ShutdownCase>& param) { return param.param.name; });

}  // namespace
