#include "remote/vxi11_registration.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <rpc/pmap_clnt.h>
#include <sys/socket.h>
#include <unistd.h>

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
  bool registered = false;
  bool withdrawn = false;
};

namespace {

constexpr int kConnectWaitMs = 500;
constexpr int kAnswerWaitMs = 1000;
constexpr std::uint16_t kRpcbindPort = 111;

// A TCP connection to 127.0.0.1:port within kConnectWaitMs, or -1.
int connectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
    ::close(fd);
    return -1;
  }
  pollfd p{fd, POLLOUT, 0};
  int error = 0;
  socklen_t len = sizeof error;
  if (::poll(&p, 1, kConnectWaitMs) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0 ||
      error) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Whether a server on 127.0.0.1:port answers program/version's null call.
bool programAnswers(std::uint16_t port, std::uint32_t program, std::uint32_t version) {
  const int fd = connectLoopback(port);
  if (fd < 0) return false;
  const std::string call = rpc::frame(rpc::callMessage(0x51a7e, program, version, 0, {}));
  bool answered = false;
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
    if (reader.complete()) {
      const rpc::Reply r = rpc::parseReply(reader.take());
      answered = r.ok && r.xid == 0x51a7e && r.stat == rpc::Success;
    }
  }
  ::close(fd);
  return answered;
}

// Empty when registered, else the reason for the events window.
QString registerProgram(std::uint32_t program, std::uint32_t version, quint16 port) {
  // Without rpcbind pmap_set would wait for about a minute before it fails.
  const int probe = connectLoopback(kRpcbindPort);
  if (probe < 0) return QStringLiteral("rpcbind не запущен");
  ::close(probe);
  if (pmap_set(program, version, IPPROTO_TCP, port)) return {};
  // The number is taken: by a running copy, or left behind by one that crashed.
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(kRpcbindPort);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::uint16_t registered = pmap_getport(&a, program, version, IPPROTO_TCP);
  if (registered != 0 && programAnswers(registered, program, version))
    return QStringLiteral("программа уже зарегистрирована в rpcbind на порту %1 (другая копия?)")
        .arg(registered);
  pmap_unset(program, version);
  if (pmap_set(program, version, IPPROTO_TCP, port)) return {};
  return QStringLiteral("rpcbind не принял регистрацию");
}

}  // namespace

RpcbindRegistration::RpcbindRegistration(std::uint32_t program, std::uint32_t version, quint16 port,
                                         QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()) {
  shared_->owner = this;
  shared_->program = program;
  shared_->version = version;
  std::thread([shared = shared_, program, version, port] {
    const QString reason = registerProgram(program, version, port);
    std::unique_lock lock(shared->mutex);
    if (!shared->owner) {
      // The program is ending: take the entry back at once.
      lock.unlock();
      if (reason.isEmpty()) pmap_unset(program, version);
      return;
    }
    shared->registered = reason.isEmpty();
    // Posted under the mutex: the owner cannot be destroyed between the check and the post,
    // and a call posted to it is discarded if it goes before the call runs.
    QMetaObject::invokeMethod(
        shared->owner, [owner = shared->owner, reason] { emit owner->finished(reason.isEmpty(), reason); },
        Qt::QueuedConnection);
  }).detach();
}

RpcbindRegistration::~RpcbindRegistration() {
  std::unique_lock lock(shared_->mutex);
  shared_->owner = nullptr;
  if (!shared_->registered) return;
  std::thread([shared = shared_] {
    pmap_unset(shared->program, shared->version);
    std::lock_guard guard(shared->mutex);
    shared->withdrawn = true;
    shared->changed.notify_all();
  }).detach();
  shared_->changed.wait_for(lock, std::chrono::milliseconds(kWithdrawWaitMs),
                            [this] { return shared_->withdrawn; });
}
