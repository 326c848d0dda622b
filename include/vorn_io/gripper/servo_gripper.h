#pragma once

#include <memory>
#include <string>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/export.h"
#include "vorn_io/logger.h"
#include "vorn_io/park_outcome.h"
#include "vorn_io/private_timer.h"
#include "vorn_io/trace.h"
#include "vorn_io/vorn_io_interface.h"

/// A gripper on one Feetech bus servo.
///
/// Status 0 drives the servo towards -10.0 (where it also goes at start-up)
/// with the torque limit `torque_low`; any other status towards +10.0 with
/// `torque_high`. The gripper does not track which end it is at: it reports
/// 1 once the last motion has come to rest, judged on the spread of its last
/// 20 position readings, and only from the 401st reading after a command on.
/// A reading that failed or is not finite is no reading of the test.
///
/// It has no thread: each `getIoStatus` takes one position reading, so the
/// host polls it, from one thread at a time. Every motor call runs in the
/// calling thread, so a gripper call (the destructor and `park` included)
/// blocks as long as the motor library does: on a bus that stopped
/// answering, possibly for ever. A host that must not hang with it calls the
/// gripper from a thread it can give up on.
///
/// A gripper built from parameters that did not load (a missing file, a
/// file without the "gripper" entry or the motor's section, a map without a
/// usable "id" or "dev_name") creates no motor: it says so in an error line,
/// refuses every command with -1 and an error line, and never reports 1.
class VORN_IO_EXPORT ServoGripper : public VornIoInterface, private PrivateTimer {
 public:
  /// Creates the motor from the arguments; loads no parameters, so both
  /// torque limits stay 100.0.
  ServoGripper(int id, unsigned int baudrate, std::string& dev_name, bool inverse);
  /// Loads a gripper file (parameters under "gripper"); an empty path reads
  /// "motor_.yaml" in the working directory. No motor if the load failed.
  explicit ServoGripper(const std::string& path);
  /// Loads section "feetechmotor<id>" of a motor file. No motor if the load failed.
  ServoGripper(int id, std::string& path);
  /// Loads a parameter map of the host's own document. No motor if the load failed.
  explicit ServoGripper(YAML::Node node);

  /// Parks the gripper (see `park`) unless the host has.
  ~ServoGripper() override;

  /// Shuts the motor down and tells how that went: disables it, waits
  /// 200 ms, asks it whether it is disabled and releases it, each call
  /// checked and each failure logged. The gripper sends no hold. It has no
  /// motor from then on (commands are refused) until `InitServoGripper`; a
  /// second call returns the outcome of the first.
  ParkOutcome park();

  /// Returns -1 when the motor refused the motion or the gripper has no
  /// motor (with an error line), else 0.
  int setIoStatus(int status) override {
    const int result = MoveToStatus(status);
    LOG_INFO("The gripper has get cmd : {}\n", status);
    return result;
  }

  int getIoStatus(int& status) override {
    bool finished = false;
    getGripperState(finished);
    status = finished ? 1 : 0;
    return 0;
  }

  /// Creates, enables and homes the motor; a motor already held is released
  /// first. A gripper whose parameters did not load has a motor from then on.
  void InitServoGripper(int id, unsigned int baudrate, std::string& dev_name, bool inverse);
  /// Sends one motion command and restarts the settle test. Returns 0, or
  /// -1 with an error line when the motor refused it or there is no motor.
  int setGripperMotion(double target, double torque);
  /// Takes one position reading; `finished` is true once the motion has come
  /// to rest. A reading that failed or is not finite is no sample of the
  /// settle test: it returns -1 (an error line for the first of a motion),
  /// and so does a gripper without a motor.
  int getGripperState(bool& finished);

  /// The polls since the last command (or since the start-up move), one
  /// sample per `getGripperState` (and so per `getIoStatus`), a failed
  /// reading included, the latest `vorn_io::kTraceCapacity` of them. Its
  /// storage grows with the polls up to that cap and is kept from motion to
  /// motion. Like every call of the gripper, from one thread at a time.
  std::vector<vorn_io::GripperPoll> lastMotionTrace() const;

  /// Loaders: 0 when the parameters were processed, -1 when a YAML error
  /// stopped the load (logged as "YAML Error: ..."). Members are updated key
  /// by key, so a failed load keeps the keys read before the failure.
  int function_get_para(YAML::Node& node);
  int function_get_para(std::string& path);
  int function_get_para(unsigned int id, std::string& path);

 private:
  /// What `setIoStatus` sends: the open end with `torque_low` for 0, the
  /// closed end with `torque_high` for any other status. Exported, since the
  /// inline `setIoStatus` calls it from the host's code.
  int MoveToStatus(int status);

  /// The gripper's parameters, motor and settle test, defined only inside
  /// the library, so that their layout is no part of the ABI: a host's
  /// `ServoGripper` is the same size whatever state the library adds. The
  /// gripper owns it alone (it has no thread). Not copyable and not movable:
  /// the object stands for one piece of hardware.
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
