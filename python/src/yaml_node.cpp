#include "src/yaml_node.h"

#include <cerrno>
#include <cmath>
#include <optional>

#include <fmt/format.h>

#include "src/errors.h"
#include "vorn_io/description_file.h"

namespace py = pybind11;

namespace vorn_io::python {
namespace {

// YAML's spellings of the values Python writes as "nan" and "inf", which
// yaml-cpp would not convert to a number.
std::string FloatText(double value) {
  if (std::isnan(value)) {
    return ".nan";
  }
  if (std::isinf(value)) {
    return value > 0 ? ".inf" : "-.inf";
  }
  return py::repr(py::float_(value));
}

std::string ScalarText(py::handle value) {
  // bool before int: True is an int to Python.
  if (py::isinstance<py::bool_>(value)) {
    return value.cast<bool>() ? "true" : "false";
  }
  if (py::isinstance<py::int_>(value)) {
    return py::str(value);
  }
  if (py::isinstance<py::float_>(value)) {
    return FloatText(value.cast<double>());
  }
  if (py::isinstance<py::str>(value)) {
    return value.cast<std::string>();
  }
  throw py::type_error(fmt::format("a description holds dicts, lists, str, int, float, bool and None, not {}",
                                   py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>()));
}

/// The file's first document; a file that cannot be used is a DescriptionError.
YAML::Node Usable(const DescriptionFile& file) {
  if (file.systemError != 0) {
    // As Python's open() says it: FileNotFoundError, PermissionError, ...
    errno = file.systemError;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, file.name.c_str());
    throw py::error_already_set();
  }
  if (!file.error.empty()) {
    throw DescriptionError(file.error);
  }
  return file.root;
}

}  // namespace

YAML::Node NodeFromObject(py::handle value) {
  if (value.is_none()) {
    return YAML::Node(YAML::NodeType::Null);
  }
  if (py::isinstance<py::dict>(value) || py::hasattr(value, "keys")) {
    YAML::Node map(YAML::NodeType::Map);
    for (const py::handle key : value.attr("keys")()) {
      map[ScalarText(key)] = NodeFromObject(value[key]);
    }
    return map;
  }
  if (py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value)) {
    YAML::Node sequence(YAML::NodeType::Sequence);
    for (const py::handle item : value) {
      sequence.push_back(NodeFromObject(item));
    }
    return sequence;
  }
  return YAML::Node(ScalarText(value));
}

YAML::Node NodeFromText(const std::string& text, const std::string& name) {
  return Usable(ParseDescription(text, name));
}

YAML::Node NodeFromFile(const std::string& path) { return Usable(ReadDescriptionFile(path)); }

YAML::Node NodeUnder(const YAML::Node& root, const std::string& path, const std::string& name) {
  std::string missing;
  std::optional<YAML::Node> node = SelectNode(root, path, &missing);
  if (!node) {
    throw DescriptionError(fmt::format("{}: no key \"{}\" (from node \"{}\")", name, missing, path));
  }
  return *node;
}

void BindNode(py::module_& module) {
  py::class_<YAML::Node>(module, "Node", "A YAML node, as the library reads descriptions from it.")
      .def_static("from_object", &NodeFromObject, py::arg("value"), "The node of a dict, list or scalar.")
      .def_static("from_text", &NodeFromText, py::arg("text"), py::arg("name"),
                  "Parses YAML text; `name` starts the message of a syntax error.")
      .def_static("from_file", &NodeFromFile, py::arg("path"),
                  "Reads a YAML file as every reader of the library does: once, and at most 4 MiB.")
      .def("select", &NodeUnder, py::arg("path"), py::arg("name"),
           "The map under `path`; nested keys separated by '/'.");
}

}  // namespace vorn_io::python
