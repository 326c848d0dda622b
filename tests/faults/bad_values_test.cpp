// Every key of every device table, given each kind of bad or unusual value.
// The expected outcome is derived from the key's table entry (type, fallback,
// what its absence means) and from yaml-cpp's conversion of each value form,
// which is written out below as yaml-cpp 0.7 does it.
#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include "test_support.h"
#include "vorn_io/config_keys.h"
#include "vorn_io/gripper/servo_gripper.h"
#include "vorn_io/lifter.h"
#include "vorn_motor_sim/sim_control.h"

namespace {

namespace keys = vorn_io::keys;
using keys::ConfigKey;
using keys::Type;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// One form of value and what yaml-cpp's `as<T>` makes of it per type; empty
// where the conversion fails (and a fallback, if any, is taken instead).
struct Form {
  const char* name;
  const char* yaml;  // nullptr: the key is absent
  std::optional<double> as_int;
  std::optional<double> as_unsigned;
  std::optional<double> as_float;
  std::optional<double> as_double;
  std::optional<bool> as_bool;
  std::optional<std::string> as_string;
};

const std::vector<Form>& Forms() {
  static const std::vector<Form> forms = {
      {"absent", nullptr, {}, {}, {}, {}, {}, {}},
      {"null", "~", {}, {}, {}, {}, {}, "null"},
      {"empty", "''", {}, {}, {}, {}, {}, ""},
      {"sequence", "[1, 2]", {}, {}, {}, {}, {}, {}},
      {"map", "{a: 1}", {}, {}, {}, {}, {}, {}},
      {"negative", "-5", -5, {}, -5, -5, {}, "-5"},
      {"huge", "99999999999999999999", {}, {}, static_cast<double>(1e20F), 1e20, {}, "99999999999999999999"},
      {"beyond float", "1e40", {}, {}, {}, 1e40, {}, "1e40"},
      {"nan", ".nan", {}, {}, kNaN, kNaN, {}, ".nan"},
      {"infinite", ".inf", {}, {}, kInf, kInf, {}, ".inf"},
      {"negative infinite", "-.inf", {}, {}, -kInf, -kInf, {}, "-.inf"},
      {"hexadecimal", "0x10", 16, 16, {}, {}, {}, "0x10"},
      {"octal", "010", 8, 8, 10, 10, {}, "010"},
      {"yaml boolean", "yes", {}, {}, {}, {}, true, "yes"},
  };
  return forms;
}

using Value = std::variant<double, std::string>;

std::optional<Value> Converted(const Form& form, Type type) {
  auto number = [](const std::optional<double>& value) -> std::optional<Value> {
    return value ? std::optional<Value>(*value) : std::nullopt;
  };
  switch (type) {
    case Type::kInt:
      return number(form.as_int);
    case Type::kUnsigned:
      return number(form.as_unsigned);
    case Type::kFloat:
      return number(form.as_float);
    case Type::kDouble:
      return number(form.as_double);
    case Type::kBool:
      return form.as_bool ? std::optional<Value>(*form.as_bool ? 1.0 : 0.0) : std::nullopt;
    case Type::kString:
      return form.as_string ? std::optional<Value>(*form.as_string) : std::nullopt;
  }
  return std::nullopt;
}

/// What a key given `form` stores; empty for a conversion error.
std::optional<Value> Expected(const ConfigKey& key, const Form& form) {
  if (form.yaml == nullptr) {
    if (key.when_absent == keys::Absent::kDefault) {
      return key.type == Type::kString ? Value(std::string()) : Value(key.absent_value);
    }
    return std::nullopt;
  }
  if (std::optional<Value> value = Converted(form, key.type)) {
    return value;
  }
  if (key.has_fallback) {
    return key.type == Type::kFloat ? Value(static_cast<double>(static_cast<float>(key.fallback)))
                                    : Value(key.fallback);
  }
  return std::nullopt;
}

YAML::Node With(YAML::Node node, const ConfigKey& key, const Form& form) {
  node.remove(key.name);
  if (form.yaml != nullptr) {
    node[key.name] = YAML::Load(form.yaml);
  }
  return node;
}

std::string Describe(const ConfigKey& key, const Form& form) {
  return fmt::format("key \"{}\" {} ({})", key.name, form.name, form.yaml == nullptr ? "-" : form.yaml);
}

bool SameNumber(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

// ---- The lifter: its own keys, read before its motor's. Without "vendor"
// the lifter makes no motor, so only its own reading is under test.

TEST(BadValues, LifterKeysThrowOnlyWithoutFallbackAndUnconvertible) {
  for (const ConfigKey* key : keys::lifter::kAll) {
    for (const Form& form : Forms()) {
      const YAML::Node node = With(YAML::Load("{dev_name: faults-lifter}"), *key, form);
      const bool throws = !Expected(*key, form).has_value();
      try {
        UpdownLifter lifter(node);
        EXPECT_FALSE(throws) << Describe(*key, form) << ": no exception";
      } catch (const YAML::Exception& error) {
        EXPECT_TRUE(throws) << Describe(*key, form) << ": " << error.what();
      }
    }
  }
}

// ---- The motor's keys, read by MotorAllocate for the vendor named. The
// stand-in journals the constructor arguments, which show what was read.

std::vector<double> ExpectedMotorArgs(const std::string& vendor, const std::map<std::string, Value>& read) {
  auto number = [&](const char* name) { return std::get<double>(read.at(name)); };
  // Integers reach the motor's unsigned parameters with their bits unchanged.
  auto bits = [&](const char* name) {
    return static_cast<double>(static_cast<unsigned int>(static_cast<int>(number(name))));
  };
  auto narrow = [&](const char* name) { return static_cast<double>(static_cast<float>(number(name))); };
  if (vendor == "damiao") {
    return {number("motor_model"), bits("id"),   bits("mode"), bits("master_id"),
            number("inverse"),     narrow("kp"), narrow("kd")};
  }
  return {bits("id"), bits("baudrate"), number("inverse")};
}

TEST(BadValues, MotorKeysGiveTheirFallbacksOrThrow) {
  namespace motor_keys = keys::motor;
  for (const char* vendor : {"damiao", "feetech"}) {
    for (const ConfigKey* key : motor_keys::kAll) {
      if (key == &motor_keys::kVendor || (*key->vendor != '\0' && std::string(key->vendor) != vendor)) {
        continue;
      }
      for (const Form& form : Forms()) {
        vorn_motor_sim::Reset();
        const std::string base_name = fmt::format("faults-{}", vendor);
        const YAML::Node node =
            With(YAML::Load(fmt::format("{{vendor: {}, dev_name: {}}}", vendor, base_name)), *key, form);
        const std::optional<Value> value = Expected(*key, form);
        const std::string what = fmt::format("{} {}", vendor, Describe(*key, form));

        try {
          UpdownLifter lifter(node);
          EXPECT_TRUE(value.has_value()) << what << ": no exception";
          EXPECT_EQ(vorn_motor_sim::LiveMotors(), 1U) << what;
        } catch (const YAML::Exception& error) {
          EXPECT_FALSE(value.has_value()) << what << ": " << error.what();
        }
        EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U) << what;
        if (!value) {
          continue;
        }

        std::map<std::string, Value> read;
        for (const ConfigKey* other : motor_keys::kAll) {
          read[other->name] = other->type == Type::kString ? Value(std::string()) : Value(other->absent_value);
        }
        read["dev_name"] = base_name;
        read[key->name] = *value;
        const std::string dev_name = std::get<std::string>(read["dev_name"]);
        const std::vector<vorn_motor_sim::Call> made =
            vorn_motor_sim::Calls(dev_name, vendor == std::string("damiao") ? "damiaoMotor" : "feetechMotor");
        ASSERT_EQ(made.size(), 1U) << what;
        const std::vector<double> expected = ExpectedMotorArgs(vendor, read);
        ASSERT_EQ(made[0].args.size(), expected.size()) << what;
        for (std::size_t i = 0; i < expected.size(); ++i) {
          EXPECT_TRUE(SameNumber(made[0].args[i], expected[i]))
              << what << ": argument " << i << " is " << made[0].args[i] << ", expected " << expected[i];
        }
      }
    }
  }
  vorn_motor_sim::Reset();
}

// "vendor" decides whether there is a motor at all: absent is an error line
// and no motor, a sequence or map throws, any other text is a vendor the
// library does not know.
TEST(BadValues, VendorOfEveryFormGivesNoMotorOrThrows) {
  const ConfigKey& key = keys::motor::kVendor;
  for (const Form& form : Forms()) {
    const YAML::Node node = With(YAML::Load("{dev_name: faults-vendor}"), key, form);
    vorn_io_test::LogCapture capture;
    bool threw = false;
    try {
      UpdownLifter lifter(node);
      EXPECT_EQ(vorn_motor_sim::LiveMotors(), 0U) << Describe(key, form);
    } catch (const YAML::Exception&) {
      threw = true;
    }
    const std::string out = capture.Text();
    EXPECT_EQ(threw, form.yaml != nullptr && !form.as_string) << Describe(key, form);
    EXPECT_EQ(out.find("Must specify motor vendor name!!!") != std::string::npos, form.yaml == nullptr)
        << Describe(key, form) << "\n"
        << out;
  }
}

// ---- The gripper's node loader: -1 and one error line for a key without
// fallback that is absent or unconvertible, else 0 and the parameter line
// with the value stored.

std::map<std::string, std::string> ParameterLine(const std::string& out) {
  std::map<std::string, std::string> fields;
  const std::string marker = "Gripper param: ";
  const std::size_t begin = out.find(marker);
  if (begin == std::string::npos) {
    return fields;
  }
  const std::string line = out.substr(begin + marker.size(), out.find("\r\n", begin) - begin - marker.size());
  std::size_t at = 0;
  while (at < line.size()) {
    std::size_t end = line.find(", ", at);
    end = end == std::string::npos ? line.size() : end;
    const std::string field = line.substr(at, end - at);
    const std::size_t equals = field.find('=');
    std::string name = field.substr(0, equals);
    std::string value = field.substr(equals + 1);
    name.erase(name.find_last_not_of(' ') + 1);
    value.erase(0, value.find_first_not_of(' '));
    fields[name] = value;
    at = end + 2;
  }
  return fields;
}

// How the parameter line prints a stored value of `key`.
std::string Printed(const ConfigKey& key, const Value& value) {
  if (key.type == Type::kString) {
    return std::get<std::string>(value);
  }
  const double number = std::get<double>(value);
  switch (key.type) {
    case Type::kInt:
      // "id" is stored unsigned, the limits signed.
      return key.name == std::string("id") ? fmt::format("{}", static_cast<unsigned int>(static_cast<int>(number)))
                                           : fmt::format("{}", static_cast<int>(number));
    case Type::kUnsigned:
      return fmt::format("{}", static_cast<unsigned int>(number));
    case Type::kBool:
      return number != 0.0 ? "true" : "false";
    default: {
      const std::string name = key.name;
      // The gains with three decimals, the torques in their shortest form.
      return name == "p" || name == "i" || name == "d" ? fmt::format("{:.3f}", number) : fmt::format("{}", number);
    }
  }
}

TEST(BadValues, GripperKeysGiveTheirFallbacksOrFailTheLoad) {
  const YAML::Node base = YAML::Load(
      "{id: 7, baudrate: 57600, dev_name: faults-gripper, inverse: false, p: 1.5, i: 0.25, d: 0.125,"
      " limit_low: -1000, limit_high: 2000, torque_low: 30, torque_high: 60}");
  std::string dev_name = "faults-gripper-motor";
  ServoGripper gripper(1, 115200, dev_name, false);

  for (const ConfigKey* key : keys::gripper::kAll) {
    for (const Form& form : Forms()) {
      YAML::Node node = With(YAML::Clone(base), *key, form);
      const std::optional<Value> value = Expected(*key, form);
      vorn_io_test::LogCapture capture;
      const int status = gripper.function_get_para(node);
      const std::string out = capture.Text();
      const std::string what = Describe(*key, form);
      if (!value) {
        EXPECT_EQ(status, -1) << what;
        EXPECT_NE(out.find("[ERROR] YAML Error: "), std::string::npos) << what << "\n" << out;
        EXPECT_EQ(out.find("Gripper param:"), std::string::npos) << what << "\n" << out;
        continue;
      }
      EXPECT_EQ(status, 0) << what << "\n" << out;
      std::map<std::string, std::string> fields = ParameterLine(out);
      ASSERT_EQ(fields.size(), std::size(keys::gripper::kAll)) << what << "\n" << out;
      EXPECT_EQ(fields[key->name], Printed(*key, *value)) << what;
      // The other keys keep the values of the map.
      for (const ConfigKey* other : keys::gripper::kAll) {
        if (other != key) {
          const YAML::Node given = base[other->name];
          const Value original = other->type == Type::kString ? Value(given.as<std::string>())
                                 : other->type == Type::kBool ? Value(given.as<bool>() ? 1.0 : 0.0)
                                                              : Value(given.as<double>());
          EXPECT_EQ(fields[other->name], Printed(*other, original)) << what << ": " << other->name;
        }
      }
    }
  }
}

}  // namespace
