#pragma once

#include <pybind11/pybind11.h>

namespace vorn_io::python {

/// The devices: `Lifter`, `ServoGripper` and `VirtualGripper` of the
/// extension, which the package's classes of the same names wrap.
void BindDevices(pybind11::module_& module);

}  // namespace vorn_io::python
