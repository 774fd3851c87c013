#include "remote/vxi11_registration.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "remote/onc_rpc.h"

struct RpcbindRegistration::Shared {
  std::mutex mutex;
  std::condition_variable changed;
  RpcbindRegistration* owner = nullptr;  // null once the owner is gone
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  quint16 port = 0;
  bool busy = false;        // a worker is looking
  bool registered = false;  // as the last look found it
  bool withdrawn = false;
};

namespace {

constexpr int kConnectWaitMs = 500;
constexpr int kAnswerWaitMs = 1000;
constexpr std::uint16_t kRpcbindPort = 111;

// A TCP connection to 127.0.0.1:port within kConnectWaitMs, or -1 with the reason in error.
int connectLoopback(std::uint16_t port, int& error) {
  error = 0;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = errno;
    return -1;
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    error = errno;
    ::close(fd);
    return -1;
  }
  pollfd p{fd, POLLOUT, 0};
  socklen_t len = sizeof error;
  if (::poll(&p, 1, kConnectWaitMs) != 1) {
    error = ETIMEDOUT;
  } else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) {
    error = errno;
  }
  if (error) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool rpcbindRuns() {
  int error = 0;
  const int fd = connectLoopback(kRpcbindPort, error);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

// The TCP port rpcbind has for program/version, 0 for none.
std::uint16_t registeredPort(std::uint32_t program, std::uint32_t version) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(kRpcbindPort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return pmap_getport(&a, program, version, IPPROTO_TCP);
}

// Whether the entry pointing at port was left behind: nobody listens there, or whoever does
// refuses program/version's null call. A server that accepts the connection but is slow to
// answer, or closes it (all its connections taken), may be a running copy and keeps its entry.
bool entryLeftBehind(std::uint16_t port, std::uint32_t program, std::uint32_t version) {
  int error = 0;
  const int fd = connectLoopback(port, error);
  if (fd < 0) return error == ECONNREFUSED;
  const std::string call = rpc::frame(rpc::callMessage(0x51a7e, program, version, 0, {}));
  bool leftBehind = false;
  if (::send(fd, call.data(), call.size(), MSG_NOSIGNAL) == ssize_t(call.size())) {
    rpc::RecordReader reader(4096);
    char buf[512];
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerWaitMs);
    while (!reader.complete() && !reader.broken()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{fd, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) != 1) break;
      const ssize_t n = ::recv(fd, buf, std::min(sizeof buf, reader.wanted()), 0);
      if (n <= 0) break;
      reader.feed(std::string_view(buf, std::size_t(n)));
    }
    if (reader.broken()) {
      leftBehind = true;  // not an RPC server at all
    } else if (reader.complete()) {
      const rpc::Reply r = rpc::parseReply(reader.take());
      leftBehind = !r.ok || r.stat != rpc::Success;
    }
  }
  ::close(fd);
  return leftBehind;
}

struct Look {
  QString reason;  // empty: registered
  bool renewed = false;
};

// Makes sure rpcbind has program/version on port, as far as it can without removing a
// running copy's entry.
Look keepRegistered(std::uint32_t program, std::uint32_t version, quint16 port, bool wasRegistered) {
  // Without rpcbind pmap_set would wait for about a minute before it fails.
  if (!rpcbindRuns()) return {QStringLiteral("rpcbind не запущен")};
  // Twice: a copy starting at the same moment may take the number between a look and pmap_set.
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::uint16_t held = registeredPort(program, version);
    if (held == port) return {};
    if (held != 0) {
      if (!entryLeftBehind(held, program, version))
        return {QStringLiteral("программа уже зарегистрирована в rpcbind на порту %1 (другая копия?)").arg(held)};
      pmap_unset(program, version);
    }
    if (pmap_set(program, version, IPPROTO_TCP, port)) return {{}, wasRegistered};
  }
  return {QStringLiteral("rpcbind не принял регистрацию")};
}

// Takes the entry back, unless it is no longer this copy's.
void withdraw(std::uint32_t program, std::uint32_t version, quint16 port) {
  if (rpcbindRuns() && registeredPort(program, version) == port) pmap_unset(program, version);
}

}  // namespace

RpcbindRegistration::RpcbindRegistration(std::uint32_t program, std::uint32_t version, quint16 port,
                                         QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()) {
  shared_->owner = this;
  shared_->program = program;
  shared_->version = version;
  shared_->port = port;
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &RpcbindRegistration::look);
  look();
}

void RpcbindRegistration::look() {
  {
    std::lock_guard lock(shared_->mutex);
    if (shared_->busy) return;  // its outcome sets the timer again
    shared_->busy = true;
  }
  std::thread([shared = shared_, wasRegistered = registered_] {
    const Look found = keepRegistered(shared->program, shared->version, shared->port, wasRegistered);
    std::unique_lock lock(shared->mutex);
    shared->busy = false;
    shared->registered = found.reason.isEmpty();
    if (!shared->owner) {
      // The program is ending: take the entry back at once.
      lock.unlock();
      if (found.reason.isEmpty()) withdraw(shared->program, shared->version, shared->port);
      return;
    }
    // Posted under the mutex: the owner cannot be destroyed between the check and the post,
    // and a call posted to it is discarded if it goes before the call runs.
    QMetaObject::invokeMethod(
        shared->owner, [owner = shared->owner, found] { owner->outcome(found.reason, found.renewed); },
        Qt::QueuedConnection);
  }).detach();
}

void RpcbindRegistration::outcome(const QString& reason, bool renewed) {
  const bool registered = reason.isEmpty();
  timer_.start(registered ? kCheckMs : kRetryMs);
  if (known_ && registered == registered_ && reason == reason_ && !renewed) return;
  known_ = true;
  registered_ = registered;
  reason_ = reason;
  emit changed(registered, reason, renewed);
}

RpcbindRegistration::~RpcbindRegistration() {
  std::unique_lock lock(shared_->mutex);
  shared_->owner = nullptr;
  // A look under way withdraws what it finds when it ends.
  if (shared_->busy || !shared_->registered) return;
  std::thread([shared = shared_] {
    withdraw(shared->program, shared->version, shared->port);
    std::lock_guard guard(shared->mutex);
    shared->withdrawn = true;
    shared->changed.notify_all();
  }).detach();
  shared_->changed.wait_for(lock, std::chrono::milliseconds(kWithdrawWaitMs),
                            [this] { return shared_->withdrawn; });
}
