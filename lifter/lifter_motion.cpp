#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "common/thrown_text.h"
#include "lifter/lifter_impl.h"
#include "lifter/lifter_settings.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"

using vorn_io::detail::ThrownText;

int UpdownLifter::setIoStatus(int status) { return impl_->setIoStatus(status); }

int UpdownLifter::getIoStatus(int& status) { return impl_->getIoStatus(status); }

UpdownLifter::MoveOutcome UpdownLifter::lastMove() const { return impl_->lastMove(); }

UpdownLifter::MoveProgress UpdownLifter::moveProgress() const { return impl_->moveProgress(); }

std::vector<vorn_io::LifterTick> UpdownLifter::lastMoveTrace() const { return impl_->lastMoveTrace(); }

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
/// Samples a reader copies under the trace's lock at a time: a tick that
/// comes meanwhile waits for no more than this.
constexpr std::uint64_t kTraceCopyPart = 512;

double SecondsOf(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace

void UpdownLifter::Callback() { impl_->Callback(); }

int UpdownLifter::Impl::setIoStatus(int status) {
  const auto refused_when_parked = [&] {
    if (parkRequested.load()) {
      LOG_ERROR("Lifter is parked, cmd rejected: {}\r\n", status);
      return true;
    }
    return false;
  };
  if (refused_when_parked()) {
    return -1;
  }
  // A tick holds the lock across its motor calls; one that never returns
  // must not hold the host's control thread with it.
  if (!mtx.try_lock_for(kCommandWait)) {
    std::chrono::steady_clock::time_point since;
    const char* const call = CallInProgress(since);
    if (call != nullptr) {
      LOG_ERROR("Lifter tick in motor call {} for {} ms, cmd rejected: {}\r\n", call,
                std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count(),
                status);
    } else {
      LOG_ERROR("Lifter tick did not end within {} ms, cmd rejected: {}\r\n", kCommandWait.count(), status);
    }
    return -1;
  }
  const std::lock_guard<vorn_io::lifter::TickLock> lock(mtx, std::adopt_lock);
  if (refused_when_parked()) {
    return -1;
  }
  if (moving.load()) {
    LOG_WARN("Lifter is busy, cmd rejected...\r\n");
    return -1;
  }
  // Answered before the range check: a state declared with setInitialStatus
  // may lie outside 0 and 1. A lifter an abandoned move left mid-travel is in
  // neither state, so it moves whichever it is told.
  if (status == currentStatus.load() && !betweenStates.load()) {
    LOG_WARN("Lifter already in stat: {}\r\n", status);
    return 0;
  }
  if (static_cast<unsigned int>(status) > 1U) {
    LOG_WARN("Lifter cmd error: {}\r\n", status);
    return -1;
  }
  if (!motor) {
    LOG_ERROR("Lifter has no motor, cmd rejected: {}\r\n", status);
    return -1;
  }
  if (motorStartFailed) {
    LOG_ERROR("Lifter motor failed to start, cmd rejected: {}\r\n", status);
    return -1;
  }
  // State 0 lies in the motor's positive direction, state 1 in its negative one.
  const float next_step = vorn_io::lifter::StepOf(speed, freq, status == 0);
  if (!vorn_io::lifter::RampEnds(next_step, maxpos)) {
    LOG_ERROR("Ramp step {} per tick cannot cover maxpos {:.2f}, cmd rejected: {}\r\n", next_step, maxpos, status);
    return -1;
  }
  // Such a move would end on its first tick without a single command, and
  // report the state reached wherever the lifter stands.
  if (vorn_io::lifter::FirstStepPassesTravel(next_step, maxpos)) {
    LOG_ERROR("Ramp step {} per tick passes maxpos {:.2f} on the first tick, cmd rejected: {}\r\n", next_step, maxpos,
              status);
    return -1;
  }
  // The ramp runs from this zero: from an old one it would drive the motor
  // to wherever that lies.
  std::string zero_failure;
  EnterCall(kSetZeroPosition);
  try {
    const int result = motor->setZeroPosition(vorn_io::lifter::kZeroPositionValue);
    if (result != 0) {
      zero_failure = fmt::format("returned {}", result);
    }
  } catch (...) {
    zero_failure = ThrownText();
  }
  EnterCall(kNoCall);
  if (!zero_failure.empty()) {
    LOG_ERROR("Motor setZeroPosition {}, cmd rejected: {}\r\n", zero_failure, status);
    return -1;
  }
  ReserveTrace();
  {
    const std::lock_guard<std::mutex> trace_lock(traceMtx);
    trace.Clear();
  }
  moveAccepted = std::chrono::steady_clock::now();
  moveTickCount = 0;
  greatestLateness = kNan;
  lateTicks = 0;
  lastPosition = kNan;
  cmdPos = 0.0F;
  moveHeldTicks = 0;
  moveUnheldTicks = 0;
  moveFailures.fill(0);
  failingTicks = 0;
  moveHoldSkipped = false;
  lastCommandTaken = true;
  step = next_step;
  targetStatus = status;
  {
    const std::lock_guard<std::mutex> progress_lock(outcomeMtx);
    progress.moving = true;
    progress.target = status;
    progress.ticksDone = 0;
    progress.ticksTotal = moveTicks;
  }
  moving.store(true);
  return 0;
}

int UpdownLifter::Impl::getIoStatus(int& status) const {
  // Lock-free, so that a poll never waits behind a tick's motor I/O. A move
  // stores its reached state before it clears `moving`.
  status = moving.load() ? -1 : currentStatus.load();
  return status;
}

UpdownLifter::MoveOutcome UpdownLifter::Impl::lastMove() const {
  // A lock of its own: the tick holds `mtx` across its motor calls.
  const std::lock_guard<std::mutex> lock(outcomeMtx);
  return outcome;
}

std::vector<vorn_io::LifterTick> UpdownLifter::Impl::lastMoveTrace() const {
  std::vector<vorn_io::LifterTick> copy;
  std::uint64_t generation = 0;
  std::uint64_t next = 0;
  std::uint64_t end = 0;
  for (;;) {
    {
      const std::lock_guard<std::mutex> lock(traceMtx);
      if (copy.empty() || generation != trace.Generation() || next < trace.Oldest()) {
        // The first part, or a new move began, or the ticks meanwhile
        // replaced samples not yet copied: from the oldest one kept.
        copy.clear();
        generation = trace.Generation();
        next = trace.Oldest();
        end = trace.End();
      }
      const std::uint64_t to = std::min(end, next + kTraceCopyPart);
      if (copy.capacity() >= end - next) {
        trace.CopyTo(copy, next, to);
        next = to;
        if (next == end) {
          return copy;
        }
        continue;
      }
    }
    copy.reserve(static_cast<std::size_t>(end - next));  // outside the lock, which the tick takes
  }
}

UpdownLifter::MoveProgress UpdownLifter::Impl::moveProgress() const {
  MoveProgress now;
  {
    const std::lock_guard<std::mutex> lock(outcomeMtx);
    now = progress;
  }
  now.motorCall = CallInProgress(now.motorCallSince);
  return now;
}

const char* UpdownLifter::Impl::CallInProgress(std::chrono::steady_clock::time_point& since) const {
  const std::uint64_t call = callInProgress.load();
  const std::size_t number = call & ((1U << kCallBits) - 1U);
  if (number >= kNoCall) {
    return nullptr;
  }
  since = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(static_cast<std::int64_t>(call >> kCallBits)));
  return kCallNames[number];
}

