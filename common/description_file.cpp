#include "vorn_io/description_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include <fmt/format.h>

namespace vorn_io {
namespace {

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

/// The file's text, or why there is none.
std::string ReadOnce(const std::string& path, std::string& failure, int& system_error) {
  const int fd = path == "-" ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    system_error = errno;
    failure = (errno == EACCES ? "cannot be read: " : "") + ErrnoText(errno);
    return {};
  }
  std::string text;
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    failure = "is a directory, not a YAML file";
  }
  // One byte past the bound tells a file that is too large.
  char buffer[65536];
  for (ssize_t count = 1; failure.empty() && count != 0 && text.size() <= kMaxDescriptionBytes;) {
    count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      text.append(buffer, static_cast<std::size_t>(count));
    } else if (count < 0 && errno != EINTR) {
      system_error = errno;
      failure = "cannot be read: " + ErrnoText(errno);
    }
  }
  if (fd != STDIN_FILENO) {
    close(fd);
  }
  if (failure.empty() && text.size() > kMaxDescriptionBytes) {
    failure = fmt::format("larger than {} MiB, more than any description; not read", kMaxDescriptionBytes >> 20U);
  }
  return text;
}

}  // namespace

DescriptionFile ParseDescription(const std::string& text, const std::string& name) {
  DescriptionFile file{name, {}, {}, 0, {}};
  std::vector<YAML::Node> documents;
  try {
    documents = YAML::LoadAll(text);
  } catch (const YAML::Exception& error) {
    file.error = fmt::format("{}: {}", name, error.what());
    return file;
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

DescriptionFile ReadDescriptionFile(const std::string& path) {
  const std::string name = path == "-" ? std::string("<stdin>") : path;
  std::string failure;
  int system_error = 0;
  const std::string text = ReadOnce(path, failure, system_error);
  if (!failure.empty()) {
    return DescriptionFile{name, {}, name + ": " + failure, system_error, {}};
  }
  return ParseDescription(text, name);
}

std::optional<YAML::Node> SelectNode(const YAML::Node& root, std::string_view path, std::string* missing_key) {
  YAML::Node node = root;
  for (std::size_t begin = 0;;) {
    const std::size_t end = std::min(path.find('/', begin), path.size());
    const std::string key(path.substr(begin, end - begin));
    const YAML::Node parent = node;  // looked up as const: nothing is added to it
    if (!parent.IsMap() || !parent[key]) {
      if (missing_key != nullptr) {
        *missing_key = key;
      }
      return std::nullopt;
    }
    // Nodes are handles: assigned, one would overwrite the document; reset() rebinds it.
    node.reset(parent[key]);
    if (end == path.size()) {
      return node;
    }
    begin = end + 1;
  }
}

}  // namespace vorn_io
