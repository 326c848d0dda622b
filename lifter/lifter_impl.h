#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "vorn_io/lifter.h"
#include "vorn_motor/motor_interface.h"

/// The lifter's state and the rules that work on it. Internal to the
/// library: hosts never see its layout, so state may be added here without
/// touching the ABI.
///
/// Hidden, unlike the class it is nested in: its members are no part of the
/// library's interface and must not reach the dynamic symbol table.
///
/// The `UpdownLifter` and its tick thread each hold it by shared pointer:
/// whatever a tick touches lives here, never in the `UpdownLifter` object.
/// `setIoStatus` and `Callback` serialise on `mtx`; the logger's locks come
/// after it.
struct __attribute__((visibility("hidden"))) UpdownLifter::Impl {
  /// Starts a move towards `status`; the public operation of the same name.
  int setIoStatus(int status);
  int getIoStatus(int& status) const;
  MoveOutcome lastMove() const;
  void initParameter();
  void setInitialStatus(int status);
  /// One tick of the motion loop.
  void Callback();

  /// Calls the tick's motor reading; false, counted and logged, when the
  /// call failed or the value is not finite.
  bool ReadMotor(std::size_t call, double& value);
  /// Sends a position; false, counted and logged, when the call failed.
  bool CommandPosition(double position);
  /// Counts a failed call of kind `call`, logging the first of the move.
  void CountFailure(std::size_t call, const std::string& what);
  /// Ends the move: reached (the state becomes the target) or abandoned.
  void EndMove(bool reached);

  std::atomic<int> currentStatus{0};
  int targetStatus = 0;
  unsigned int freq = 10;
  std::atomic<bool> moving{false};
  float step = 0.2F;
  float maxpos = 450.0F;
  float maxTorque = 3.5F;
  float cmdPos = 0.0F;
  float speed = 1.5707964F;
  MoveOutcome outcome;
  unsigned int moveHeldTicks = 0;
  /// Failed calls of the move in progress, per kind of call (getTorque,
  /// getPosition, setPosition), and the ticks in a row that had one.
  std::array<unsigned int, 3> moveFailures{};
  unsigned int failingTicks = 0;
  bool moveHoldSkipped = false;
  /// The motor failed `initMotor` or `setEnable(true)`: moves are refused.
  bool motorStartFailed = false;
  /// An abandoned move left the lifter between its states.
  std::atomic<bool> betweenStates{false};
  mutable std::mutex outcomeMtx;
  std::mutex mtx;
  std::shared_ptr<MotorInterface> motor;
};
