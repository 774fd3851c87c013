// The Unix-socket server; Windows has sim_pipe_server_win.cpp.
#ifndef _WIN32

#include "sim_server.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/device_codes.h"
#include "platform/virtual_device_folder.h"
#include "platform/virtual_device_protocol.h"

namespace {

constexpr std::size_t kMaxClients = 32;

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool fillAddress(const std::string& path, sockaddr_un* addr) {
  *addr = {};
  addr->sun_family = AF_UNIX;
  if (path.size() >= sizeof(addr->sun_path)) return false;
  std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace

struct SimServer::Client {
  int fd = -1;
  RequestFramer framer;
  std::vector<std::uint8_t> out;  // the answer being written
  std::size_t outSent = 0;
  bool waiting = false;  // an answer is due at dueMs and not yet written
  long long dueMs = 0;
  bool busy() const { return waiting || outSent < out.size(); }
};

SimServer::SimServer(SimOptions options) : options_(options), device_(std::move(options)) {}

SimServer::~SimServer() {
  unplug();
  if (signalFd_ >= 0) ::close(signalFd_);
}

bool SimServer::start() {
  const std::string& n = options_.name;
  if (!isValidSimName(n)) {
    std::fprintf(stderr, "qz418-sim: a name is letters, digits, '.', '_' and '-', not starting with '.'\n");
    return false;
  }
  folder_ = options_.folder.empty() ? virtual_device::folderPath() : options_.folder;
  if (!virtual_device::createFolder(folder_)) {
    std::fprintf(stderr, "qz418-sim: cannot make the folder %s: %s\n", folder_.c_str(), std::strerror(errno));
    return false;
  }
  if (!virtual_device::isTrustedFolder(folder_))
    std::fprintf(stderr,
                 "qz418-sim: warning: %s is not a folder of yours closed to others; the program will not "
                 "look there\n",
                 folder_.c_str());
  socketPath_ = folder_ + "/" + n + virtual_device::kSocketSuffix;

  if (!device_.openLog()) return false;

  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  // End of standard input only stops reading it, so the simulator can run in the background.
  signalFd_ = ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
  ::signal(SIGPIPE, SIG_IGN);
  return plug();
}

bool SimServer::plug() {
  if (listenFd_ >= 0) return true;
  if (virtual_device::acceptsConnection(socketPath_)) {
    std::fprintf(stderr, "qz418-sim: a device named %s is already running (%s)\n", options_.name.c_str(),
                 socketPath_.c_str());
    return false;
  }
  // The socket appears under its real name only once it accepts connections: a listed
  // socket that refuses one is known to be stale.
  const std::string temp = folder_ + "/." + options_.name + "." + std::to_string(::getpid()) + ".tmp";
  sockaddr_un addr;
  if (!fillAddress(socketPath_, &addr) || !fillAddress(temp, &addr)) {
    std::fprintf(stderr, "qz418-sim: the socket path %s is too long\n", socketPath_.c_str());
    return false;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  ::unlink(temp.c_str());
  bool ok = fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0 &&
            ::listen(fd, 16) == 0 && ::rename(temp.c_str(), socketPath_.c_str()) == 0;
  struct stat st {};
  ok = ok && ::lstat(socketPath_.c_str(), &st) == 0;
  if (!ok) {
    std::fprintf(stderr, "qz418-sim: cannot serve %s: %s\n", socketPath_.c_str(), std::strerror(errno));
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  listenFd_ = fd;
  socketInode_ = st.st_ino;
  std::printf("qz418-sim: serving %s\n", socketPath_.c_str());
  std::fflush(stdout);
  return true;
}

void SimServer::unplug() {
  for (auto& c : clients_) ::close(c->fd);
  clients_.clear();
  if (listenFd_ < 0) return;
  ::close(listenFd_);
  listenFd_ = -1;
  // Remove only our own socket, never one that has taken its place since.
  struct stat st {};
  if (::lstat(socketPath_.c_str(), &st) == 0 && st.st_ino == socketInode_) ::unlink(socketPath_.c_str());
}

void SimServer::hangUp() {
  for (auto& c : clients_) ::close(c->fd), c->fd = -1;
  std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->fd < 0; });
}

bool SimServer::command(const std::string& line) {
  switch (device_.command(line)) {
    case SimDevice::Command::NotUnderstood:
      return false;
    case SimDevice::Command::Unplug:
      unplug();
      std::printf("qz418-sim: unplugged\n");
      break;
    case SimDevice::Command::Plug:
      plug();
      break;
    case SimDevice::Command::HangUp:
      hangUp();
      break;
    case SimDevice::Command::Quit:
      quit_ = true;
      break;
    case SimDevice::Command::Done:
      break;
  }
  std::fflush(stdout);
  return true;
}

void SimServer::acceptClients() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (device_.hangUpAlways() || clients_.size() >= kMaxClients) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Client>();
    c->fd = fd;
    clients_.push_back(std::move(c));
  }
}

