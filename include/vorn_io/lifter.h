#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "vorn_io/export.h"
#include "vorn_io/park_outcome.h"
#include "vorn_io/private_timer.h"
#include "vorn_io/trace.h"
#include "vorn_io/vorn_io_interface.h"

/// An up/down lifter driven by one motor.
///
/// Built from one YAML map that holds the lifter's keys ("maxpos", "freq",
/// "speed") beside its motor's ("vendor", "id", "dev_name", ...). A move is a
/// ramp: every 1000 / freq ms (fractions kept, on the monotonic clock) the set
/// position advances by speed / freq, starting from 0 at the present
/// position, until it has covered `maxpos`. Status 0 ramps in the motor's
/// positive direction, status 1 in its negative one. A torque reading at or
/// above 3.5 holds the motor where it is for that tick; the ramp goes on and
/// the move still ends when it has covered the travel. The hold is signed:
/// only resistance in the motor's positive direction (the way to status 0)
/// reads 3.5 or more. A reading of -3.5 or less, resistance on the way to
/// status 1, is not held on; such ticks are counted in the move's outcome.
/// Mount the motor (or set its `inverse`) so that the direction in which the
/// lifter can pinch is the positive one.
///
/// `getIoStatus` reports -1 while a move is in progress, then the reached
/// state. Commands, polls and `setInitialStatus` may come from any thread;
/// polls never wait for a tick.
///
/// The ticks run on a thread of the lifter's own, which sleeps to absolute
/// deadlines of the monotonic clock with the smallest timer slack. The key
/// "thread_priority" (1 to 99) runs it under the real-time policy
/// SCHED_FIFO at that priority; where the process may not (no rtprio limit,
/// no CAP_SYS_NICE) a warning says so and the lifter runs at normal
/// scheduling. The library locks no memory and leaves the processor's power
/// states alone: a host that needs the last microseconds may call
/// mlockall(MCL_CURRENT | MCL_FUTURE) and hold /dev/cpu_dma_latency open
/// with a 0 written to it.
///
/// A motor library whose call never returns holds no host thread for long:
/// a command waits at most `kCommandWait` for a tick in a motor call, then
/// refuses; polls, `lastMove` and `moveProgress` never wait for one; the
/// shutdown runs on the lifter's thread, and `park` (and with it the
/// destructor) waits for it within a bound.
///
/// Settings that would start a move that never ends are replaced, with an
/// error line: a "freq" of 0 by 10, a "maxpos" that is not finite by 450, a
/// "speed" that is 0 or not finite by 3.14. A "freq" above 1000 is replaced
/// by 1000 likewise. A step (speed / freq) too small to carry the
/// single-precision ramp past "maxpos", or so large that the first step
/// already passes it (no position would ever be sent), makes the lifter
/// refuse moves. A "maxpos" of 0 has nothing to move: a move ends reached on
/// its first tick, without a position command.
///
/// A failing motor never drives the lifter blind. A reading whose call
/// failed or whose value is not finite is never sent as a position: the hold
/// (and the shutdown's hold) is skipped, and a tick whose torque is unusable
/// sends nothing. Each kind of failed call is logged once per move, with its
/// count when the move ends. After `kAbandonAfterFailingTicks` ticks in a row
/// with a failed call, or at once when the motor library throws, the move is
/// abandoned: no further commands, the state stays the one from before the
/// move, and since the lifter stopped mid-travel it is in neither state: the
/// next `setIoStatus` moves towards whichever state it is given, until
/// `setInitialStatus` declares where the lifter is. A move whose
/// `setZeroPosition` fails is refused, and so is every move of a lifter whose
/// motor failed `initMotor` or `setEnable(true)` at construction. A move ends
/// reached only when the motor took the position command (the ramp's or the
/// hold's) of the last tick that sends one; otherwise it is abandoned, with
/// an error line saying that the motor did not take the move's last command.
class VORN_IO_EXPORT UpdownLifter : public VornIoInterface, private PrivateTimer {
 public:
  /// Consecutive ticks with a failed motor call after which a move is abandoned.
  static constexpr unsigned int kAbandonAfterFailingTicks = 5;

