#include <cmath>
#include <iterator>

#include <fmt/format.h>

#include "common/key_reading.h"
#include "vorn_io/description.h"

namespace vorn_io {
namespace {

namespace key = keys::gripper;
using detail::Row;

// In reading order. "id" and "dev_name" have no fallback: an absent or
// unconvertible value stops the load there.
constexpr Row<GripperSettings> kRows[] = {
    {&key::kId, &GripperSettings::id},
    {&key::kBaudrate, &GripperSettings::baudrate},
    {&key::kDevName, &GripperSettings::dev_name},
    {&key::kInverse, &GripperSettings::inverse},
    {&key::kP, &GripperSettings::p},
    {&key::kI, &GripperSettings::i},
    {&key::kD, &GripperSettings::d},
    {&key::kLimitLow, &GripperSettings::limit_low},
    {&key::kLimitHigh, &GripperSettings::limit_high},
    {&key::kTorqueLow, &GripperSettings::torque_low},
    {&key::kTorqueHigh, &GripperSettings::torque_high},
};
static_assert(detail::AllHold(kRows), "a gripper key's type differs from its member's");
static_assert(std::size(kRows) == std::size(key::kAll), "every gripper key has a row");

/// Values the gripper stores as read, but that will not work as meant.
void FlagSuspects(const GripperSettings& read, DescriptionAccount& account) {
  KeyAccount& id = detail::EntryOf(account, key::kId.name);
  if (id.origin == KeyOrigin::kFile && !id.value.empty() && id.value.front() == '-') {
    detail::MarkReplaced(id, std::to_string(read.id), "a negative id is stored unsigned");
  }
  if (read.baudrate == 0) {
    detail::MarkSuspect(detail::EntryOf(account, key::kBaudrate.name), "a baud rate of 0 opens no serial line");
  }
  for (const keys::ConfigKey* torque : {&key::kTorqueLow, &key::kTorqueHigh}) {
    const double value = torque == &key::kTorqueLow ? read.torque_low : read.torque_high;
    if (!std::isfinite(value)) {
      detail::MarkSuspect(detail::EntryOf(account, torque->name),
                          "a torque limit that is not a finite number leaves the motor's torque unbounded");
    } else if (value < 0.0) {
      detail::MarkSuspect(detail::EntryOf(account, torque->name),
                          "a negative torque limit: the motor is commanded against its own motion");
    }
  }
}

std::vector<std::string> GripperKeyNames() { return detail::NamesOf(kRows); }

}  // namespace

GripperReading ReadGripperParameters(const YAML::Node& node, const GripperSettings& before) {
  GripperReading reading;
  reading.settings = before;
  const detail::KeyMap map(node);
  if (!detail::Subscriptable(map, key::kId.name, reading.error, reading.account)) {
    return reading;
  }
  GripperSettings read = before;
  detail::ReadRows(map, kRows, detail::WhenAbsent::kConvert, read, reading.error, reading.account);
  // Each value is stored as soon as it is read: a load that stops keeps
  // what it read before the error.
  const std::size_t stored = detail::RowsBeforeError<std::size(kRows)>(reading.account);
  for (std::size_t row = 0; row < stored; ++row) {
    std::visit([&](auto member) { reading.settings.*member = read.*member; }, kRows[row].member);
  }
  FlagSuspects(read, reading.account);
  detail::AccountForStrayKeys(map, GripperKeyNames(), "no gripper reads this key; it is ignored", reading.account);
  return reading;
}

}  // namespace vorn_io
