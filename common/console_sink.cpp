#include <unistd.h>

#include "common/log_sinks.h"

namespace quorvane::detail {
namespace {

class ConsoleSink final : public BoundedSink {
 protected:
  Offer PutLocked(const spdlog::details::log_msg& msg, StallBudget& budget, bool wait) override {
    formatted_.clear();
    formatter_->format(msg, formatted_);
    return output_.Write(formatted_.data(), formatted_.size(), budget, wait);
  }

 private:
  BoundedOutput output_{STDOUT_FILENO};
  spdlog::memory_buf_t formatted_;
};

}  // namespace

std::shared_ptr<spdlog::sinks::sink> MakeConsoleSink() { return std::make_shared<ConsoleSink>(); }

}  // namespace quorvane::detail