void SimServer::readClient(Client& c) {
  // Reads until one whole request is in or the socket runs dry; a frame over the limit
  // closes the connection (fd set to -1, removed by the loop).
  while (!c.busy()) {
    const ssize_t n = ::recv(c.fd, c.framer.space(), c.framer.spaceSize(), 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      ::close(c.fd);
      c.fd = -1;
      return;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    switch (c.framer.received(std::size_t(n))) {
      case RequestFramer::Result::More:
        continue;
      case RequestFramer::Result::TooLong:
        std::fprintf(stderr, "qz418-sim: request of %u bytes refused; connection closed\n", c.framer.length());
        ::close(c.fd);
        c.fd = -1;
        return;
      case RequestFramer::Result::Request:
        break;
    }
    if (!device_.answer(c.framer, c.out)) continue;  // left unanswered
    c.outSent = 0;
    c.waiting = true;
    c.dueMs = monotonicMs() + options_.latencyMs;
  }
}

void SimServer::writeClient(Client& c) {
  while (c.outSent < c.out.size()) {
    const ssize_t n = ::send(c.fd, c.out.data() + c.outSent, c.out.size() - c.outSent, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return;
      ::close(c.fd);
      c.fd = -1;
      return;
    }
    c.outSent += std::size_t(n);
  }
  c.out.clear();
  c.outSent = 0;
}

void SimServer::readStdin() {
  // One read per readiness report, so standard input stays blocking: it may be a terminal
  // shared with the shell, which must not be left non-blocking.
  char buf[4096];
  const ssize_t n = ::read(STDIN_FILENO, buf, sizeof(buf));
  if (n > 0)
    stdinLine_.append(buf, std::size_t(n));
  else if (n == 0 || errno != EINTR)
    stdinOpen_ = false;
  std::size_t pos;
  while ((pos = stdinLine_.find('\n')) != std::string::npos) {
    const std::string line = stdinLine_.substr(0, pos);
    stdinLine_.erase(0, pos + 1);
    if (!command(line)) std::fprintf(stderr, "qz418-sim: not understood: %s\n", line.c_str());
  }
  if (stdinLine_.size() > 65536) stdinLine_.clear();  // no line is that long
}

int SimServer::run() {
  std::vector<pollfd> fds;
  while (!quit_) {
    const long long now = monotonicMs();
    for (auto& c : clients_) {
      if (c->waiting && c->dueMs <= now) {
        c->waiting = false;
        writeClient(*c);
      }
    }
    std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->fd < 0; });
    long long timeout = -1;
    for (auto& c : clients_) {
      if (!c->waiting) continue;
      const long long left = std::max(0LL, c->dueMs - monotonicMs());
      timeout = timeout < 0 ? left : std::min(timeout, left);
    }

    fds.clear();
    fds.push_back({signalFd_, POLLIN, 0});
    fds.push_back({stdinOpen_ ? STDIN_FILENO : -1, POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (auto& c : clients_) {
      short events = 0;
      if (!c->busy())
        events = POLLIN;
      else if (!c->waiting)
        events = POLLOUT;
      fds.push_back({c->fd, events, 0});
    }
    const int r = ::poll(fds.data(), fds.size(), int(timeout));
    if (r < 0 && errno != EINTR) break;
    if (r <= 0) continue;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info;
      while (::read(signalFd_, &info, sizeof(info)) == sizeof(info)) quit_ = true;
    }
    if (fds[1].revents) readStdin();
    if (listenFd_ >= 0 && (fds[2].revents & POLLIN)) acceptClients();
    // clients_ may have grown in acceptClients; the first ones match fds[3...].
    for (std::size_t i = 3; i < fds.size(); ++i) {
      if (i - 3 >= clients_.size()) break;
      Client& c = *clients_[i - 3];
      if (c.fd != fds[i].fd || c.fd < 0) continue;  // unplugged meanwhile
      const short ev = fds[i].revents;
      if ((ev & (POLLHUP | POLLERR)) && c.busy()) {
        // Gone while its answer waits: nobody will read it, and poll would keep reporting it.
        ::close(c.fd);
        c.fd = -1;
      } else if (ev & POLLOUT)
        writeClient(c);
      else if (ev & (POLLIN | POLLHUP | POLLERR))
        readClient(c);
    }
    std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->fd < 0; });
  }
  unplug();
  return 0;
}

#endif
