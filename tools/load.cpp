#include "tools/load.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <system_error>
#include <utility>

#include <fmt/format.h>

#include "vorn_io/config_keys.h"

namespace vorn_io::tool {
namespace {

namespace gripper_keys = vorn_io::keys::gripper;

std::string KeyText(const YAML::Node& key) { return key.IsScalar() ? key.Scalar() : std::string("<non-scalar key>"); }

/// The number of a "feetechmotor<N>" key, written as the library writes it:
/// unsigned decimal without leading zeros.
std::optional<unsigned> SectionNumber(const std::string& key) {
  const std::string prefix = gripper_keys::kMotorSectionPrefix;
  if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) {
    return std::nullopt;
  }
  const std::string digits = key.substr(prefix.size());
  if (digits.size() > 1 && digits[0] == '0') {
    return std::nullopt;
  }
  unsigned long long number = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    number = number * 10 + static_cast<unsigned>(c - '0');
    if (number > std::numeric_limits<unsigned>::max()) {
      return std::nullopt;
    }
  }
  return static_cast<unsigned>(number);
}

std::string SectionKey(unsigned motor) {
  return std::string(gripper_keys::kMotorSectionPrefix) + std::to_string(motor);
}

bool HasKey(const YAML::Node& root, const char* key) { return root.IsMap() && root[key]; }

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

Target MakeTarget(Kind kind, Layout layout, const YAML::Node& node, std::string where, unsigned motor = 0) {
  return Target{kind, layout, node, std::move(where), motor};
}

std::string ListSections(const std::vector<unsigned>& sections) {
  std::string list;
  for (const unsigned number : sections) {
    list += (list.empty() ? "" : ", ") + std::to_string(number);
  }
  return list.empty() ? std::string("none") : list;
}

std::string SectionsText(const std::vector<unsigned>& sections) {
  std::string list;
  for (const unsigned number : sections) {
    list += (list.empty() ? "" : ", ") + SectionKey(number);
  }
  return (sections.size() == 1 ? "section " : "sections ") + list;
}

Kind DetectKind(const YAML::Node& root, const std::string& path, const Selector& selector) {
  if (selector.kind) {
    return *selector.kind;
  }
  if (selector.motor) {
    return Kind::kGripper;
  }
  if (selector.node_path) {
    return Kind::kLifter;
  }
  if (const std::optional<KindReading> reading = ReadKind(root, path, selector)) {
    return reading->kind;
  }
  throw ConfigError(
      fmt::format("{}: cannot tell what device this describes (no \"vendor\" key for a lifter, no \"gripper\" key or "
                  "\"feetechmotor<N>\" section for a gripper); say which with --as lifter|gripper",
                  path));
}

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

/// Closes the descriptor it holds when it goes.
class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() { close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  OpenFile(OpenFile&&) = delete;
  OpenFile& operator=(OpenFile&&) = delete;
  [[nodiscard]] int fd() const { return fd_; }

 private:
  int fd_;
};

/// Reads what `fd` gives until its end.
std::string ReadAll(int fd, const std::string& path) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      return text;
    } else if (errno != EINTR) {
      throw ConfigError(fmt::format("{}: cannot be read: {}", path, ErrnoText()));
    }
  }
}

}  // namespace

YAML::Node LoadYamlFile(const std::string& path) {
  // Opened and read once: a FIFO or a process substitution (`<(cat file)`)
  // gives its text to one reader only, and the device is built from this one.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw ConfigError(errno == EACCES ? fmt::format("{}: cannot be read: {}", path, ErrnoText())
                                      : fmt::format("{}: {}", path, ErrnoText()));
  }
  const OpenFile file(fd);
  struct stat info {};
  if (fstat(file.fd(), &info) == 0 && S_ISDIR(info.st_mode)) {
    throw ConfigError(fmt::format("{}: is a directory, not a YAML file", path));
  }
  const std::string text = ReadAll(file.fd(), path);
  try {
    return YAML::Load(text);
  } catch (const YAML::Exception& error) {
    throw ConfigError(fmt::format("{}: {}", path, error.what()));
  }
}