  /// The longest a command waits for a tick in progress (which may be in a
  /// motor call that hangs) before it refuses.
  static constexpr std::chrono::milliseconds kCommandWait{50};

  /// How long `park` waits for the shutdown at most: the disable poll's 50
  /// rounds of 100 ms, and 1.5 s more for the calls around them.
  static constexpr std::chrono::milliseconds kParkWait{6500};

  /// A motor call under way for this long has hung: `park` stops waiting for
  /// it at once rather than at the end of `kParkWait`.
  static constexpr std::chrono::milliseconds kHungCall{1000};

  /// How the last move ended, so that a host need not read log lines. Its
  /// layout is part of the ABI from the first stable release on: more about
  /// a move then comes through functions of its own, never through members
  /// added here.
  struct MoveOutcome {
    /// The move covered its travel, and the motor took its last position
    /// command; the lifter is in the commanded state.
    bool reached = false;
    /// The move was given up on a failing motor; the lifter is in neither state.
    bool abandoned = false;
    /// Ticks on which the torque hold kept the motor where it stood.
    unsigned int heldTicks = 0;
    /// Motor calls of the move that failed, threw or gave an unusable reading.
    unsigned int failedCalls = 0;
    /// Ticks whose torque reached the limit in the direction the lifter does
    /// not hold in (-3.5 or less): the ramp pushed on against the resistance.
    unsigned int unheldTicks = 0;
    /// Ticks of the move, the one that ended it included.
    unsigned long long ticks = 0;
    /// The mean time from one tick's start to the next one's, in seconds;
    /// NaN with fewer than two ticks.
    double meanTickPeriod = 0.0;
    /// How late the latest tick started after its scheduled time, in
    /// seconds; NaN when no tick came from the lifter's own schedule.
    double greatestLateness = 0.0;
    /// Ticks that started late by more than a period (1 / "freq").
    unsigned long long lateTicks = 0;
    /// The last usable position read during the move (NaN without one), and
    /// how far it lies short of the travel's end (`maxpos` in the move's
    /// direction; negative past it). The move ends when its ramp has covered
    /// the travel, wherever the motor is: one that lagged behind the ramp,
    /// or was held, ends the move short. The position is read before the
    /// tick sends its command, so even a motor that follows the ramp
    /// exactly ends about a step short.
    double lastPosition = 0.0;
    double shortOfTravel = 0.0;
    /// Ticks of the move that its trace did not keep (beyond `vorn_io::kTraceCapacity`).
    unsigned long long untracedTicks = 0;
  };

  /// A move as it goes, for a host that watches it (a progress bar that
  /// follows the lifter's own ticks, a watchdog on a motor call that hangs).
  /// Read without waiting for a tick, whatever the motor library does.
  struct MoveProgress {
    /// A move is in progress (`getIoStatus` reports -1).
    bool moving = false;
    /// The state the move in progress, or the last one, heads for.
    int target = 0;
    /// Ticks of the move finished so far (all of them once it has ended reached).
    unsigned long long ticksDone = 0;
    /// Ticks the whole ramp takes, the last of which only ends the move.
    unsigned long long ticksTotal = 0;
    /// The motor call the lifter is making right now ("getTorque",
    /// "getPosition", "setPosition", "setZeroPosition", and in the shutdown
    /// "setEnable" and "getEnableState"), or null between calls. The text is the library's own and lives as long as it
    /// is loaded.
    const char* motorCall = nullptr;
    /// When `motorCall` started, on the monotonic clock; meaningless while
    /// `motorCall` is null. A call that has lasted far longer than a tick has
    /// hung in the motor library.
    std::chrono::steady_clock::time_point motorCallSince{};
  };

  /// Reads the description, creates and starts the motor and the tick.
  /// yaml-cpp's exceptions (a scalar node, an "id" that is no integer, ...)
  /// and the motor library's exceptions leave the constructor; a motor that
  /// was enabled by then is disabled and released first. Without a usable
  /// "vendor" the lifter has no motor: it never ticks and refuses moves.
  explicit UpdownLifter(const YAML::Node& node);

