#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace vorn_io_fuzz {

void QuietLogger() {
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
}

void Require(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "vorn_io fuzz finding: %s\n", what);
    std::abort();
  }
}

std::string Text(const std::uint8_t* data, std::size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

bool Parse(const std::string& text, YAML::Node& node) {
  try {
    node = YAML::Load(text);
    return true;
  } catch (const YAML::Exception&) {
    return false;
  }
}

ScratchFile::ScratchFile() {
  std::string pattern = "/tmp/vorn_io_fuzz_XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) {
    throw std::runtime_error("mkstemp failed");
  }
  close(fd);
  path_ = name.data();
}

ScratchFile::~ScratchFile() { unlink(path_.c_str()); }

std::string ScratchFile::Write(const std::string& text) {
  std::ofstream file(path_, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  Require(!file.fail(), "cannot write the scratch file");
  return path_;
}

}  // namespace vorn_io_fuzz
