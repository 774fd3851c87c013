#pragma once
// One listening port of remote control and every connection on it: the SCPI socket, the
// VXI-11 core and abort channels all go through this one layer, so none of them can be held,
// flooded or starved differently from the others.
//
// - At most maxConnections at a time. When they are all taken, the connection idle the
//   longest (no complete command or call for more than idleLimitMs) gives way to the new one;
//   without such a connection the new one is closed at once.
// - TCP keep-alive on every connection, so a peer that vanished frees its slot (and what it
//   held) within keepAliveDeadline() seconds instead of the system's two hours.
// - Back-pressure: a connection whose unsent output is above pauseOutput is not served (not
//   read, nothing of it run) until the client has taken enough of it.
// - A fixed share of the main thread: each connection's work runs in slices of about
//   kSliceNs, queued behind the events already waiting (the exchange's hand-overs), and a
//   connection that used more than its share of the time waits until its credit is back.
// Main thread only; built on Qt's sockets, so it compiles wherever Qt does.

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QAbstractSocket;
class QTcpServer;
class QTcpSocket;

namespace remote {

// TCP keep-alive: the first probe after idleS seconds without traffic, then one every
// intervalS seconds; after count unanswered probes the system closes the connection.
struct KeepAlive {
  int idleS = 60;
  int intervalS = 10;
  int count = 5;
};
constexpr int keepAliveDeadline(const KeepAlive& k) { return k.idleS + k.intervalS * k.count; }
// The times above, or QZ418_REMOTE_KEEPALIVE ("idle,interval,count" in seconds) for the
// end-to-end tests that cannot wait two minutes for a vanished peer.
KeepAlive keepAliveSettings();
// Turns keep-alive on for a connected socket with those times; false when the system refused.
bool applyKeepAlive(QAbstractSocket* socket, const KeepAlive& k = keepAliveSettings());
// Acknowledges what was just read at once instead of up to 40 ms later (Linux): a client that
// leaves Nagle's algorithm on holds each write back until the one before is acknowledged.
void acknowledgeAtOnce(QAbstractSocket* socket);

// The time a connection has to do its work in one turn.
class Slice {
 public:
  explicit Slice(std::int64_t limitNs);
  bool over() const;
  std::int64_t elapsedNs() const;

 private:
  std::int64_t startNs_;
  std::int64_t limitNs_;
};

class ClientChannel;

// One connection. Servers keep their own state of it in data.
class Client : public QObject {
  Q_OBJECT
 public:
  struct Data {
    virtual ~Data() = default;
  };
  QTcpSocket* socket() const { return socket_; }
  QHostAddress peer() const { return peer_; }
  ClientChannel& channel() const { return *channel_; }
  // A complete command or call came in: the connection is not idle.
  void touch();
  std::int64_t idleMs() const;
  bool closing() const { return closing_; }
  std::unique_ptr<Data> data;

 private:
  friend class ClientChannel;
  Client(ClientChannel* channel, QTcpSocket* socket);
  ClientChannel* channel_;
  QTcpSocket* socket_;
  QHostAddress peer_;
  std::int64_t lastActiveMs_ = 0;
  bool scheduled_ = false;
  bool held_ = false;     // output above the bound: served again once it drains
  bool closing_ = false;  // closed; deleted after the current event
  std::int64_t creditNs_ = 0;
  std::int64_t creditAtNs_ = 0;  // when creditNs_ was last brought up to date
  QTimer wakeTimer_;             // a deadline of the server's, or the end of a wait for credit
};

class ClientChannel : public QObject {
  Q_OBJECT
 public:
  struct Limits {
    int maxConnections = 8;
    qint64 readBuffer = 64 * 1024;           // Qt reads no further ahead of the server
    qint64 pauseOutput = 1024 * 1024;        // unsent bytes above which a connection waits
    std::int64_t idleLimitMs = defaultIdleLimitMs();
    KeepAlive keepAlive = keepAliveSettings();
    // Acknowledge every read at once (clients that send a command in pieces with Nagle on); a
    // protocol whose every call has a reply lets the acknowledgement ride on it instead.
    bool quickAck = true;
  };
  // 10 minutes, or QZ418_REMOTE_IDLE_MS for the end-to-end tests that cannot wait that long.
  static std::int64_t defaultIdleLimitMs();
  static constexpr std::int64_t kSliceNs = 500'000;
  // A connection may use this share of the main thread over time (per mille), with a burst of
  // kBurstNs when it was quiet before.
  static constexpr std::int64_t kSharePerMille = 250;
  static constexpr std::int64_t kBurstNs = 5'000'000;
  // While a connection waits for the device's transfers it is looked at this often.
  static constexpr int kProgressMs = 5;

  struct Handler {
    // Does the connection's work within the slice; true when more of it can be done now.
    std::function<bool(Client& client, const Slice& slice)> serve;
    // The connection is gone (closed by the client, by keep-alive, or made to give way):
    // release what it held. Called once, before it is deleted.
    std::function<void(Client& client)> closed;
  };

  ClientChannel(Limits limits, Handler handler, QObject* parent = nullptr);
  ~ClientChannel() override;

  bool listen(const QHostAddress& address, quint16 port);
  QString errorString() const;
  quint16 port() const;
  // Stops listening and closes every connection (their closed() runs).
  void close();
  int count() const { return int(clients_.size()); }
  const Limits& limits() const { return limits_; }
  template <class F>
  void forEach(F f) {
    for (std::size_t i = 0; i < clients_.size(); ++i)
      if (!clients_[i]->closing_) f(*clients_[i]);
  }

  // Serves the connection again soon (after the events already waiting).
  void wake(Client& client);
  // Serves it again after ms (replaces an earlier deadline of the same connection).
  void wakeAfter(Client& client, std::int64_t ms);
  // Serves it again at the next look at the device's transfers.
  void wakeOnProgress(Client& client);
  // Closes it now: closed() runs, the socket goes.
  void drop(Client& client);

 private:
  void accept();
  void schedule(Client* c, std::int64_t delayMs = 0);
  void serve(Client* c);
  Client* longestIdle() const;

  Limits limits_;
  Handler handler_;
  QTcpServer* server_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::vector<QPointer<Client>> progress_;
  QTimer progressTimer_;
};

}  // namespace remote
