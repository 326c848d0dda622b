// A host's smallest use of the library, compiled by ./scripts/bench to show
// what including the library costs a host's build.
#include <vorn_io/vorn_io.h>

int main() {
  LOG_INFO("host started, version {}\r\n", get_version_str());
  return 0;
}
