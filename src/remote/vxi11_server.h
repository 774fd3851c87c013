#pragma once
// The VXI-11 server: the core channel (device links running the same command tree as the SCPI
// server, one Session per link) and the abort channel, each a QTcpServer on the main thread.
// Every connection takes one RPC call at a time; a call that has to wait (a read before its
// answer exists, a write the link has no room for yet, a lock another link holds) stays
// pending and is looked at again every few milliseconds until it can be answered, its own
// timeout has passed, or device_abort ends it. Nothing blocks the event loop.

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "remote/scpi_session.h"

class QTcpServer;
class QTcpSocket;

// The instrument as one client sees it: everything goes to the shared instrument, but
// settings are refused with -203 while refused() says another client holds the lock.
class GuardedInstrument : public scpi::Instrument {
 public:
  GuardedInstrument(scpi::Instrument& inner, std::function<bool()> refused)
      : inner_(inner), refused_(std::move(refused)) {}
  int execute(const Call& call, std::string& reply) override { return inner_.execute(call, reply); }
  std::string identity() override { return inner_.identity(); }
  void reset() override { inner_.reset(); }
  int selfTest() override { return inner_.selfTest(); }
  std::uint64_t packetsBuilt() override { return inner_.packetsBuilt(); }
  std::uint64_t lastTransferredPacket() override { return inner_.lastTransferredPacket(); }
  std::uint64_t linkId() override { return inner_.linkId(); }
  std::uint64_t transfersCompleted() override { return inner_.transfersCompleted(); }
  std::int64_t nowMs() override { return inner_.nowMs(); }
  int settingRefused() override;

 private:
  scpi::Instrument& inner_;
  std::function<bool()> refused_;
};

class Vxi11Server : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 8;  // on each channel; more are closed at once
  static constexpr int kMaxLinks = 16;
  static constexpr std::uint32_t kMaxRecvSize = 64 * 1024;  // data bytes per device_write
  static constexpr std::size_t kMaxRecord = kMaxRecvSize + 4096;
  // Written bytes the session has not taken yet, beyond which a write waits for room.
  static constexpr std::size_t kMaxLinkInput = 2 * kMaxRecvSize;
  // Answers not read yet; beyond this an answer is dropped with -410, as on the SCPI socket.
  static constexpr std::size_t kMaxPendingOutput = 4 * 1024 * 1024;
  static constexpr int kPollMs = 2;
  static constexpr qint64 kSliceMs = 2;

  explicit Vxi11Server(scpi::Instrument& instrument, QObject* parent = nullptr);
  ~Vxi11Server() override;

  // Listens for the core channel on port (0: any free port) and for the abort channel on a
  // free port of the same address. False, with the reason in errorString(), when it cannot.
  bool listen(const QHostAddress& address, quint16 port = 0);
  QString errorString() const { return error_; }
  quint16 corePort() const;
  quint16 abortPort() const;
  // Stops listening and closes every connection (remote control goes on without VXI-11).
  void close();
  // Whether a link holds the device's lock: other clients' settings are refused then.
  bool locked() const { return lockHolder_ != 0; }
  int linkCount() const { return int(links_.size()); }

 private:
  struct Link;
  struct Connection;
  void accept(QTcpServer* server, bool abortChannel);
  void drop(Connection* c);
  void processInput(Connection* c);
  void resume(Connection* c);
  void handle(Connection* c, std::string record);
  bool attempt(Connection* c);  // true: the pending call was answered
  bool attemptAbort(Connection* c);
  void reply(Connection* c, const std::string& results);
  void replyStatus(Connection* c, int stat);
  Link* findLink(std::int32_t lid) const;
  void destroyLink(Link* l);
  void releaseLock(std::int32_t lid);
  void clearLink(Link* l);
  void schedule(Link* l);
  void serve(Link* l);
  void poll();
  void updatePolling();
  std::uint8_t statusByte(const Link* l) const;
  void checkServiceRequest(Link* l);
  std::string readAnswer(Link* l, std::uint32_t requestSize, bool termCharSet, char termChar,
                         std::int32_t& reason);

  scpi::Instrument& instrument_;
  QTcpServer* core_;
  QTcpServer* abort_;
  QString error_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::vector<std::unique_ptr<Link>> links_;
  std::int32_t nextLid_ = 1;
  std::int32_t lockHolder_ = 0;  // 0: nobody
  QTimer pollTimer_;
};
