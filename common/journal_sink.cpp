#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "common/log_sinks.h"

namespace quorvane::detail {
namespace {

constexpr const char kJournalSocket[] = "/run/systemd/journal/socket";
// As libsystemd asks for: room for many entries before the journal reads.
constexpr int kSendBuffer = 8 * 1024 * 1024;

// spdlog's journal sink maps levels to syslog's priorities so (numbers
// rather than <syslog.h>, whose LOG_INFO is the library's own macro).
int Priority(spdlog::level::level_enum level) {
  switch (level) {
    case spdlog::level::trace:
    case spdlog::level::debug:
      return 7;
    case spdlog::level::warn:
      return 4;
    case spdlog::level::err:
      return 3;
    case spdlog::level::critical:
      return 2;
    default:
      return 6;
  }
}

// One field of an entry. sd_journal_send() formats each field with printf
// ("%.*s" ends at a NUL) and drops trailing whitespace from it; entries come
// out the same here. A value with a newline goes in the protocol's binary
// form: the name, "\n", the length as 64-bit little endian, the value.
void AppendField(std::string& entry, const char* name, spdlog::string_view_t value) {
  const char* nul = std::char_traits<char>::find(value.data(), value.size(), '\0');
  std::size_t size = nul == nullptr ? value.size() : static_cast<std::size_t>(nul - value.data());
  while (size > 0 && std::strchr(" \t\n\r", value.data()[size - 1]) != nullptr) {
    --size;
  }
  const bool multiline = std::char_traits<char>::find(value.data(), size, '\n') != nullptr;
  entry += name;
  if (multiline) {
    entry += '\n';
    auto length = static_cast<std::uint64_t>(size);
    for (int byte = 0; byte < 8; ++byte) {
      entry += static_cast<char>(length & 0xffU);
      length >>= 8U;
    }
  } else {
    entry += '=';
  }
  entry.append(value.data(), size);
  entry += '\n';
}

class JournalSink final : public BoundedSink {
 public:
  JournalSink() : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
    if (fd_ < 0) {
      spdlog::throw_spdlog_ex("Failed to open a journal socket", errno);
    }
    (void)setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
  }
  ~JournalSink() override { close(fd_); }

  JournalSink(const JournalSink&) = delete;
  JournalSink& operator=(const JournalSink&) = delete;
  JournalSink(JournalSink&&) = delete;
  JournalSink& operator=(JournalSink&&) = delete;

 protected:
  Offer PutLocked(const spdlog::details::log_msg& msg, StallBudget& budget, bool wait) override {
    Compose(msg);
    // A second round after the journal went away and came back (restarted):
    // the socket is connected anew.
    for (int round = 0; round < 2; ++round) {
      if (!connected_ && !Connect()) {
        if (errno == ENOENT) {
          return Offer::kFailed;  // no journal here: dropped quietly, as libsystemd does
        }
        break;
      }
      for (;;) {
        if (send(fd_, entry_.data(), entry_.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
          return Offer::kWritten;
        }
        if (errno == EINTR) {
          continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
          if (wait && AwaitRoom(fd_, budget.Deadline())) {
            continue;
          }
          return Offer::kRefused;
        }
        break;
      }
      if (errno != ECONNREFUSED && errno != ENOTCONN && errno != ECONNRESET) {
        break;
      }
      connected_ = false;
    }
    spdlog::throw_spdlog_ex("Failed writing to systemd", errno);
  }

 private:
  bool Connect() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kJournalSocket, sizeof kJournalSocket);
    connected_ = connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    return connected_;
  }

  void Compose(const spdlog::details::log_msg& msg) {
    entry_.clear();
    AppendField(entry_, "MESSAGE", msg.payload);
    AppendField(entry_, "PRIORITY", std::to_string(Priority(msg.level)));
    AppendField(entry_, "SYSLOG_IDENTIFIER", msg.logger_name);
    if (!msg.source.empty()) {
      AppendField(entry_, "CODE_FILE", msg.source.filename);
      AppendField(entry_, "CODE_LINE", std::to_string(msg.source.line));
      AppendField(entry_, "CODE_FUNC", msg.source.funcname);
    }
  }

  int fd_;
  bool connected_ = false;
  std::string entry_;
};

}  // namespace

std::shared_ptr<spdlog::sinks::sink> MakeJournalSink() { return std::make_shared<JournalSink>(); }

}  // namespace quorvane::detail
