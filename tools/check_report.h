#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/exit_codes.h"
#include "vorn_io/description.h"

// What `vorn-io check` found, before it is printed as lines or as JSON.
namespace vorn_io::tool {

/// Ordered: the worst of several is the greatest, and it is the exit code.
enum class Result { kClean = kDone, kFlagged = kRefused, kError = kBadConfig };

/// "clean", "flagged", "error".
const char* ResultName(Result result);

/// The lifter's move, as long as it takes.
struct Move {
  unsigned long long ticks = 0;
  double period_ms = 0.0;
  double seconds = 0.0;
};

struct CheckedDescription {
  std::string kind;    ///< "lifter", "gripper file", ...
  std::string where;   ///< "root map", "key gripper", "section feetechmotor1", "file root"
  std::string device;  ///< "lifter with a damiao motor", "gripper", ...
  DescriptionAccount account;
  std::optional<Move> move;
  Result result = Result::kClean;
};

struct CheckedFile {
  std::string name;
  std::string error;  ///< why it could not be read; then it holds no description
  std::vector<CheckedDescription> descriptions;
  Result result = Result::kClean;
};

/// The whole check as one JSON document, with a final newline.
std::string JsonReport(const std::vector<CheckedFile>& files, Result overall);

}  // namespace vorn_io::tool
