#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <yaml-cpp/yaml.h>

namespace vorn_io_fuzz {

/// Turns the logger's outputs off. Called from LLVMFuzzerInitialize, before
/// the first log line makes the logger read its environment.
void QuietLogger();

/// Stops when a harness meets a result the library documents as impossible:
/// a crash is what libFuzzer records.
void Require(bool condition, const char* what);

/// The input as text.
std::string Text(const std::uint8_t* data, std::size_t size);

/// Parses `text` the way a host does. False for text that yaml-cpp refuses.
bool Parse(const std::string& text, YAML::Node& node);

/// A file of this process that each input is written to, for the loaders
/// that read a path.
class ScratchFile {
 public:
  ScratchFile();
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  /// Replaces the file's content; returns its path.
  std::string Write(const std::string& text);

 private:
  std::string path_;
};

}  // namespace vorn_io_fuzz
