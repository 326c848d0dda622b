#pragma once

#include <string>
#include <vector>

#include "child_process.h"

namespace vorn_io_test {

/// In the child, between fork and exec: gives it the journal `journal` asks
/// for, its reader copying to `copy_fd`; false if that cannot be set up.
bool EnterJournalNamespace(ChildOptions::Journal journal, int copy_fd, int late_ms);

/// The datagrams of what the reader copied.
std::vector<std::string> Datagrams(const std::string& copied);

}  // namespace vorn_io_test
