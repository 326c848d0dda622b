#include "src/errors.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <yaml-cpp/exceptions.h>

namespace py = pybind11;

namespace vorn_io::python {
namespace {

// The classes are defined in Python, where their documentation lives.
void Raise(const char* name, const char* message, const std::optional<DescriptionAccount>& account = std::nullopt) {
  const py::object type = py::module_::import("vorn_io._errors").attr(name);
  const py::object error = type(message);
  if (account) {
    error.attr("account") = py::cast(*account);
  }
  PyErr_SetObject(type.ptr(), error.ptr());
}

}  // namespace

void RegisterErrorTranslation() {
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      std::rethrow_exception(thrown);
    } catch (const DescriptionError& error) {
      Raise("DescriptionError", error.what(), error.account());
    } catch (const YAML::Exception& error) {
      Raise("DescriptionError", error.what());
    } catch (const MotorError& error) {
      Raise("MotorError", error.what());
    } catch (const ClosedError& error) {
      Raise("ClosedError", error.what());
    } catch (const RefusedError& error) {
      Raise("RefusedError", error.what());
    } catch (const MoveTimeoutError& error) {
      Raise("MoveTimeoutError", error.what());
    }
  });
}

}  // namespace vorn_io::python
