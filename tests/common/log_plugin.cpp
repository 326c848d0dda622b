// A separately built module that logs through the logger header, as a host's
// own plugin would. It is loaded with dlopen() by the plugin test.

#include "vorn_io/logger.h"

extern "C" {

__attribute__((visibility("default"))) void vorn_io_test_plugin_log(int count) {
  for (int k = 1; k <= count; ++k) {
    LOG_INFO("plugin line {}", k);
  }
}

__attribute__((visibility("default"))) const void* vorn_io_test_plugin_logger() {
  return &quorvane::Logger::Instance();
}

}  // extern "C"
