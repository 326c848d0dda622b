#include "journal_namespace.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

namespace vorn_io_test {
namespace {

constexpr const char kJournalSocket[] = "/run/systemd/journal/socket";

// A datagram socket bound to the journal's path; -1 if that fails.
int BindJournalSocket() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, kJournalSocket, sizeof address.sun_path - 1);
  if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// Leaves a socket file behind that nothing is bound to any more.
bool PlantDeadSocket(const char* path) {
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  if (fd < 0) {
    return false;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return bound;
}

char journal_datagram[1 << 18];

void WriteFully(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = write(fd, data, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      _exit(1);
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
}

// The helper that plays the journal: copies each datagram to `copy_fd` as its
// length (native uint32) and its bytes, until the child has gone (`alive_fd`
// ends) and the socket is empty. Only system calls: it runs between fork and
// exec of a parent that may have threads.
[[noreturn]] void ReadJournal(int socket_fd, int alive_fd, int copy_fd, int late_ms, bool recreate) {
  if (late_ms > 0) {
    timespec late{late_ms / 1000, static_cast<long>(late_ms % 1000) * 1000000L};
    while (nanosleep(&late, &late) != 0 && errno == EINTR) {
    }
  }
  bool marked = false;
  bool child_gone = false;
  for (;;) {
    for (;;) {
      const ssize_t got = recv(socket_fd, journal_datagram, sizeof journal_datagram, MSG_DONTWAIT);
      if (got < 0) {
        break;
      }
      const auto size = static_cast<std::uint32_t>(got);
      WriteFully(copy_fd, reinterpret_cast<const char*>(&size), sizeof size);
      WriteFully(copy_fd, journal_datagram, size);
      if (recreate) {
        // As a restarted journal: the socket the child is connected to goes,
        // a new one takes its path.
        recreate = false;
        close(socket_fd);
        unlink(kJournalSocket);
        socket_fd = BindJournalSocket();
        const int marker = open(kJournalRecreated, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (socket_fd < 0 || marker < 0) {
          _exit(1);
        }
        close(marker);
      }
    }
    if (child_gone) {
      _exit(0);
    }
    if (!marked) {
      const int marker = open(kJournalDrained, O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
      marked = marker >= 0 && close(marker) == 0;
    }
    std::array<pollfd, 2> fds{{{socket_fd, POLLIN, 0}, {alive_fd, POLLIN, 0}}};
    if (poll(fds.data(), fds.size(), -1) > 0 && fds[1].revents != 0) {
      child_gone = true;
    }
  }
}

// Binds the journal socket and starts its reader; the child keeps the write
// end of `alive` open through exec, so its end tells the reader.
bool StartJournalReader(int copy_fd, int late_ms, bool recreate) {
  if (mkdir("/run/systemd/journal", 0755) != 0) {
    return false;
  }
  const int fd = BindJournalSocket();
  std::array<int, 2> alive{};
  if (fd < 0 || pipe(alive.data()) != 0) {
    return false;
  }
  const pid_t reader = fork();
  if (reader < 0) {
    return false;
  }
  if (reader == 0) {
    close(alive[1]);
    ReadJournal(fd, alive[0], copy_fd, late_ms, recreate);
  }
  close(alive[0]);
  close(fd);
  close(copy_fd);
  return true;
}

}  // namespace

bool EnterJournalNamespace(ChildOptions::Journal journal, int copy_fd, int late_ms) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return false;
  }
  // Where /run/systemd does not exist, a tmpfs over /run makes room for it
  // without touching the real file system.
  struct stat info {};
  const bool has_systemd_dir = stat("/run/systemd", &info) == 0;
  if (mount("tmpfs", has_systemd_dir ? "/run/systemd" : "/run", "tmpfs", 0, "size=1m") != 0 ||
      (!has_systemd_dir && mkdir("/run/systemd", 0755) != 0)) {
    return false;
  }
  if (journal == ChildOptions::Journal::kNotListening) {
    return mkdir("/run/systemd/journal", 0755) == 0 && PlantDeadSocket(kJournalSocket);
  }
  if (journal == ChildOptions::Journal::kRead || journal == ChildOptions::Journal::kReadLate ||
      journal == ChildOptions::Journal::kRecreated) {
    return StartJournalReader(copy_fd, journal == ChildOptions::Journal::kReadLate ? late_ms : 0,
                              journal == ChildOptions::Journal::kRecreated);
  }
  return true;
}

std::vector<std::string> Datagrams(const std::string& copied) {
  std::vector<std::string> datagrams;
  std::size_t at = 0;
  std::uint32_t size = 0;
  while (at + sizeof size <= copied.size()) {
    std::memcpy(&size, copied.data() + at, sizeof size);
    at += sizeof size;
    datagrams.push_back(copied.substr(at, size));
    at += size;
  }
  return datagrams;
}

}  // namespace vorn_io_test
