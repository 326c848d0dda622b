#pragma once

#include <array>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "vorn_motor_sim/sim_control.h"

namespace vorn_motor_sim::detail {

/// One journalled call, in a form that records without touching the heap:
/// a motor polled thousands of times a second must not pay an allocation per
/// call for a facility only tests read.
struct Entry {
  /// The most numeric arguments any call has (the damiaoMotor constructor).
  static constexpr std::size_t kMaxArgs = 7;

  const char* op = "";  // a string literal
  std::array<double, kMaxArgs> args{};
  std::size_t arg_count = 0;
  /// A constructor's entry: its device-name argument is the journal's name.
  bool constructor = false;
  int result = 0;
};

/// The calls of every motor created with one device name. Thread-safe.
class DeviceJournal;

/// The journal of `dev_name`, created on first use. A motor holds it for its
/// lifetime; `Reset` empties it, and forgets only journals no motor holds.
std::shared_ptr<DeviceJournal> JournalOf(const std::string& dev_name);

/// Appends a call to `journal`. `args` holds at most `Entry::kMaxArgs` values;
/// any beyond are dropped.
void Record(DeviceJournal& journal, const char* op, std::initializer_list<double> args, int result = 0);
/// Appends a constructor call; `args` as `Call::args` gives them.
void RecordConstructor(DeviceJournal& journal, const char* op, const std::vector<double>& args, int result);

/// The script a test configured for `dev_name`, if any.
std::optional<MotorScript> ConfiguredScript(const std::string& dev_name);

void MotorCreated();
void MotorDestroyed();

/// Blocks a stalled call until `ReleaseStalledCalls`, `Reset` or `kStallLimit`.
void WaitUntilReleased();

}  // namespace vorn_motor_sim::detail
