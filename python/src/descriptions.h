#pragma once

#include <pybind11/pybind11.h>

namespace vorn_io::python {

/// The description readers, the kind detection and their accounts.
void BindDescriptions(pybind11::module_& module);

}  // namespace vorn_io::python
