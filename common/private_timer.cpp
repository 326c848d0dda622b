#include "vorn_io/private_timer.h"

#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

/// What a timer's thread and the timer share. The thread holds it (and its
/// task) by itself, never the timer: a thread its owner abandoned lives on
/// with it after the timer is gone.
struct Shared {
  /// Guards the fields below and the sleep; the end is requested under it,
  /// so that a request cannot slip in between the check and the wait.
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable ended_signal;
  std::atomic<bool> go_on{true};
  /// Work to run on the thread once its loop has ended, in order.
  std::deque<std::function<void()>> last;
  /// The thread has run its last work and is about to end.
  bool ended = false;
};

/// The shared state of the timer whose thread this is; null elsewhere.
thread_local const Shared* tCurrent = nullptr;
/// When the task call in progress on this thread was due; the epoch elsewhere.
thread_local Clock::time_point tDue{};

void RequestEnd(Shared& shared) {
  {
    const std::lock_guard<std::mutex> lock(shared.mutex);
    shared.go_on.store(false);
  }
  shared.wake.notify_all();
}

/// Sleeps until `deadline` or a request to end, whichever comes first.
void SleepUntil(Shared& shared, Clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(shared.mutex);
  // A wait towards a fixed deadline: wake-ups by signals or spurious ones
  // resume it for the time left, and only a request to end ends it early.
  shared.wake.wait_until(lock, deadline, [&shared] { return !shared.go_on.load(); });
}

void LoopEvery(Shared& shared, int interval, const std::function<void()>& task) {
  tDue = Clock::now();
  while (shared.go_on.load()) {
    const Clock::time_point t0 = Clock::now();
    task();
    const Clock::time_point t1 = Clock::now();
    // Only whole milliseconds of the task's duration count.
    const std::int64_t elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(t1 - t0).count();
    tDue = t1;
    if (elapsed >= interval) {
      continue;
    }
    tDue = t1 + std::chrono::milliseconds(interval - elapsed);
    SleepUntil(shared, tDue);
  }
}

void LoopOnSchedule(Shared& shared, std::chrono::duration<double, std::nano> period,
                    const std::function<void()>& task) {
  // Each deadline is computed from the origin, never by adding up periods,
  // so the rounding of a fractional period to the clock's ticks cannot drift.
  Clock::time_point origin = Clock::now();
  std::uint64_t calls = 0;
  tDue = origin;
  while (shared.go_on.load()) {
    task();
    ++calls;
    const Clock::time_point due =
        origin + std::chrono::duration_cast<Clock::duration>(period * static_cast<double>(calls));
    const Clock::time_point now = Clock::now();
    tDue = due;
    if (now - due > period) {
      // Far behind: the next call starts at once and the schedule from it.
      origin = now;
      calls = 0;  // the next call is still late by its old deadline
      continue;
    }
    if (now < due) {
      SleepUntil(shared, due);
    }
  }
}

/// The body of every timer thread: the loop, then the work left for after it.
template <typename Loop>
void RunThread(Shared& shared, Loop loop) {
  tCurrent = &shared;
  // The default slack (50 us for a normal thread) lets the kernel wake the
  // thread that much after its deadline to batch wake-ups; a periodic task
  // asks to be woken when it is due. Real-time threads get none anyway.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  {
    // The starter holds the lock until the thread's scheduling is set.
    const std::lock_guard<std::mutex> lock(shared.mutex);
  }
  loop();
  for (;;) {
    std::function<void()> work;
    {
      const std::lock_guard<std::mutex> lock(shared.mutex);
      if (shared.last.empty()) {
        shared.ended = true;
        break;
      }
      work = std::move(shared.last.front());
      shared.last.pop_front();
    }
    work();
  }
  shared.ended_signal.notify_all();
}

}  // namespace

struct PrivateTimer::Worker {
  // Guards `thread` and `shared`.
  std::mutex mutex;
  std::thread thread;
  /// The state shared with `thread`; null when there is none.
  std::shared_ptr<Shared> shared;
  /// The state of the thread started last, only to tell whether a call
  /// comes from that thread; never dereferenced.
  const Shared* latest = nullptr;
  // Held by a stop() that waits for the loop, so a second one waits as well.
  std::mutex join_mutex;
};

PrivateTimer::PrivateTimer() : worker_(std::make_unique<Worker>()) {}

PrivateTimer::~PrivateTimer() { stop(); }

