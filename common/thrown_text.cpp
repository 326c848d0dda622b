#include "common/thrown_text.h"

#include <exception>

namespace vorn_io::detail {

std::string ThrownText() {
  try {
    throw;
  } catch (const std::exception& error) {
    return std::string("threw: ") + error.what();
  } catch (...) {
    return "threw";
  }
}

}  // namespace vorn_io::detail
