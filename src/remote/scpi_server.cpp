#include "remote/scpi_server.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

// Acknowledges what was just read at once instead of up to 40 ms later: a client that leaves
// Nagle's algorithm on (PyVISA's socket back end does) holds each write back until the one
// before is acknowledged, and most commands have no reply for an acknowledgement to ride on.
// The system falls back to delayed acknowledgements by itself, hence after every read.
void acknowledgeAtOnce(QTcpSocket* socket) {
#ifdef TCP_QUICKACK
  const qintptr fd = socket->socketDescriptor();
  if (fd < 0) return;
  const int one = 1;
  ::setsockopt(int(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
#else
  (void)socket;
#endif
}

}  // namespace

struct ScpiServer::Connection {
  explicit Connection(scpi::Instrument& instrument) : session(instrument) {}
  QTcpSocket* socket = nullptr;
  scpi::Session session;
  scpi::Session::State state = scpi::Session::State::Idle;
  bool scheduled = false;
  bool dead = false;  // disconnected; removed after the current event
  bool held = false;  // its replies wait above kPauseOutput: not read until they go out
  std::string out;
};

ScpiServer::ScpiServer(scpi::Instrument& instrument, QObject* parent)
    : QObject(parent), instrument_(instrument), server_(new QTcpServer(this)) {
  // Half the pending connections the system would queue are enough: the ninth is closed anyway.
  server_->setMaxPendingConnections(kMaxConnections);
  connect(server_, &QTcpServer::newConnection, this, &ScpiServer::accept);
  waitTimer_.setInterval(kWaitPollMs);
  connect(&waitTimer_, &QTimer::timeout, this, &ScpiServer::poll);
}

ScpiServer::~ScpiServer() {
  for (auto& c : connections_) {
    c->socket->disconnect(this);
    c->socket->abort();
  }
}

bool ScpiServer::listen(const QHostAddress& address, quint16 port) { return server_->listen(address, port); }
QString ScpiServer::errorString() const { return server_->errorString(); }
quint16 ScpiServer::port() const { return server_->serverPort(); }

void ScpiServer::accept() {
  while (QTcpSocket* socket = server_->nextPendingConnection()) {
    if (int(connections_.size()) >= kMaxConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto c = std::make_unique<Connection>(instrument_);
    c->socket = socket;
    socket->setParent(this);
    // Qt reads no more than this ahead of us: a client that floods is held back by TCP.
    socket->setReadBufferSize(qint64(scpi::Session::kMaxLine) + 2);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Connection* raw = c.get();
    connect(socket, &QTcpSocket::readyRead, this, [this, raw] {
      acknowledgeAtOnce(raw->socket);
      schedule(raw);
    });
    connect(socket, &QTcpSocket::bytesWritten, this, [this, raw] {
      if (raw->held && raw->socket->bytesToWrite() <= kPauseOutput) {
        raw->held = false;
        schedule(raw);
      }
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError) {
      if (raw->socket->state() != QAbstractSocket::ConnectedState) drop(raw);
    });
    connections_.push_back(std::move(c));
  }
}

void ScpiServer::drop(Connection* c) {
  // The client is gone: its answer and whatever it still had queued go with it. Removed
  // later, so that no loop over the connections loses its place.
  if (c->dead) return;
  c->dead = true;
  c->socket->disconnect(this);
  QMetaObject::invokeMethod(
      this,
      [this, c] {
        auto it =
            std::find_if(connections_.begin(), connections_.end(), [c](const auto& p) { return p.get() == c; });
        if (it == connections_.end()) return;
        c->socket->deleteLater();
        connections_.erase(it);
      },
      Qt::QueuedConnection);
}

void ScpiServer::schedule(Connection* c) {
  if (c->scheduled) return;
  c->scheduled = true;
  // Queued: the work runs after the events already waiting, the exchange's hand-overs among them.
  QMetaObject::invokeMethod(
      this,
      [this, c] {
        auto it = std::find_if(connections_.begin(), connections_.end(), [c](const auto& p) { return p.get() == c; });
        if (it == connections_.end() || c->dead) return;
        c->scheduled = false;
        serve(c);
      },
      Qt::QueuedConnection);
}

void ScpiServer::serve(Connection* c) {
  QTcpSocket* socket = c->socket;
  // Neither read nor run for a client that leaves its answers unread: bytesWritten brings it
  // back. An *OPC? under way waits meanwhile too; its outcome cannot reach the client sooner.
  if (socket->bytesToWrite() > kPauseOutput) {
    c->held = true;
    return;
  }
  // Take what the session has room for; the rest waits in the socket.
  char buf[16384];
  for (;;) {
    const std::size_t room = c->session.space();
    if (room == 0) break;
    const qint64 n = socket->read(buf, qint64(std::min(room, sizeof buf)));
    if (n <= 0) break;
    c->session.receive(std::string_view(buf, std::size_t(n)));
  }
  c->out.clear();
  // A slice of at most about kSliceMs: the exchange's next hand-over waits no longer.
  QElapsedTimer slice;
  slice.start();
  const qint64 pending = socket->bytesToWrite();
  c->state = c->session.run(c->out, [&] {
    return slice.elapsed() >= kSliceMs || pending + qint64(c->out.size()) > kPauseOutput;
  });
  if (!c->out.empty()) {
    if (socket->bytesToWrite() + qint64(c->out.size()) > kMaxPendingOutput)
      c->session.pushError(scpi::QueryInterrupted);  // the client does not read: drop the answer
    else
      socket->write(c->out.data(), qint64(c->out.size()));
  }
  if (socket->bytesToWrite() > kPauseOutput)
    c->held = true;
  else if (c->state == scpi::Session::State::Busy ||
           (c->state == scpi::Session::State::Idle && socket->bytesAvailable() > 0))
    schedule(c);
  if (c->state == scpi::Session::State::Waiting || c->session.opcPending()) {
    if (!waitTimer_.isActive()) waitTimer_.start();
  }
}

void ScpiServer::poll() {
  bool waiting = false;
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    Connection* c = connections_[i].get();
    if (c->dead) continue;
    if (c->state == scpi::Session::State::Waiting || c->session.opcPending()) {
      if (!c->scheduled && !c->held) serve(c);
      waiting = waiting || c->state == scpi::Session::State::Waiting || c->session.opcPending();
    }
  }
  if (!waiting) waitTimer_.stop();
}
