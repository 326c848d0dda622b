#include <algorithm>
#include <cctype>
#include <iterator>

#include <fmt/format.h>

#include "common/description_readers.h"
#include "common/key_reading.h"

namespace vorn_io {
namespace {

namespace key = keys::motor;
using detail::Row;

// After "vendor", in the order `MotorAllocate` reads them; a row whose key
// names a vendor is read for that vendor's motor only.
constexpr Row<MotorSettings> kRows[] = {
    {&key::kId, &MotorSettings::id},
    {&key::kDevName, &MotorSettings::dev_name},
    {&key::kInverse, &MotorSettings::inverse},
    {&key::kMode, &MotorSettings::mode},
    {&key::kMasterId, &MotorSettings::master_id},
    {&key::kKp, &MotorSettings::kp},
    {&key::kKd, &MotorSettings::kd},
    {&key::kMotorModel, &MotorSettings::motor_model},
    {&key::kBaudrate, &MotorSettings::baudrate},
};
static_assert(detail::AllHold(kRows), "a motor key's type differs from its member's");
static_assert(std::size(kRows) + 1 == std::size(key::kAll), "every motor key but the vendor has a row");

const char* const kVendorNames[] = {"", "damiao", "feetech"};

std::string Lowered(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

/// The vendor: a missing, unknown or empty description gives no motor.
/// Returns whether the allocation reads on: it does once a vendor is named,
/// whichever it is.
bool ReadVendor(const detail::KeyMap& map, MotorReading& reading) {
  KeyAccount entry;
  entry.key = key::kVendor.name;
  if (map.node().IsNull()) {
    entry.origin = KeyOrigin::kMissing;
    entry.detail = "the description is empty: no motor, the lifter refuses every move";
    reading.account.keys.push_back(std::move(entry));
    return false;
  }
  detail::KeyRead read = detail::ReadKey(map, key::kVendor, detail::WhenAbsent::kKeepDefault);
  if (read.error) {
    reading.error = read.error;
    reading.account.keys.push_back(std::move(read.entry));
    return false;
  }
  entry = std::move(read.entry);
  if (!read.value) {
    entry.origin = KeyOrigin::kMissing;
    entry.detail = "no vendor: no motor, the lifter refuses every move";
    reading.account.keys.push_back(std::move(entry));
    return false;
  }
  MotorSettings& settings = reading.settings;
  settings.vendor_name = Lowered(std::get<std::string>(*read.value));
  entry.value = settings.vendor_name;
  if (settings.vendor_name == kVendorNames[static_cast<int>(MotorVendor::kDamiao)]) {
    settings.vendor = MotorVendor::kDamiao;
  } else if (settings.vendor_name == kVendorNames[static_cast<int>(MotorVendor::kFeetech)]) {
    settings.vendor = MotorVendor::kFeetech;
  } else {
    entry.origin = KeyOrigin::kMissing;
    entry.detail = fmt::format("unknown vendor {}: no motor, the lifter refuses every move",
                               detail::DescribeNode(map.node()[key::kVendor.name]));
  }
  reading.account.keys.push_back(std::move(entry));
  return true;
}

}  // namespace

namespace detail {

MotorReading ReadMotorKeys(const YAML::Node& node, const std::vector<std::string>& already_accounted) {
  MotorReading reading;
  const KeyMap map(node);
  if (!Subscriptable(map, key::kVendor.name, reading.error, reading.account)) {
    return reading;
  }
  // The keys every motor has are read once a vendor is named, even one no
  // motor is made for; a vendor's own keys only for its motor.
  const bool named = ReadVendor(map, reading);
  const char* vendor = kVendorNames[static_cast<int>(reading.settings.vendor)];
  for (const Row<MotorSettings>& row : kRows) {
    const bool read = named && (*row.key->vendor == '\0' || std::string(row.key->vendor) == vendor);
    const bool shown =
        std::find(already_accounted.begin(), already_accounted.end(), row.key->name) != already_accounted.end();
    if (read) {
      DescriptionAccount own;
      ReadRow(map, row, WhenAbsent::kKeepDefault, reading.settings, reading.error, own);
      if (!shown) {
        reading.account.keys.push_back(std::move(own.keys.front()));
      }
    } else if (!shown && node.IsMap() && node[row.key->name]) {
      KeyAccount entry;
      entry.key = row.key->name;
      entry.origin = KeyOrigin::kOtherVendor;
      entry.position = map.PositionOf(row.key->name);
      entry.detail = *vendor == '\0' ? std::string("there is no motor to read it")
                                     : fmt::format("only a {} motor reads it", row.key->vendor);
      reading.account.keys.push_back(std::move(entry));
    }
  }
  if (reading.settings.vendor == MotorVendor::kFeetech && reading.settings.baudrate <= 0) {
    detail::MarkSuspect(EntryOf(reading.account, key::kBaudrate.name),
                        fmt::format("a baud rate must be positive; the motor is given {} (the value's bits, unsigned)",
                                    static_cast<unsigned int>(reading.settings.baudrate)));
  }
  return reading;
}

std::vector<std::string> MotorKeyNames() {
  std::vector<std::string> names = NamesOf(kRows);
  names.emplace_back(key::kVendor.name);
  return names;
}

}  // namespace detail

MotorReading ReadMotorDescription(const YAML::Node& node) {
  MotorReading reading = detail::ReadMotorKeys(node, {});
  detail::AccountForStrayKeys(detail::KeyMap(node), detail::MotorKeyNames(), "no motor reads this key; it is ignored",
                              reading.account);
  return reading;
}

}  // namespace vorn_io
