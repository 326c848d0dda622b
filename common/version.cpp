#include "vorn_io/version.h"

#include <cstddef>
#include <cstdio>
#include <mutex>

#include "vorn_io_revision.h"

namespace {

constexpr std::size_t kBufferSize = 128;

char g_buffer[kBufferSize];
const char* g_version = nullptr;
std::once_flag g_formatted;

}  // namespace

const char* get_version_str() {
  // Concurrent first callers wait here instead of formatting into the buffer
  // at the same time; later calls return the same pointer.
  std::call_once(g_formatted, [] {
    std::snprintf(g_buffer, kBufferSize, "%s version: %s.%s.%s.%s, compile time: %s %s", "vorn_io",
                  VORN_IO_VERSION_MAJOR, VORN_IO_VERSION_MINOR, VORN_IO_VERSION_PATCH, VORN_IO_REVISION, __DATE__,
                  __TIME__);
    g_version = g_buffer;
  });
  return g_version;
}
