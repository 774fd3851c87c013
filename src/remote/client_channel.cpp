#include "remote/client_channel.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

namespace remote {

namespace {

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
std::int64_t nowMs() { return nowNs() / 1'000'000; }

}  // namespace

KeepAlive keepAliveSettings() {
  KeepAlive k;
  if (const char* v = std::getenv("QZ418_REMOTE_KEEPALIVE")) {
    KeepAlive t;
    if (std::sscanf(v, "%d,%d,%d", &t.idleS, &t.intervalS, &t.count) == 3 && t.idleS > 0 && t.intervalS > 0 &&
        t.count > 0)
      k = t;
  }
  return k;
}

bool applyKeepAlive(QAbstractSocket* socket, const KeepAlive& k) {
  socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
  const qintptr fd = socket->socketDescriptor();
  if (fd < 0) return false;
#ifdef _WIN32
  // Windows sends its own number of probes (10): they are spread so that a vanished peer goes
  // at the same deadline. A peer that does not acknowledge an answer is given up by the
  // system's retransmission limit, well within it.
  const ULONG spreadMs = ULONG(std::max(1, k.intervalS * k.count * 1000 / 10));
  tcp_keepalive v{1, ULONG(k.idleS) * 1000, spreadMs};
  DWORD returned = 0;
  return WSAIoctl(SOCKET(fd), SIO_KEEPALIVE_VALS, &v, sizeof v, nullptr, 0, &returned, nullptr, nullptr) == 0;
#else
  // Keep-alive probes only a connection with nothing unacknowledged: a peer that vanished while
  // an answer was on its way would be sent it again for some 15 minutes. The user timeout ends
  // that wait at the same deadline.
  const int idle = k.idleS, interval = k.intervalS, count = k.count;
  const unsigned userTimeoutMs = unsigned(keepAliveDeadline(k)) * 1000u;
  return ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 &&
         ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 &&
         ::setsockopt(int(fd), IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0 &&
         ::setsockopt(int(fd), IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs) == 0;
#endif
}

void acknowledgeAtOnce(QAbstractSocket* socket) {
#ifdef TCP_QUICKACK
  const qintptr fd = socket->socketDescriptor();
  if (fd < 0) return;
  const int one = 1;
  ::setsockopt(int(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
  (void)socket;
#endif
}

Slice::Slice(std::int64_t limitNs) : startNs_(nowNs()), limitNs_(limitNs) {}
bool Slice::over() const { return elapsedNs() >= limitNs_; }
std::int64_t Slice::elapsedNs() const { return nowNs() - startNs_; }

// A child of its channel as well: one that was closed and waits for its deletion when the
// channel goes is deleted with it.
Client::Client(ClientChannel* channel, QTcpSocket* socket)
    : QObject(channel),
      channel_(channel), socket_(socket), peer_(socket->peerAddress()), lastActiveMs_(nowMs()),
      creditNs_(ClientChannel::kBurstNs), creditAtNs_(nowNs()) {
  wakeTimer_.setSingleShot(true);
  wakeTimer_.setTimerType(Qt::PreciseTimer);  // waits for credit are a millisecond or two
  connect(&wakeTimer_, &QTimer::timeout, this, [this] { channel_->wake(*this); });
}

void Client::touch() { lastActiveMs_ = nowMs(); }
std::int64_t Client::idleMs() const { return nowMs() - lastActiveMs_; }

std::int64_t ClientChannel::defaultIdleLimitMs() {
  if (const char* v = std::getenv("QZ418_REMOTE_IDLE_MS")) {
    const long long ms = std::atoll(v);
    if (ms > 0) return ms;
  }
  return 10 * 60 * 1000;
}

ClientChannel::ClientChannel(Limits limits, Handler handler, QObject* parent)
    : QObject(parent), limits_(limits), handler_(std::move(handler)), server_(new QTcpServer(this)) {
  // The system queues no more than a full channel's worth of connections not yet accepted.
  server_->setMaxPendingConnections(limits_.maxConnections);
  connect(server_, &QTcpServer::newConnection, this, &ClientChannel::accept);
  progressTimer_.setInterval(kProgressMs);
  progressTimer_.setSingleShot(true);
  connect(&progressTimer_, &QTimer::timeout, this, [this] {
    std::vector<QPointer<Client>> due;
    due.swap(progress_);
    for (const auto& c : due)
      if (c && !c->closing_) wake(*c);
  });
}

ClientChannel::~ClientChannel() { close(); }

bool ClientChannel::listen(const QHostAddress& address, quint16 port) { return server_->listen(address, port); }
QString ClientChannel::errorString() const { return server_->errorString(); }
quint16 ClientChannel::port() const { return server_->serverPort(); }

void ClientChannel::close() {
  server_->close();
  while (!clients_.empty()) drop(*clients_.front());
}

Client* ClientChannel::longestIdle() const {
  Client* best = nullptr;
  for (const auto& c : clients_)
    if (!c->closing_ && c->idleMs() > limits_.idleLimitMs && (!best || c->idleMs() > best->idleMs()))
      best = c.get();
  return best;
}

void ClientChannel::accept() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    if (int(clients_.size()) >= limits_.maxConnections) {
      if (Client* idle = longestIdle()) {
        drop(*idle);
      } else {
        socket->abort();
        socket->deleteLater();
        continue;
      }
    }
    socket->setParent(this);
    std::unique_ptr<Client> c(new Client(this, socket));
    socket->setReadBufferSize(limits_.readBuffer);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    applyKeepAlive(socket, limits_.keepAlive);
    Client* raw = c.get();
    connect(socket, &QTcpSocket::readyRead, raw, [this, raw] {
      if (limits_.quickAck) acknowledgeAtOnce(raw->socket_);
      wake(*raw);
    });
    connect(socket, &QTcpSocket::bytesWritten, raw, [this, raw] {
      if (raw->held_ && raw->socket_->bytesToWrite() <= limits_.pauseOutput) {
        raw->held_ = false;
        wake(*raw);
      }
    });
    connect(socket, &QTcpSocket::disconnected, raw, [this, raw] { drop(*raw); });
    // A reset peer is gone even when output is still waiting for it: Qt would otherwise go on
    // trying to deliver it in its closing state, and the connection would keep its place.
    connect(socket, &QTcpSocket::errorOccurred, raw, [this, raw](QAbstractSocket::SocketError e) {
      if (e != QAbstractSocket::TemporaryError && e != QAbstractSocket::SocketTimeoutError) drop(*raw);
    });
    connect(socket, &QTcpSocket::stateChanged, raw, [this, raw](QAbstractSocket::SocketState s) {
      if (s != QAbstractSocket::ConnectedState) drop(*raw);
    });
    clients_.push_back(std::move(c));
  }
}

void ClientChannel::drop(Client& client) {
  if (client.closing_) return;
  client.closing_ = true;
  client.wakeTimer_.stop();
  client.socket_->disconnect(this);
  client.socket_->disconnect(&client);
  // What it held goes at once (a lock, its links), before any other connection is served.
  if (handler_.closed) handler_.closed(client);
  client.socket_->abort();
  client.socket_->deleteLater();
  auto it = std::find_if(clients_.begin(), clients_.end(), [&](const auto& p) { return p.get() == &client; });
  if (it != clients_.end()) {
    it->release()->deleteLater();  // queued work of it, bound to it, goes with it
    clients_.erase(it);
  }
}

void ClientChannel::wake(Client& client) { schedule(&client); }

void ClientChannel::wakeAfter(Client& client, std::int64_t ms) {
  if (client.closing_) return;
  client.wakeTimer_.start(int(std::clamp<std::int64_t>(ms, 0, 24 * 3600 * 1000)));
}

void ClientChannel::wakeOnProgress(Client& client) {
  if (client.closing_) return;
  if (std::none_of(progress_.begin(), progress_.end(), [&](const auto& p) { return p == &client; }))
    progress_.emplace_back(&client);
  if (!progressTimer_.isActive()) progressTimer_.start();
}

void ClientChannel::schedule(Client* c, std::int64_t delayMs) {
  if (c->closing_) return;
  if (delayMs > 0) {
    // A wait for credit: the timer is the connection's own, so an earlier deadline of the
    // server's is not lost (serve() runs all the same and looks at what is due).
    if (!c->wakeTimer_.isActive() || c->wakeTimer_.remainingTime() > delayMs) c->wakeTimer_.start(int(delayMs));
    return;
  }
  if (c->scheduled_) return;
  c->scheduled_ = true;
  // Queued: the work runs after the events already waiting, the exchange's hand-overs among them.
  QMetaObject::invokeMethod(
      c,
      [this, c] {
        c->scheduled_ = false;
        serve(c);
      },
      Qt::QueuedConnection);
}

void ClientChannel::serve(Client* c) {
  if (c->closing_) return;
  // Nothing read nor run for a client that leaves its output unread: bytesWritten brings it back.
  if (c->socket_->bytesToWrite() > limits_.pauseOutput) {
    c->held_ = true;
    return;
  }
  const std::int64_t now = nowNs();
  c->creditNs_ = std::min(kBurstNs, c->creditNs_ + (now - c->creditAtNs_) * kSharePerMille / 1000);
  c->creditAtNs_ = now;
  if (c->creditNs_ < 0) {
    schedule(c, -c->creditNs_ * 1000 / kSharePerMille / 1'000'000 + 1);
    return;
  }
  const Slice slice(kSliceNs);
  const bool more = handler_.serve(*c, slice);
  c->creditNs_ -= slice.elapsedNs();
  if (c->closing_) return;
  if (c->socket_->bytesToWrite() > limits_.pauseOutput)
    c->held_ = true;
  else if (more)
    schedule(c);
}

}  // namespace remote
