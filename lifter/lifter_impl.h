#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/trace_ring.h"
#include "lifter/tick_lock.h"
#include "vorn_io/lifter.h"
#include "vorn_io/park_outcome.h"
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
/// `setIoStatus`, `Callback` and `Park` serialise on `mtx`; the logger's
/// locks come after it. A command waits for `mtx` only so long
/// (`kCommandWait`): a tick holds it across motor calls, which may hang.
struct __attribute__((visibility("hidden"))) UpdownLifter::Impl {
  /// Starts a move towards `status`; the public operation of the same name.
  int setIoStatus(int status);
  int getIoStatus(int& status) const;
  MoveOutcome lastMove() const;
  MoveProgress moveProgress() const;
  std::vector<vorn_io::LifterTick> lastMoveTrace() const;
  void initParameter();
  void setInitialStatus(int status);
  /// One tick of the motion loop.
  void Callback();
  /// The shutdown, on the lifter's own thread once its ticks have ended:
  /// holds the motor at its present position, disables it, polls until it
  /// reports disabled, and releases it. Each call is checked and recorded in
  /// `parkOutcome`; a failed, throwing or unusable one is logged.
  void Park();
  /// The shutdown's outcome as it stands; a shutdown that has not finished
  /// names the motor call it is held in (the tick's or its own).
  ParkOutcome ParkResult() const;
  /// The motor call in progress and since when; null when none.
  const char* CallInProgress(std::chrono::steady_clock::time_point& since) const;

  /// Calls the tick's motor reading; false, counted and logged, when the
  /// call failed or the value is not finite.
  bool ReadMotor(std::size_t call, double& value);
  /// Sends a position; false, counted and logged, when the call failed.
  bool CommandPosition(double position);
  /// Counts a failed call of kind `call`, logging the first of the move.
  void CountFailure(std::size_t call, const std::string& what);
  /// Ends the move: reached (the state becomes the target) or abandoned.
  void EndMove(bool reached);
  /// Counts a finished tick of the move in its progress.
  void CountTick();
  /// A tick's sample with its times and set position, nothing read or sent yet.
  vorn_io::LifterTick StartSample();
  /// Adds the tick's sample to the trace and to the move's timing; `failedBefore`
  /// holds the failure counts from before the tick.
  void Record(vorn_io::LifterTick& sample, const std::array<unsigned int, 3>& failedBefore);
  /// Reserves the trace's storage for a move of the present settings.
  void ReserveTrace();
  /// Records that motor call `call` starts now (`kNoCall`: none is running).
  void EnterCall(std::size_t call);
  /// The ramp's ticks for the present settings, into `moveTicks`.
  void PlanMoves();

  /// The motor calls the lifter makes after construction, as the progress
  /// query names them; `kNoCall` names none.
  static constexpr std::size_t kGetTorque = 0;
  static constexpr std::size_t kGetPosition = 1;
  static constexpr std::size_t kSetPosition = 2;
  static constexpr std::size_t kSetZeroPosition = 3;
  static constexpr std::size_t kSetEnable = 4;
  static constexpr std::size_t kGetEnableState = 5;
  static constexpr std::size_t kNoCall = 6;
  static constexpr const char* kCallNames[kNoCall] = {"getTorque",       "getPosition", "setPosition",
                                                      "setZeroPosition", "setEnable",   "getEnableState"};
  /// `callInProgress` holds the call's number in its low bits.
  static constexpr unsigned int kCallBits = 3;
  static_assert(kNoCall < (1U << kCallBits), "a call's number fits below the start time");

  std::atomic<int> currentStatus{0};
  int targetStatus = 0;
  unsigned int freq = 10;
  std::atomic<bool> moving{false};
  float step = 0.2F;
  float maxpos = 450.0F;
  float maxTorque = 3.5F;
  float cmdPos = 0.0F;
  float speed = 1.5707964F;
  /// Ticks of a move from the command to its end, for the settings held.
  unsigned long long moveTicks = 0;
  MoveOutcome outcome;
  unsigned int moveHeldTicks = 0;
  unsigned int moveUnheldTicks = 0;
  /// Whether the motor took the position command of the last tick that was
  /// to send one; true at the start of a move, which owes none yet.
  bool lastCommandTaken = true;
  /// Failed calls of the move in progress, per kind of call (getTorque,
  /// getPosition, setPosition), and the ticks in a row that had one.
  std::array<unsigned int, 3> moveFailures{};
  unsigned int failingTicks = 0;
  bool moveHoldSkipped = false;
  /// The motor failed `initMotor` or `setEnable(true)`: moves are refused.
  bool motorStartFailed = false;
  /// An abandoned move left the lifter between its states.
  std::atomic<bool> betweenStates{false};
  /// The move's timing, for its trace and outcome: when it was accepted,
  /// when its first and latest ticks started, and how late they were.
  std::chrono::steady_clock::time_point moveAccepted{};
  std::chrono::steady_clock::time_point firstTickStart{};
  std::chrono::steady_clock::time_point lastTickStart{};
  double lastTickSeconds = 0.0;
  unsigned long long moveTickCount = 0;
  double greatestLateness = 0.0;
  unsigned long long lateTicks = 0;
  double lastPosition = 0.0;
  /// The trace of the move in progress or the last one. Guarded by
  /// `traceMtx`, which a tick holds only to add a sample and a reader only
  /// to copy a part of it (see `lastMoveTrace`).
  vorn_io::detail::TraceRing<vorn_io::LifterTick> trace;
  mutable std::mutex traceMtx;
  /// Guards `outcome` and `progress`, which the host reads without `mtx`:
  /// held only for a copy, never across a motor call.
  mutable std::mutex outcomeMtx;
  /// `motorCall` and `motorCallSince` are not kept here but in `callInProgress`.
  MoveProgress progress;
  /// The motor call in progress and since when, in one word so that a reader
  /// never pairs one call with another's start: the start in nanoseconds of
  /// the monotonic clock, shifted left by 3, or'd with the call's number.
  std::atomic<std::uint64_t> callInProgress{kNoCall};
  /// The shutdown has been asked for: commands are refused from then on.
  std::atomic<bool> parkRequested{false};
  /// Guarded by `outcomeMtx`.
  ParkOutcome parkOutcome;
  /// Held by `park` while it waits, so that a second caller waits for the first.
  std::mutex parkMtx;
  vorn_io::lifter::TickLock mtx;
  std::shared_ptr<MotorInterface> motor;
};
