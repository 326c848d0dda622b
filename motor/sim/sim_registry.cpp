#include "sim_registry.h"

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace vorn_motor_sim {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, MotorScript> scripts;
  std::map<std::string, std::vector<Call>> journals;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

std::atomic<std::size_t> g_live{0};

std::optional<double> EnvNumber(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') {
    return std::nullopt;
  }
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

namespace detail {

MotorScript ScriptFor(const std::string& dev_name) {
  Registry& registry = TheRegistry();
  {
    const std::lock_guard<std::mutex> lock(registry.mutex);
    const auto found = registry.scripts.find(dev_name);
    if (found != registry.scripts.end()) {
      return found->second;
    }
  }
  MotorScript script;
  script.obstacle = EnvNumber("VORN_MOTOR_SIM_OBSTACLE");
  script.maxSpeed = EnvNumber("VORN_MOTOR_SIM_MAX_SPEED");
  return script;
}

void Record(const std::string& dev_name, Call call) {
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.journals[dev_name].push_back(std::move(call));
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
  Registry& registry = TheRegistry();
  const std::lock_guard<std::mutex> lock(registry.mutex);
  registry.scripts.clear();
  registry.journals.clear();
}

}  // namespace vorn_motor_sim
