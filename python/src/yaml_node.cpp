#include "src/yaml_node.h"

#include <cmath>

#include <fmt/format.h>

#include "src/errors.h"

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
  try {
    return YAML::Load(text);
  } catch (const YAML::Exception& error) {
    throw DescriptionError(fmt::format("{}: {}", name, error.what()));
  }
}

YAML::Node SelectNode(const YAML::Node& root, const std::string& path, const std::string& name) {
  // Nodes are handles: assigning one to another would overwrite the
  // document, so each step takes a fresh handle.
  YAML::Node node = root;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    const std::string key = path.substr(begin, end - begin);
    if (!node.IsMap() || !node[key]) {
      throw DescriptionError(fmt::format("{}: no key \"{}\" (from node \"{}\")", name, key, path));
    }
    YAML::Node child = node[key];
    node.reset(child);
    if (end == path.size()) {
      return node;
    }
    begin = end + 1;
  }
}

void BindNode(py::module_& module) {
  py::class_<YAML::Node>(module, "Node", "A YAML node, as the library reads descriptions from it.")
      .def_static("from_object", &NodeFromObject, py::arg("value"), "The node of a dict, list or scalar.")
      .def_static("from_text", &NodeFromText, py::arg("text"), py::arg("name"),
                  "Parses YAML text; `name` starts the message of a syntax error.")
      .def("select", &SelectNode, py::arg("path"), py::arg("name"),
           "The map under `path`; nested keys separated by '/'.");
}

}  // namespace vorn_io::python
