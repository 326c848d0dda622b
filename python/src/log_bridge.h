#pragma once

#include <pybind11/pybind11.h>

#include <string_view>

#include "vorn_io/logger.h"

// The library's log lines into Python's logging: a listener takes every line
// and a thread of the module's own hands them to a Python function. A log
// call only copies its line into the listener's buffer; the interpreter's
// lock is taken by that thread alone, never inside a log call or a tick.
namespace vorn_io::python {

void BindLogBridge(pybind11::module_& module);

/// A line's message without the line end most messages carry ("\r\n").
std::string_view MessageText(const quorvane::LogLine& line);

}  // namespace vorn_io::python
