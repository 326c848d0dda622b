#include "sim_registry.h"

#include <atomic>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vorn_motor_sim {
namespace {

// A lifter ticking at 10 Hz records some 30 calls a second; a host program
// that runs for hours must not grow without bound.
constexpr std::size_t kJournalLimit = 65536;

struct Registry {
  std::mutex mutex;
  std::map<std::string, MotorScript> scripts;
  std::map<std::string, std::vector<Call>> journals;
};

// Never destroyed: a motor held by a static object may still record while
// the process exits.
Registry& TheRegistry() {
  static auto* registry = new Registry;
  return *registry;
}

std::atomic<std::size_t> g_live{0};

}  // namespace

namespace detail {

std::optional<MotorScript> ConfiguredScript(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.scripts.find(dev_name);
  if (found == registry.scripts.end()) {
    return std::nullopt;
  }
  return found->second;
}

void Record(const std::string& dev_name, Call call) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  std::vector<Call>& journal = registry.journals[dev_name];
  if (journal.size() >= kJournalLimit) {
    // Dropping a quarter at once keeps the cost of the erase amortised.
    journal.erase(journal.begin(), std::next(journal.begin(), kJournalLimit / 4));
  }
  journal.push_back(std::move(call));
}

void MotorCreated() { g_live.fetch_add(1); }
void MotorDestroyed() { g_live.fetch_sub(1); }

}  // namespace detail

void Configure(const std::string& dev_name, const MotorScript& script) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.scripts[dev_name] = script;
}

std::vector<Call> Journal(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  const auto found = registry.journals.find(dev_name);
  return found == registry.journals.end() ? std::vector<Call>{} : found->second;
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
    registry.journals.clear();
  }
  UseRealClock();
}

}  // namespace vorn_motor_sim