void PrivateTimer::Launch(int interval, std::function<void()> task) {
  stop();
  const std::lock_guard<std::mutex> lock(worker_->mutex);
  auto shared = std::make_shared<Shared>();
  running.store(true);
  worker_->shared = shared;
  worker_->latest = shared.get();
  worker_->thread = std::thread(
      [shared, interval, task = std::move(task)] { RunThread(*shared, [&] { LoopEvery(*shared, interval, task); }); });
}

int PrivateTimer::LaunchOnSchedule(std::chrono::duration<double, std::milli> period, int priority,
                                   std::function<void()> task) {
  stop();
  const std::lock_guard<std::mutex> lock(worker_->mutex);
  auto shared = std::make_shared<Shared>();
  // A period that cannot be scheduled runs back to back, like an interval of 0.
  const std::chrono::duration<double, std::nano> usable =
      period.count() > 0.0 && std::isfinite(period.count()) ? period : std::chrono::duration<double, std::milli>(0.0);
  running.store(true);
  worker_->shared = shared;
  worker_->latest = shared.get();
  // The thread waits for this lock before its first call, so that the call
  // already runs under the policy asked for.
  const std::lock_guard<std::mutex> start_lock(shared->mutex);
  worker_->thread = std::thread(
      [shared, usable, task = std::move(task)] { RunThread(*shared, [&] { LoopOnSchedule(*shared, usable, task); }); });
  if (priority == 0) {
    return 0;
  }
  if (priority < sched_get_priority_min(SCHED_FIFO) || priority > sched_get_priority_max(SCHED_FIFO)) {
    return EINVAL;
  }
  sched_param parameters{};
  parameters.sched_priority = priority;
  return pthread_setschedparam(worker_->thread.native_handle(), SCHED_FIFO, &parameters);
}

void PrivateTimer::Finish(std::function<void()> last) {
  running.store(false);
  std::thread ended;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    if (worker_->shared) {
      Shared& shared = *worker_->shared;
      std::unique_lock<std::mutex> shared_lock(shared.mutex);
      if (!shared.ended) {
        // The thread takes it up once its loop (or its earlier last work) is over.
        shared.last.push_back(std::move(last));
        shared.go_on.store(false);
        shared_lock.unlock();
        shared.wake.notify_all();
        return;
      }
      ended = std::move(worker_->thread);
    }
    // No thread, or one that has ended: a thread for `last` alone.
    auto shared = std::make_shared<Shared>();
    shared->go_on.store(false);
    shared->last.push_back(std::move(last));
    worker_->shared = shared;
    worker_->latest = shared.get();
    worker_->thread = std::thread([shared] { RunThread(*shared, [] {}); });
  }
  if (ended.joinable()) {
    ended.join();  // it has said it ended: nothing is left to wait for
  }
}

std::chrono::steady_clock::time_point PrivateTimer::callDue() noexcept { return tDue; }

void PrivateTimer::stop() noexcept {
  running.store(false);
  std::shared_ptr<Shared> shared;
  bool from_own_thread = false;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    shared = worker_->shared;
    from_own_thread = tCurrent != nullptr && tCurrent == worker_->latest;
  }
  if (shared) {
    RequestEnd(*shared);
  }
  if (from_own_thread) {
    // From within the task: the loop ends as soon as the task returns, and
    // the owner's own stop() joins the thread later.
    return;
  }
  // Also when another stop() took the thread to join it: this one returns
  // only once the loop is over as well.
  const std::lock_guard<std::mutex> join_lock(worker_->join_mutex);
  std::thread finished;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    finished = std::move(worker_->thread);
    worker_->shared.reset();
  }
  if (finished.joinable()) {
    finished.join();
  }
}

bool PrivateTimer::awaitEnd(std::chrono::nanoseconds bound) noexcept {
  std::shared_ptr<Shared> shared;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    shared = worker_->shared;
  }
  if (!shared) {
    return true;
  }
  if (tCurrent == shared.get()) {
    return false;  // a thread never sees itself end
  }
  {
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->ended_signal.wait_for(lock, bound, [&shared] { return shared->ended; })) {
      return false;
    }
  }
  // It has ended: joining it waits no longer than its return.
  stop();
  return true;
}

void PrivateTimer::abandon() noexcept {
  running.store(false);
  std::shared_ptr<Shared> shared;
  std::thread left;
  {
    const std::lock_guard<std::mutex> lock(worker_->mutex);
    shared = std::move(worker_->shared);
    left = std::move(worker_->thread);
  }
  if (shared) {
    RequestEnd(*shared);
  }
  if (left.joinable()) {
    left.detach();
  }
}
