// Reading a description file once, and selecting the description in it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <system_error>

#include <fmt/ranges.h>

#include "tools/commands.h"

namespace vorn_io::tool {
namespace {

// Larger than this, a file is no description (`check /dev/zero`): it is refused unread.
constexpr std::size_t kMaxDescriptionBytes = std::size_t{4} << 20U;

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

std::string ReadOnce(const std::string& path, const std::string& name) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw ConfigError(fmt::format(errno == EACCES ? "{}: cannot be read: {}" : "{}: {}", name, ErrnoText()));
  }
  std::string text;
  std::string failure;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    failure = "is a directory, not a YAML file";
  }
  char buffer[65536];
  for (ssize_t count = 1; failure.empty() && count != 0 && text.size() <= kMaxDescriptionBytes;) {
    count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    } else if (count < 0 && errno != EINTR) {
      failure = "cannot be read: " + ErrnoText();
    }
  }
  if (fd != STDIN_FILENO) {
    close(fd);
  }
  if (failure.empty() && text.size() > kMaxDescriptionBytes) {
    failure = fmt::format("larger than {} MiB, more than any description; not read", kMaxDescriptionBytes >> 20U);
  }
  if (!failure.empty()) {
    throw ConfigError(name + ": " + failure);
  }
  return text;
}

Device DeviceOf(DescriptionKind kind) { return kind == DescriptionKind::kLifter ? Device::kLifter : Device::kGripper; }

const char* DeviceName(Device device) { return device == Device::kLifter ? "lifter" : "gripper"; }

DescriptionKind ResolveKind(const YAML::Node& node, const Selector& selector, std::optional<Device> building,
                            const std::string& name) {
  const std::optional<KindEvidence> told = TellDescriptionKind(node);
  if (building && !selector.as && told && DeviceOf(told->kind) != *building) {
    const char* wanted = DeviceName(*building);
    throw ConfigError(fmt::format(
        "{}: looks like a {} description ({}), not a {} one; add --as {} to build a {} from it all the same", name,
        DeviceName(DeviceOf(told->kind)), told->evidence, wanted, wanted, wanted));
  }
  const std::optional<Device> device = selector.as ? selector.as : building;
  if (device == Device::kLifter) {
    return DescriptionKind::kLifter;
  }
  if (selector.motor) {
    return DescriptionKind::kMotorFile;
  }
  if (device == Device::kGripper) {
    return told && DeviceOf(told->kind) == Device::kGripper ? told->kind : DescriptionKind::kParameterMap;
  }
  if (!told) {
    throw ConfigError(fmt::format(
        "{}: cannot tell what device this describes from its keys; say which with --as lifter|gripper", name));
  }
  return told->kind;
}

}  // namespace

DescriptionFile LoadDescription(const std::string& path) {
  // Read once: a FIFO, a process substitution (`<(cat file)`) or standard
  // input gives its text to one reader only, and the device is built from it.
  DescriptionFile file{FileName(path), {}, {}};
  const std::string text = ReadOnce(path, file.name);
  std::vector<YAML::Node> documents;
  try {
    documents = YAML::LoadAll(text);
  } catch (const YAML::Exception& error) {
    throw ConfigError(fmt::format("{}: {}", file.name, error.what()));
  }
  file.root = documents.empty() ? YAML::Node() : documents.front();
  if (documents.size() > 1) {
    const YAML::Mark mark = documents[1].Mark();
    file.findings.keys.push_back(KeyAccount{
        "---",
        {},
        KeyOrigin::kUnknown,
        mark.is_null() ? std::nullopt : std::optional<TextPosition>({mark.line + 1, mark.column + 1}),
        fmt::format("a second YAML document ({} in the file): the devices read the first only", documents.size())});
  }
  return file;
}

DescriptionAccount Noted(const DescriptionFile& file, DescriptionAccount account) {
  account.keys.insert(account.keys.end(), file.findings.keys.begin(), file.findings.keys.end());
  return account;
}

Selection Select(const DescriptionFile& file, const Selector& selector, std::optional<Device> building) {
  Selection selection{DescriptionKind::kLifter, file.root, "root map", selector.motor};
  if (selector.node_path) {
    selection.where = "key " + *selector.node_path;
    std::istringstream steps(*selector.node_path);
    for (std::string key; std::getline(steps, key, '/');) {
      const YAML::Node parent = selection.node;  // looked up as const: nothing is added to it
      if (!parent.IsMap() || !parent[key]) {
        throw ConfigError(fmt::format("{}: no key \"{}\" (from --node {})", file.name, key, *selector.node_path));
      }
      // Nodes are handles: assigned, one would overwrite the document; reset() rebinds it.
      selection.node.reset(parent[key]);
    }
  }
  selection.kind = ResolveKind(selection.node, selector, building, file.name);
  return selection;
}

GripperSelection ReadGripper(const Selection& selection, const std::string& file_name) {
  GripperSelection gripper = ReadGripperSelection(selection.node, selection.kind, selection.where, selection.motor);
  if (selection.motor && gripper.parts.empty()) {
    throw ConfigError(
        fmt::format("{}: no section {} (motor sections in the file: {})", file_name, MotorSectionKey(*selection.motor),
                    gripper.motors.empty() ? "none" : fmt::format("{}", fmt::join(gripper.motors, ", "))));
  }
  return gripper;
}

}  // namespace vorn_io::tool
