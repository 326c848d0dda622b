#pragma once

#include <string>

#include <pybind11/pybind11.h>
#include <yaml-cpp/yaml.h>

// Descriptions from Python: a dict (or list) becomes the node a host would
// build in code, YAML text the node yaml-cpp parses, with its positions.
namespace vorn_io::python {

/// The node of a Python value: a mapping becomes a map, a list or tuple a
/// sequence, None a null, and a bool, int, float or str the scalar YAML
/// writes for it ("true", "12", "0.5", ".nan"). Anything else is a TypeError.
YAML::Node NodeFromObject(pybind11::handle value);

/// Parses `text`; a syntax error becomes a DescriptionError that starts with `name`.
YAML::Node NodeFromText(const std::string& text, const std::string& name);

/// Reads the file at `path` as the library's readers do; a DescriptionError says why it cannot be used.
YAML::Node NodeFromFile(const std::string& path);

/// The map under `path` ("lifter", or "robot/lifter" for nested keys); a
/// DescriptionError names the key that is missing.
YAML::Node NodeUnder(const YAML::Node& root, const std::string& path, const std::string& name);

void BindNode(pybind11::module_& module);

}  // namespace vorn_io::python