void UpdownLifter::Impl::EnterCall(std::size_t call) {
  std::uint64_t since = 0;
  if (call != kNoCall) {
    // The monotonic clock counts from boot: its nanoseconds leave the low bits free for centuries.
    since = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
  }
  callInProgress.store(since << kCallBits | call);
}

void UpdownLifter::Impl::CountFailure(std::size_t call, const std::string& what) {
  if (moveFailures[call]++ == 0) {
    LOG_ERROR("Motor {} {} during the move, further failures are counted\r\n", kCallNames[call], what);
  }
}

bool UpdownLifter::Impl::ReadMotor(std::size_t call, double& value) {
  int result = 0;
  EnterCall(call);
  try {
    result = call == kGetTorque ? motor->getTorque(value) : motor->getPosition(value);
  } catch (...) {
    EnterCall(kNoCall);
    CountFailure(call, ThrownText());
    throw;  // the tick abandons the move
  }
  EnterCall(kNoCall);
  if (result != 0) {
    CountFailure(call, fmt::format("returned {}", result));
    return false;
  }
  if (!std::isfinite(value)) {
    CountFailure(call, fmt::format("read {}", value));
    return false;
  }
  return true;
}

bool UpdownLifter::Impl::CommandPosition(double position) {
  int result = 0;
  EnterCall(kSetPosition);
  try {
    result = motor->setPosition(position);
  } catch (...) {
    EnterCall(kNoCall);
    CountFailure(kSetPosition, ThrownText());
    throw;  // the tick abandons the move
  }
  EnterCall(kNoCall);
  if (result != 0) {
    CountFailure(kSetPosition, fmt::format("returned {}", result));
    return false;
  }
  return true;
}

