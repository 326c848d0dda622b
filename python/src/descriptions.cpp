#include "src/descriptions.h"

#include <exception>
#include <optional>
#include <string>

#include <fmt/format.h>
#include <pybind11/stl.h>

#include "vorn_io/description.h"

namespace py = pybind11;

namespace vorn_io::python {
namespace {

/// A reading's first yaml-cpp exception, as its message: the one the
/// device's constructor would raise.
std::optional<std::string> ErrorText(const std::exception_ptr& error) {
  if (!error) {
    return std::nullopt;
  }
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& thrown) {
    return std::string(thrown.what());
  } catch (...) {
    return std::string("unknown error");
  }
}

template <typename Reading>
void DefError(py::class_<Reading>& type) {
  type.def_property_readonly(
      "error", [](const Reading& reading) { return ErrorText(reading.error); },
      "The message of the first exception yaml-cpp raised while reading, the one the device would raise; None "
      "when there is none.");
}

/// str() of an enum value is the library's name for it ("unknown", "motor
/// file"), replacing pybind11's "KeyOrigin.UNKNOWN" (a def would only add an
/// overload behind it).
template <typename Enum>
void NameAs(py::enum_<Enum>& type, const char* (*name)(Enum)) {
  type.attr("__str__") = py::cpp_function([name](Enum value) { return name(value); }, py::is_method(type));
}

void BindAccounts(py::module_& module) {
  py::enum_<KeyOrigin> origin(module, "KeyOrigin", "Where the value a device uses for a key comes from.");
  origin.value("FILE", KeyOrigin::kFile)
      .value("DEFAULT", KeyOrigin::kDefault)
      .value("FALLBACK", KeyOrigin::kFallback)
      .value("REPLACED", KeyOrigin::kReplaced)
      .value("SUSPECT", KeyOrigin::kSuspect)
      .value("OTHER_VENDOR", KeyOrigin::kOtherVendor)
      .value("UNKNOWN", KeyOrigin::kUnknown)
      .value("DUPLICATE", KeyOrigin::kDuplicate)
      .value("MISSING", KeyOrigin::kMissing)
      .value("ERROR", KeyOrigin::kError);
  NameAs(origin, &OriginName);

  py::class_<TextPosition>(module, "TextPosition", "Where a key stands in its text, counted from 1.")
      .def_readonly("line", &TextPosition::line)
      .def_readonly("column", &TextPosition::column)
      .def("__repr__",
           [](const TextPosition& at) { return fmt::format("TextPosition(line={}, column={})", at.line, at.column); });

  py::class_<KeyAccount>(module, "KeyAccount", "One key of a description, as the device reads it.")
      .def_readonly("key", &KeyAccount::key)
      .def_readonly("value", &KeyAccount::value, "The value the device uses, as text; empty when it uses none.")
      .def_readonly("origin", &KeyAccount::origin)
      .def_readonly("position", &KeyAccount::position, "Of the key in the text; None for an absent key or a dict.")
      .def_readonly("detail", &KeyAccount::detail, "Why, in words, for every origin but FILE and DEFAULT.")
      .def_property_readonly("flagged", &KeyAccount::Flagged,
                             "Worth a person's attention: anything but a value from the file or a default.")
      .def("__repr__", [](const KeyAccount& key) {
        return fmt::format("KeyAccount(key={}, value={}, origin={})", py::repr(py::str(key.key)).cast<std::string>(),
                           py::repr(py::str(key.value)).cast<std::string>(), OriginName(key.origin));
      });

  py::class_<DescriptionAccount>(module, "DescriptionAccount",
                                 "Every key of a description in reading order, then the keys no device reads and the "
                                 "duplicates, in file order.")
      .def_readonly("keys", &DescriptionAccount::keys)
      .def_property_readonly("has_error", &DescriptionAccount::HasError,
                             "Whether the device cannot be built from the description.")
      .def_property_readonly("flagged_count", &DescriptionAccount::FlaggedCount)
      .def("find", &DescriptionAccount::Find, py::arg("key"), py::return_value_policy::copy,
           "The first entry for `key`, or None.")
      .def(
          "flagged",
          [](const DescriptionAccount& account) {
            py::list flagged;
            for (const KeyAccount& key : account.keys) {
              if (key.Flagged()) {
                flagged.append(key);
              }
            }
            return flagged;
          },
          "The entries worth a person's attention.");
}

void BindSettings(py::module_& module) {
  py::class_<LifterSettings>(module, "LifterSettings", "The lifter's own settings, as it runs with them.")
      .def_readonly("id", &LifterSettings::id)
      .def_readonly("dev_name", &LifterSettings::dev_name)
      .def_readonly("mode", &LifterSettings::mode)
      .def_readonly("master_id", &LifterSettings::master_id)
      .def_readonly("maxpos", &LifterSettings::maxpos)
      .def_readonly("freq", &LifterSettings::freq)
      .def_readonly("speed", &LifterSettings::speed);

  py::enum_<MotorVendor>(module, "MotorVendor", "The motor vendors a lifter makes a motor for.")
      .value("NONE", MotorVendor::kNone)
      .value("DAMIAO", MotorVendor::kDamiao)
      .value("FEETECH", MotorVendor::kFeetech);

  py::class_<MotorSettings>(module, "MotorSettings", "A lifter motor's settings, as the motor is created with them.")
      .def_readonly("vendor", &MotorSettings::vendor)
      .def_readonly("vendor_name", &MotorSettings::vendor_name)
      .def_readonly("id", &MotorSettings::id)
      .def_readonly("dev_name", &MotorSettings::dev_name)
      .def_readonly("inverse", &MotorSettings::inverse)
      .def_readonly("mode", &MotorSettings::mode)
      .def_readonly("master_id", &MotorSettings::master_id)
      .def_readonly("kp", &MotorSettings::kp)
      .def_readonly("kd", &MotorSettings::kd)
      .def_readonly("motor_model", &MotorSettings::motor_model)
      .def_readonly("baudrate", &MotorSettings::baudrate);

  py::class_<GripperSettings>(module, "GripperSettings", "A servo gripper's parameters.")
      .def_readonly("id", &GripperSettings::id)
      .def_readonly("baudrate", &GripperSettings::baudrate)
      .def_readonly("dev_name", &GripperSettings::dev_name)
      .def_readonly("inverse", &GripperSettings::inverse)
      .def_readonly("p", &GripperSettings::p)
      .def_readonly("i", &GripperSettings::i)
      .def_readonly("d", &GripperSettings::d)
      .def_readonly("limit_low", &GripperSettings::limit_low)
      .def_readonly("limit_high", &GripperSettings::limit_high)
      .def_readonly("torque_low", &GripperSettings::torque_low)
      .def_readonly("torque_high", &GripperSettings::torque_high);
}

void BindReadings(py::module_& module) {
  py::class_<MotorReading> motor(module, "MotorReading", "A lifter motor's description, read.");
  motor.def_readonly("settings", &MotorReading::settings).def_readonly("account", &MotorReading::account);
  DefError(motor);

  py::class_<LifterReading> lifter(module, "LifterReading", "A lifter description, read.");
  lifter.def_readonly("settings", &LifterReading::settings, "After the lifter's replacements.")
      .def_readonly("unusable_freq", &LifterReading::unusable_freq,
                    "The value given for a setting the lifter replaced; None when it kept it.")
      .def_readonly("unusable_maxpos", &LifterReading::unusable_maxpos)
      .def_readonly("unusable_speed", &LifterReading::unusable_speed)
      .def_readonly("move_ticks", &LifterReading::move_ticks,
                    "Ticks of a move from command to end; 0 when the ramp never ends (moves are refused).")
      .def_readonly("tick_period_ms", &LifterReading::tick_period_ms)
      .def_readonly("motor", &LifterReading::motor)
      .def_readonly("account", &LifterReading::account,
                    "The whole map: the lifter's keys, the motor's, then keys no device reads.");
  DefError(lifter);

  py::class_<GripperReading> gripper(module, "GripperReading", "A gripper parameter map, read.");
  gripper.def_readonly("settings", &GripperReading::settings).def_readonly("account", &GripperReading::account);
  DefError(gripper);

  py::class_<GripperSection>(module, "GripperSection", "One parameter map of a gripper or motor file.")
      .def_readonly("key", &GripperSection::key)
      .def_readonly("motor", &GripperSection::motor)
      .def_readonly("reading", &GripperSection::reading);

  py::class_<GripperFileReading>(module, "GripperFileReading", "A gripper file or a motor file, read.")
      .def_readonly("sections", &GripperFileReading::sections)
      .def_readonly("root", &GripperFileReading::root, "The root keys no gripper reads, and duplicates.");

  py::enum_<DescriptionKind> kind(module, "DescriptionKind", "What a description describes.");
  kind.value("LIFTER", DescriptionKind::kLifter)
      .value("GRIPPER_FILE", DescriptionKind::kGripperFile)
      .value("MOTOR_FILE", DescriptionKind::kMotorFile)
      .value("PARAMETER_MAP", DescriptionKind::kParameterMap);
  NameAs(kind, &KindName);

  py::class_<KindEvidence>(module, "KindEvidence", "A kind of description, and the keys that tell it.")
      .def_readonly("kind", &KindEvidence::kind)
      .def_readonly("evidence", &KindEvidence::evidence);
}

}  // namespace

void BindDescriptions(py::module_& module) {
  BindAccounts(module);
  BindSettings(module);
  BindReadings(module);
  // Readers never throw for a bad description and never wait.
  module.def("read_lifter_description", &ReadLifterDescription, py::arg("node"));
  module.def("read_motor_description", &ReadMotorDescription, py::arg("node"));
  module.def(
      "read_gripper_parameters", [](const YAML::Node& node) { return ReadGripperParameters(node); }, py::arg("node"));
  module.def("read_gripper_file", &ReadGripperFile, py::arg("node"));
  module.def("read_motor_file", &ReadMotorFile, py::arg("node"));
  module.def("tell_description_kind", &TellDescriptionKind, py::arg("node"));
}

}  // namespace vorn_io::python
