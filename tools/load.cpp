#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "tools/commands.h"

namespace vorn_io::tool {
namespace {

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

/// Reads what `fd` gives until its end, or one byte more than `limit`; false,
/// with errno set, if it fails.
bool ReadAll(int fd, std::string& text, std::size_t limit) {
  char buffer[65536];
  while (text.size() <= limit) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

std::string ReadOnce(const std::string& path, const std::string& name) {
  std::string text;
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw ConfigError(errno == EACCES ? fmt::format("{}: cannot be read: {}", name, ErrnoText())
                                      : fmt::format("{}: {}", name, ErrnoText()));
  }
  struct stat info {};
  const bool directory = fstat(fd, &info) == 0 && S_ISDIR(info.st_mode);
  const bool read = !directory && ReadAll(fd, text, kMaxDescriptionBytes);
  const std::string failure = read ? std::string() : ErrnoText();
  if (fd != STDIN_FILENO) {
    close(fd);
  }
  if (directory) {
    throw ConfigError(fmt::format("{}: is a directory, not a YAML file", name));
  }
  if (!read) {
    throw ConfigError(fmt::format("{}: cannot be read: {}", name, failure));
  }
  if (text.size() > kMaxDescriptionBytes) {
    throw ConfigError(
        fmt::format("{}: larger than {} MiB, more than any description; not read", name, kMaxDescriptionBytes >> 20U));
  }
  return text;
}

// Nodes are handles: assigning one to another would overwrite the document,
// so every step takes a fresh copy of the handle instead.
YAML::Node FollowPath(const YAML::Node& node, const std::string& path, std::size_t begin, const std::string& file) {
  const std::size_t end = std::min(path.find('/', begin), path.size());
  const std::string key = path.substr(begin, end - begin);
  if (!node.IsMap() || !node[key]) {
    throw ConfigError(fmt::format("{}: no key \"{}\" (from --node {})", file, key, path));
  }
  const YAML::Node child = node[key];
  return end == path.size() ? child : FollowPath(child, path, end + 1, file);
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
  if (told) {
    return told->kind;
  }
  throw ConfigError(fmt::format(
      "{}: cannot tell what device this describes from its keys; say which with --as lifter|gripper", name));
}

}  // namespace

std::string FileName(const std::string& path) { return path == "-" ? std::string("<stdin>") : path; }

DescriptionFile LoadDescription(const std::string& path) {
  // Read once: a FIFO, a process substitution (`<(cat file)`) or standard
  // input gives its text to one reader only, and the device is built from it.
  DescriptionFile file{FileName(path), {}, {}};
  const std::string text = ReadOnce(path, file.name);
  try {
    const std::vector<YAML::Node> documents = YAML::LoadAll(text);
    if (!documents.empty()) {
      file.root = documents.front();
    }
    if (documents.size() > 1) {
      const YAML::Mark mark = documents[1].Mark();
      file.findings.keys.push_back(KeyAccount{
          "---",
          {},
          KeyOrigin::kUnknown,
          mark.is_null() ? std::nullopt : std::optional<TextPosition>(TextPosition{mark.line + 1, mark.column + 1}),
          fmt::format("a second YAML document ({} in the file): the devices read the first only", documents.size())});
    }
  } catch (const YAML::Exception& error) {
    throw ConfigError(fmt::format("{}: {}", file.name, error.what()));
  }
  return file;
}

DescriptionAccount Noted(const DescriptionFile& file, DescriptionAccount account) {
  account.keys.insert(account.keys.end(), file.findings.keys.begin(), file.findings.keys.end());
  return account;
}

Selection Select(const DescriptionFile& file, const Selector& selector, std::optional<Device> building) {
  Selection selection;
  selection.node = selector.node_path ? FollowPath(file.root, *selector.node_path, 0, file.name) : file.root;
  selection.where = selector.node_path ? "key " + *selector.node_path : std::string("root map");
  selection.kind = ResolveKind(selection.node, selector, building, file.name);
  selection.motor = selector.motor;
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
