#pragma once

#include <optional>
#include <string>

#include "tools/load.h"

namespace vorn_io::tool {

/// What `vorn-io lifter` and `vorn-io gripper` are asked to do.
struct MoveRequest {
  std::string file;
  Selector selector;
  std::optional<int> to;       ///< the commanded state; the gripper may go without
  std::optional<int> initial;  ///< lifter only: the state it is declared to start in
  std::optional<double> timeout_seconds;
  bool show_progress = true;  ///< off with --quiet or --no-progress
};

/// Builds a lifter, moves it and waits for the move to end. Returns an exit code.
int RunLifter(const MoveRequest& request);

/// Builds a servo gripper, commands it (or not) and waits for its motion to
/// settle. Returns an exit code.
int RunGripper(const MoveRequest& request);

}  // namespace vorn_io::tool
