#include "sim_registry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vorn_motor_sim {
namespace detail {

// A ring of the latest calls. A lifter ticking at 10 Hz records some 30
// calls a second; a host program that runs for hours must stay bounded, and
// once full the ring records without allocating.
class DeviceJournal {
 public:
  static constexpr std::size_t kLimit = 65536;

  explicit DeviceJournal(std::string dev_name) : dev_name_(std::move(dev_name)) {}

  void Append(const Entry& entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.size() < kLimit) {
      entries_.push_back(entry);
    } else {
      entries_[oldest_] = entry;
      oldest_ = (oldest_ + 1) % kLimit;
    }
  }

  [[nodiscard]] std::vector<Call> Calls() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> calls;
    calls.reserve(entries_.size());
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      const Entry& entry = entries_[(oldest_ + i) % entries_.size()];
      Call call;
      call.op = entry.op;
      call.args.assign(entry.args.begin(), std::next(entry.args.begin(), static_cast<std::ptrdiff_t>(entry.arg_count)));
      if (entry.constructor) {
        call.text = dev_name_;
      }
      call.result = entry.result;
      calls.push_back(std::move(call));
    }
    return calls;
  }

  void Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Entry>().swap(entries_);  // gives the memory back, too
    oldest_ = 0;
  }

 private:
  const std::string dev_name_;
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::size_t oldest_ = 0;  // where the ring starts once it is full
};

}  // namespace detail

namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, MotorScript> scripts;
  // A journal that a motor alive holds is only emptied on reset, never erased.
  std::map<std::string, std::shared_ptr<detail::DeviceJournal>> journals;
};

// Never destroyed: a motor held by a static object may still record while
// the process exits.
Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

std::atomic<std::size_t> g_live{0};

std::shared_ptr<detail::DeviceJournal> FindJournal(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.journals.find(dev_name);
  return found == registry.journals.end() ? nullptr : found->second;
}

}  // namespace

namespace detail {

std::shared_ptr<DeviceJournal> JournalOf(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  std::shared_ptr<DeviceJournal>& journal = registry.journals[dev_name];
  if (!journal) {
    journal = std::make_shared<DeviceJournal>(dev_name);
  }
  return journal;
}

namespace {

void Append(DeviceJournal& journal, const char* op, const double* args, std::size_t count, bool constructor,
            int result) {
  Entry entry;
  entry.op = op;
  entry.arg_count = std::min(count, Entry::kMaxArgs);
  std::copy_n(args, entry.arg_count, entry.args.begin());
  entry.constructor = constructor;
  entry.result = result;
  journal.Append(entry);
}

}  // namespace

void Record(DeviceJournal& journal, const char* op, std::initializer_list<double> args, int result) {
  Append(journal, op, args.begin(), args.size(), false, result);
}

void RecordConstructor(DeviceJournal& journal, const char* op, const std::vector<double>& args, int result) {
  Append(journal, op, args.data(), args.size(), true, result);
}

std::optional<MotorScript> ConfiguredScript(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.scripts.find(dev_name);
  if (found == registry.scripts.end()) {
    return std::nullopt;
  }
  return found->second;
}

void MotorCreated() { g_live.fetch_add(1); }
void MotorDestroyed() { g_live.fetch_sub(1); }

// Stalled calls wait for the next release; never destroyed, like the registry.
struct StallGate {
  std::mutex mutex;
  std::condition_variable released;
  std::uint64_t releases = 0;
};

StallGate& TheStallGate() {
  static auto* gate = new StallGate;
  return *gate;
}

void WaitUntilReleased() {
  // A test that fails before it releases must not hang the suite.
  constexpr std::chrono::seconds kStallLimit{30};
  StallGate& gate = TheStallGate();
  std::unique_lock<std::mutex> lock(gate.mutex);
  const std::uint64_t stalled_at = gate.releases;
  gate.released.wait_for(lock, kStallLimit, [&] { return gate.releases != stalled_at; });
}

}  // namespace detail

void ReleaseStalledCalls() {
  detail::StallGate& gate = detail::TheStallGate();
  {
    const std::lock_guard<std::mutex> lock(gate.mutex);
    ++gate.releases;
  }
  gate.released.notify_all();
}

void Configure(const std::string& dev_name, const MotorScript& script) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.scripts[dev_name] = script;
}

std::vector<Call> Journal(const std::string& dev_name) {
  const std::shared_ptr<detail::DeviceJournal> journal = FindJournal(dev_name);
  return journal ? journal->Calls() : std::vector<Call>{};
}

std::vector<Call> Calls(const std::string& dev_name, const std::string& op) {
  std::vector<Call> selected;
  for (Call& call : Journal(dev_name)) {
    if (call.op == op) {
      selected.push_back(std::move(call));
    }
  }
  return selected;
}

std::size_t LiveMotors() { return g_live.load(); }

void Reset() {
  {
    Registry& registry = TheRegistry();
    const std::lock_guard<std::mutex> lock(registry.mutex);
    registry.scripts.clear();
    for (auto named = registry.journals.begin(); named != registry.journals.end();) {
      if (named->second.use_count() == 1) {
        named = registry.journals.erase(named);
      } else {
        named->second->Clear();
        ++named;
      }
    }
  }
  UseRealClock();
  ReleaseStalledCalls();
}

}  // namespace vorn_motor_sim