void UpdownLifter::Impl::EndMove(bool reached) {
  unsigned int failed = 0;
  for (std::size_t call = 0; call < moveFailures.size(); ++call) {
    if (moveFailures[call] > 0) {
      LOG_ERROR("Motor {} failed {} times during the move\r\n", kCallNames[call], moveFailures[call]);
      failed += moveFailures[call];
    }
  }
  if (moveUnheldTicks > 0) {
    LOG_WARN("Torque at the limit in the direction the lifter does not hold in on {} ticks of the move\r\n",
             moveUnheldTicks);
  }
  MoveOutcome ended{reached, !reached, moveHeldTicks, failed, moveUnheldTicks};
  ended.ticks = moveTickCount;
  ended.meanTickPeriod =
      moveTickCount < 2 ? kNan : SecondsOf(lastTickStart - firstTickStart) / static_cast<double>(moveTickCount - 1);
  ended.greatestLateness = greatestLateness;
  ended.lateTicks = lateTicks;
  ended.lastPosition = lastPosition;
  // The travel's end lies at maxpos in the direction of the step.
  ended.shortOfTravel = static_cast<double>(maxpos) - std::copysign(1.0, static_cast<double>(step)) * lastPosition;
  {
    const std::lock_guard<std::mutex> trace_lock(traceMtx);
    ended.untracedTicks = trace.Dropped();
  }
  {
    const std::lock_guard<std::mutex> outcome_lock(outcomeMtx);
    outcome = ended;
    progress.moving = false;
  }
  if (reached) {
    currentStatus.store(targetStatus);
  }
  betweenStates.store(!reached);
  moving.store(false);
}

void UpdownLifter::Impl::Callback() {
  const std::lock_guard<vorn_io::lifter::TickLock> lock(mtx);
  if (!moving.load()) {
    return;
  }
  cmdPos += step;
  vorn_io::LifterTick sample = StartSample();
  const std::array<unsigned int, 3> failed_before = moveFailures;
  // The move ends on the tick that passes the travel, without a command: the
  // previous tick's was the last, and the move is reached only if the motor
  // took it. The line goes out before a poll can see the reached state.
  if (std::fabs(cmdPos) > maxpos) {
    CountTick();
    Record(sample, failed_before);
    if (!lastCommandTaken) {
      LOG_ERROR("The motor did not take the move's last command; move abandoned, lifter in neither state\r\n");
      EndMove(false);
      return;
    }
    LOG_INFO("Get to target pos.\r\n");
    EndMove(true);
    return;
  }
  lastCommandTaken = false;
  const auto command = [&](double position) {
    sample.sent = position;
    lastCommandTaken = CommandPosition(position);
  };
  try {
    double torque = 0.0;
    double position = 0.0;
    const bool torque_usable = ReadMotor(kGetTorque, torque);
    const bool position_usable = ReadMotor(kGetPosition, position);
    // A reading that failed is shown as nan, never as what the variable held.
    sample.torque = torque_usable ? torque : kNan;
    sample.position = position_usable ? position : kNan;
    if (position_usable) {
      lastPosition = position;
    }
    // Without a usable torque the tick cannot tell whether to hold: it sends
    // nothing, and the ramp goes on.
    if (torque_usable) {
      // Compared signed, as the motor reports it: a negative reading never
      // holds (see the header), but one at the limit is counted.
      sample.held = torque >= static_cast<double>(maxTorque);
      sample.unheld = torque <= -static_cast<double>(maxTorque);
      if (sample.held) {
        LOG_INFO("Get max torque: {}, stop.\r\n", torque);
        ++moveHeldTicks;
        if (position_usable) {
          command(position);
        } else if (!moveHoldSkipped) {
          moveHoldSkipped = true;
          LOG_ERROR("No usable position to hold at, hold skipped\r\n");
        }
      } else {
        if (sample.unheld && moveUnheldTicks++ == 0) {
          LOG_WARN("Torque {} at the limit in the direction the lifter does not hold in, ramp goes on\r\n", torque);
        }
        command(static_cast<double>(cmdPos));
      }
      LOG_INFO("set pos {:.2f}, current pos {:.3f}, current torque: {:.3f}\r\n", cmdPos, sample.position, torque);
    }
  } catch (const std::exception& error) {
    Record(sample, failed_before);
    LOG_ERROR("Motor library threw during the move: {}; move abandoned, lifter in neither state\r\n", error.what());
    EndMove(false);
    return;
  } catch (...) {
    Record(sample, failed_before);
    LOG_ERROR("Motor library threw during the move; move abandoned, lifter in neither state\r\n");
    EndMove(false);
    return;
  }
  CountTick();
  Record(sample, failed_before);
  const unsigned int failed_now = moveFailures[kGetTorque] + moveFailures[kGetPosition] + moveFailures[kSetPosition];
  const unsigned int failed_then =
      failed_before[kGetTorque] + failed_before[kGetPosition] + failed_before[kSetPosition];
  failingTicks = failed_now > failed_then ? failingTicks + 1 : 0;
  if (failingTicks >= kAbandonAfterFailingTicks) {
    LOG_ERROR("Motor failed on {} ticks in a row; move abandoned, lifter in neither state\r\n", failingTicks);
    EndMove(false);
  }
}

