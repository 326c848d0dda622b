// The lifter's shutdown: run on its own thread, waited for within a bound.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <string>

#include <fmt/format.h>

#include "common/thrown_text.h"
#include "lifter/lifter_impl.h"
#include "vorn_io/lifter.h"
#include "vorn_io/logger.h"

namespace {

using Clock = std::chrono::steady_clock;

// The motor reports disabled within a few polls; one that never does is
// released all the same.
constexpr int kDisablePollRounds = 50;
constexpr useconds_t kDisablePollIntervalUs = 100000;
// How often `park` looks at the motor call in progress while it waits.
constexpr std::chrono::milliseconds kWaitSlice{20};

using vorn_io::detail::ThrownText;

}  // namespace

ParkOutcome UpdownLifter::park() {
  Impl& state = *impl_;
  const std::lock_guard<std::mutex> one_at_a_time(state.parkMtx);
  if (state.parkRequested.exchange(true)) {
    return state.ParkResult();
  }
  if (!state.motor) {
    return state.ParkResult();  // no motor, no thread: nothing to park
  }
  {
    const std::lock_guard<std::mutex> lock(state.outcomeMtx);
    state.parkOutcome.hadMotor = true;
  }
  // After the tick under way, if any; the state, motor included, goes with
  // the thread, so that it outlives this object if the thread has to.
  finish([shared = impl_] { shared->Park(); });
  const Clock::time_point deadline = Clock::now() + kParkWait;
  while (!awaitEnd(kWaitSlice)) {
    Clock::time_point since;
    const char* const call = state.CallInProgress(since);
    const Clock::time_point now = Clock::now();
    if (call != nullptr && now - since >= kHungCall) {
      LOG_ERROR(
          "Motor call {} has not returned after {:.1f} s; the motor could not be parked and may still be "
          "enabled\r\n",
          call, std::chrono::duration<double>(now - since).count());
    } else if (now >= deadline) {
      LOG_ERROR(
          "Motor shutdown did not end within {:.1f} s{}; the motor could not be parked and may still be "
          "enabled\r\n",
          std::chrono::duration<double>(kParkWait).count(),
          call != nullptr ? fmt::format(" (in motor call {})", call) : std::string());
    } else {
      continue;
    }
    // The thread holds the state and the motor, and releases them when the
    // call returns; nothing here may free them under it.
    abandon();
    break;
  }
  return state.ParkResult();
}

ParkOutcome UpdownLifter::Impl::ParkResult() const {
  ParkOutcome result;
  {
    const std::lock_guard<std::mutex> lock(outcomeMtx);
    result = parkOutcome;
  }
  if (result.hadMotor && !result.finished) {
    Clock::time_point since;
    result.hungCall = CallInProgress(since);
  }
  return result;
}

void UpdownLifter::Impl::Park() {
  const std::lock_guard<vorn_io::lifter::TickLock> lock(mtx);
  if (moving.load()) {
    LOG_ERROR("Lifter parked during the move; move abandoned, lifter in neither state\r\n");
    EndMove(false);
  }
  ParkOutcome result;
  result.hadMotor = true;
  // What is known so far is published at once: a host that stops waiting
  // for a hung call still learns what went before it.
  const auto publish = [&] {
    const std::lock_guard<std::mutex> outcome_lock(outcomeMtx);
    parkOutcome = result;
  };
  // Runs one motor call of the shutdown, recorded as the call in progress.
  // Its result, or nothing when it threw, with an error line that ends in
  // what follows from that.
  const auto call = [&](std::size_t which, const char* consequence, const auto& body) -> std::optional<int> {
    EnterCall(which);
    try {
      const int returned = body();
      EnterCall(kNoCall);
      return returned;
    } catch (...) {
      EnterCall(kNoCall);
      ++result.failedCalls;
      LOG_ERROR("Motor {} {} at shutdown{}\r\n", kCallNames[which], ThrownText(), consequence);
      return std::nullopt;
    }
  };

  // Held where it stands. A reading that failed or is no number is never
  // sent as a position: the motor would run back to wherever it says.
  double position = 0.0;
  const std::optional<int> read = call(kGetPosition, ", hold skipped", [&] { return motor->getPosition(position); });
  if (read && *read != 0) {
    ++result.failedCalls;
    LOG_ERROR("No usable position to hold at shutdown (getPosition returned {}), hold skipped\r\n", *read);
  } else if (read && !std::isfinite(position)) {
    ++result.failedCalls;
    LOG_ERROR("No usable position to hold at shutdown (getPosition read {}), hold skipped\r\n", position);
  } else if (read) {
    const std::optional<int> held =
        call(kSetPosition, ", motor not held", [&] { return motor->setPosition(position); });
    if (held && *held != 0) {
      ++result.failedCalls;
      LOG_ERROR("Motor setPosition returned {} at shutdown, motor not held\r\n", *held);
    }
    result.held = held == 0;
  }
  publish();

  // Disabled, whatever became of the hold.
  const std::optional<int> disabled = call(kSetEnable, "", [&] { return motor->setEnable(false); });
  if (disabled && *disabled != 0) {
    ++result.failedCalls;
    LOG_ERROR("Motor setEnable(false) returned {} at shutdown\r\n", *disabled);
  }
  result.disableTaken = disabled == 0;
  publish();

  // Asked until it says so, even after a refused disable: what it reports is what counts.
  for (int round = 0;; ++round) {
    bool enabled = true;
    const std::optional<int> query =
        call(kGetEnableState, ", disable not confirmed", [&] { return motor->getEnableState(enabled); });
    if (!query) {
      break;
    }
    if (*query != 0) {
      ++result.failedCalls;
      LOG_ERROR("Motor getEnableState returned {} at shutdown, disable not confirmed\r\n", *query);
      break;
    }
    if (!enabled) {
      result.disableConfirmed = true;
      break;
    }
    if (round == kDisablePollRounds) {
      LOG_ERROR("Motor still enabled after {} polls, released anyway\r\n", kDisablePollRounds);
      break;
    }
    usleep(kDisablePollIntervalUs);
  }
  result.finished = true;
  motor.reset();
  publish();
}