std::optional<KindReading> ReadKind(const YAML::Node& root, const std::string& path, const Selector& selector) {
  if (selector.node_path) {
    // The map under --node is the device's own: a gripper's parameter map
    // has no marker of its own, a lifter's has its motor's vendor.
    if (HasKey(FollowPath(root, *selector.node_path, 0, path), vorn_io::keys::motor::kVendor.name)) {
      return KindReading{Kind::kLifter, fmt::format("a \"{}\" key", vorn_io::keys::motor::kVendor.name)};
    }
    return std::nullopt;
  }
  if (HasKey(root, gripper_keys::kGripperFileRoot)) {
    return KindReading{Kind::kGripper, fmt::format("a root key \"{}\"", gripper_keys::kGripperFileRoot)};
  }
  if (const std::vector<unsigned> sections = MotorSections(root); !sections.empty()) {
    return KindReading{Kind::kGripper, SectionsText(sections)};
  }
  if (HasKey(root, vorn_io::keys::motor::kVendor.name)) {
    return KindReading{Kind::kLifter, fmt::format("a \"{}\" key", vorn_io::keys::motor::kVendor.name)};
  }
  return std::nullopt;
}

std::vector<unsigned> MotorSections(const YAML::Node& root) {
  std::vector<unsigned> sections;
  if (!root.IsMap()) {
    return sections;
  }
  for (const auto& entry : root) {
    if (const auto number = SectionNumber(KeyText(entry.first))) {
      sections.push_back(*number);
    }
  }
  return sections;
}

std::vector<Target> SelectTargets(const YAML::Node& root, const std::string& path, const Selector& selector) {
  const Kind kind = DetectKind(root, path, selector);
  if (selector.node_path) {
    return {MakeTarget(kind, kind == Kind::kLifter ? Layout::kLifterMap : Layout::kParameterMap,
                       FollowPath(root, *selector.node_path, 0, path), "key " + *selector.node_path)};
  }
  if (kind == Kind::kLifter) {
    return {MakeTarget(kind, Layout::kLifterMap, root, "root map")};
  }
  const std::vector<unsigned> sections = MotorSections(root);
  if (selector.motor) {
    const std::string key = SectionKey(*selector.motor);
    if (!HasKey(root, key.c_str())) {
      throw ConfigError(
          fmt::format("{}: no section {} (motor sections in the file: {})", path, key, ListSections(sections)));
    }
    return {MakeTarget(kind, Layout::kMotorFile, root[key], "section " + key, *selector.motor)};
  }
  if (HasKey(root, gripper_keys::kGripperFileRoot)) {
    return {MakeTarget(kind, Layout::kGripperFile, root[gripper_keys::kGripperFileRoot],
                       std::string("key ") + gripper_keys::kGripperFileRoot)};
  }
  if (!sections.empty()) {
    std::vector<Target> targets;
    targets.reserve(sections.size());
    for (const unsigned number : sections) {
      targets.push_back(
          MakeTarget(kind, Layout::kMotorFile, root[SectionKey(number)], "section " + SectionKey(number), number));
    }
    return targets;
  }
  return {MakeTarget(kind, Layout::kParameterMap, root, "root map")};
}

std::vector<Target> SelectTargetsFor(Kind kind, const YAML::Node& root, const std::string& path,
                                     const Selector& selector) {
  if (!selector.kind) {
    if (const std::optional<KindReading> reading = ReadKind(root, path, selector); reading && reading->kind != kind) {
      throw ConfigError(fmt::format(
          "{}: looks like a {} description ({}), not a {} one; add --as {} to build a {} "
          "from it all the same",
          path, KindName(reading->kind), reading->evidence, KindName(kind), KindName(kind), KindName(kind)));
    }
  }
  Selector as_kind = selector;
  as_kind.kind = kind;
  return SelectTargets(root, path, as_kind);
}

std::vector<std::string> StrayRootKeys(const YAML::Node& root, const std::vector<Target>& targets) {
  std::vector<std::string> stray;
  if (targets.empty() || !root.IsMap()) {
    return stray;
  }
  const Layout layout = targets.front().layout;
  if (layout != Layout::kGripperFile && layout != Layout::kMotorFile) {
    return stray;
  }
  for (const auto& entry : root) {
    const std::string key = KeyText(entry.first);
    const bool read =
        layout == Layout::kGripperFile ? key == gripper_keys::kGripperFileRoot : SectionNumber(key).has_value();
    if (!read) {
      stray.push_back(key);
    }
  }
  return stray;
}

const char* KindName(Kind kind) { return kind == Kind::kLifter ? "lifter" : "gripper"; }

}  // namespace vorn_io::tool