vorn_io::LifterTick UpdownLifter::Impl::StartSample() {
  const std::chrono::steady_clock::time_point due = PrivateTimer::callDue();
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  vorn_io::LifterTick sample;
  // Strictly increasing, even for ticks a host calls back to back within the clock's resolution.
  sample.seconds = SecondsOf(started - moveAccepted);
  if (moveTickCount > 0 && !(sample.seconds > lastTickSeconds)) {
    sample.seconds = std::nextafter(lastTickSeconds, std::numeric_limits<double>::infinity());
  }
  // A tick a host called itself has no schedule to be late on.
  sample.lateness = due == std::chrono::steady_clock::time_point{} ? kNan : SecondsOf(started - due);
  sample.setPosition = static_cast<double>(cmdPos);
  sample.position = kNan;
  sample.torque = kNan;
  sample.sent = kNan;
  sample.torqueLimit = maxTorque;
  if (moveTickCount == 0) {
    firstTickStart = started;
  }
  lastTickStart = started;
  return sample;
}

void UpdownLifter::Impl::Record(vorn_io::LifterTick& sample, const std::array<unsigned int, 3>& failedBefore) {
  constexpr std::array<std::uint8_t, 3> kBits{vorn_io::LifterTick::kGetTorqueFailed,
                                              vorn_io::LifterTick::kGetPositionFailed,
                                              vorn_io::LifterTick::kSetPositionFailed};
  for (std::size_t call = 0; call < kBits.size(); ++call) {
    if (moveFailures[call] > failedBefore[call]) {
      sample.failedCalls = static_cast<std::uint8_t>(sample.failedCalls | kBits[call]);
    }
  }
  ++moveTickCount;
  lastTickSeconds = sample.seconds;
  if (!std::isnan(sample.lateness)) {
    greatestLateness = std::isnan(greatestLateness) ? sample.lateness : std::max(greatestLateness, sample.lateness);
    if (sample.lateness * static_cast<double>(freq) > 1.0) {
      ++lateTicks;
    }
  }
  const std::lock_guard<std::mutex> trace_lock(traceMtx);
  trace.Push(sample);
}

void UpdownLifter::Impl::ReserveTrace() {
  // Only a move longer than any before allocates; the tick never does.
  const std::lock_guard<std::mutex> trace_lock(traceMtx);
  trace.Reserve(static_cast<std::size_t>(std::min<unsigned long long>(moveTicks, vorn_io::kTraceCapacity)));
}

void UpdownLifter::Impl::CountTick() {
  const std::lock_guard<std::mutex> progress_lock(outcomeMtx);
  ++progress.ticksDone;
}