  /// Parks the lifter (see `park`) unless the host has, and releases it.
  /// Returns within `kParkWait`, whatever the motor library does.
  ~UpdownLifter() override;

  /// Starts a move towards `status` (0 or 1). Returns -1 while a move is in
  /// progress and for any other value, 0 when the move was started or the
  /// lifter already is in that state (never after an abandoned move). A
  /// lifter without a working motor, or whose ramp cannot end, refuses a move
  /// with -1, and so does one whose motor fails to set the move's zero, and
  /// a parked one. A tick that keeps the lifter longer than `kCommandWait`
  /// (a motor call that hangs) makes it refuse with an error line naming the
  /// call and how long it has lasted.
  int setIoStatus(int status) override;

  /// Stores -1 while a move is in progress, else the present state, and
  /// returns the same value.
  int getIoStatus(int& status) override;

  /// The outcome of the last move that ended; all false and 0 before the
  /// first one ends. Never waits for a tick in progress.
  MoveOutcome lastMove() const;

  /// The trace of the move in progress, or of the last one: one sample per
  /// tick from the first tick after `setIoStatus` accepted the move to the
  /// tick that ended it (reached or abandoned), the latest
  /// `vorn_io::kTraceCapacity` of them (a little over a minute at 1 kHz;
  /// `MoveOutcome::untracedTicks` counts the others). Empty before the first
  /// move. May be called at any time from any thread, and never waits for
  /// a tick's motor calls.
  ///
  /// The storage is reserved when the lifter is built, for a move of its
  /// settings (at most `kTraceCapacity` samples), and kept from move to
  /// move, so a tick never allocates and a command never does unless
  /// `initParameter` lengthened the move. A tick adds its sample under a
  /// lock of the trace's own, held by nobody across a motor call; this copies
  /// the samples under it in parts of 512, so a tick waits for a copy of 512
  /// samples at most (microseconds) rather than for a whole trace. A lock
  /// rather than a seqlock or a double buffer: that wait is far below any
  /// tick's period, and the copy never reads a sample while it is written.
  std::vector<vorn_io::LifterTick> lastMoveTrace() const;

  /// Where the move in progress (or the last one) stands, and the motor call
  /// in progress, if any. Never waits: a host may call it while a tick hangs
  /// in the motor library.
  MoveProgress moveProgress() const;

  /// Shuts the motor down and tells how that went: stops the ticks (a move
  /// in progress ends where it stands), holds the motor at its present
  /// position, disables it, polls (50 rounds of 100 ms at most) until it
  /// reports disabled, and releases it, each call checked and each failure
  /// logged. It all runs on the lifter's own thread; this waits for it at
  /// most `kParkWait`, or until a motor call has been under way for
  /// `kHungCall`. Then an error line names the call that has not returned
  /// and says the motor could not be parked; the lifter's thread, its state
  /// and the motor are left to finish by themselves, and are released when
  /// the call returns. The lifter refuses every move from the call on; a
  /// second call returns the outcome as it stands by then, without waiting.
  ParkOutcome park();

  /// Resets every parameter to its default.
  void initParameter();

  /// Stores `status` as the state the lifter is in, whatever its value: it
  /// is not checked, and a value other than 0 or 1 is kept (a later
  /// `setIoStatus` with the same value answers "already" there). Construction
  /// starts in 0; after an abandoned move this is how a host re-homes it. A
  /// move in progress that is reached still ends in the state it heads for.
  void setInitialStatus(int status);

  /// One tick of the motion loop; the lifter's timer thread calls it.
  void Callback();

 private:
  /// The lifter's state, defined only inside the library, so that its
  /// layout is no part of the ABI: a host's `UpdownLifter` is the same size
  /// whatever state the library adds. The lifter's tick thread holds a
  /// second reference: everything a tick touches lives there, never in this
  /// object, so the state (the motor included) lives as long as the longer
  /// of the two. The destructor stops the tick before it shuts the motor
  /// down; a thread that had to be left running would keep the state it
  /// uses alive rather than see it freed. Not copyable and not movable: the
  /// object stands for one piece of hardware.
  struct Impl;
  std::shared_ptr<Impl> impl_;
};
