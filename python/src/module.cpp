// The compiled part of the Python package vorn_io. The package's own modules
// give it its Python shape; this one binds the library.
#include <pybind11/pybind11.h>

#include "src/descriptions.h"
#include "src/devices.h"
#include "src/errors.h"
#include "src/log_bridge.h"
#include "src/yaml_node.h"
#include "vorn_io/pid.h"
#include "vorn_io/version.h"

namespace py = pybind11;

PYBIND11_MODULE(_vorn_io, module) {
  module.doc() = "The compiled part of vorn_io; use the package vorn_io.";
  vorn_io::python::RegisterErrorTranslation();
  vorn_io::python::BindNode(module);
  vorn_io::python::BindDescriptions(module);
  vorn_io::python::BindDevices(module);
  vorn_io::python::BindLogBridge(module);

  module.def("version", &get_version_str,
             "The library's version line: \"vorn_io version: 1.0.0.<rev>, compile time: <date> <time>\".");

  py::class_<Pid>(module, "Pid",
                  "A discrete PID controller in incremental form. Note the order of the limits: upper first.")
      .def(py::init<double, double, double, double, double>(), py::arg("kp"), py::arg("ki"), py::arg("kd"),
           py::arg("out_max"), py::arg("out_min"))
      .def("calc", &Pid::PidCalc, py::arg("error"), py::arg("sample_time"),
           "One step (PidCalc): the running output limited to [out_min, out_max]. A zero or non-finite sample "
           "time or error is rejected with an error line: 0.0, and nothing changes.")
      .def("update_parameters", &Pid::UpdatePidParameters, py::arg("kp"), py::arg("ki"), py::arg("kd"),
           "Replaces the gains (UpdatePidParameters); the history and the running output stay.");
}
