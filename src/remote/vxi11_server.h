#pragma once
// The VXI-11 server: the core channel (device links running the same command tree as the SCPI
// server, one Session per link) and the abort channel, each a port of the shared connection
// layer on the main thread. Every connection takes one RPC call at a time; a call that has to
// wait (a read before its answer exists, a write while the link's last message still runs, a
// lock another link holds) stays pending until what it waits for happens, its own timeout
// passes, or device_abort ends it. Nothing blocks the event loop and nothing polls.

#include <QHostAddress>
#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "remote/client_channel.h"
#include "remote/scpi_session.h"

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
  static constexpr int kMaxConnections = 8;  // on each channel
  static constexpr int kMaxLinks = 16;
  static constexpr std::uint32_t kMaxRecvSize = 64 * 1024;  // data bytes per device_write
  static constexpr std::size_t kMaxRecord = kMaxRecvSize + 4096;
  // Written bytes of one message the session has not taken yet, beyond which a write waits.
  static constexpr std::size_t kMaxLinkInput = 2 * kMaxRecvSize;
  // A link's unread answers above which its session runs nothing more until the client reads.
  static constexpr std::size_t kPauseLinkOutput = 1024 * 1024;

  explicit Vxi11Server(scpi::Instrument& instrument, QObject* parent = nullptr);
  ~Vxi11Server() override;

  // Listens for the core channel on port (0: any free port) and for the abort channel on a
  // free port of the same address. False, with the reason in errorString(), when it cannot.
  bool listen(const QHostAddress& address, quint16 port = 0);
  QString errorString() const { return error_; }
  quint16 corePort() const { return core_.port(); }
  quint16 abortPort() const { return abort_.port(); }
  // Stops listening and closes every connection (remote control goes on without VXI-11).
  void close();
  // Whether a link holds the device's lock: other clients' settings are refused then.
  bool locked() const { return lockHolder_ != 0; }
  int linkCount() const { return int(links_.size()); }
  remote::ClientChannel& coreChannel() { return core_; }
  remote::ClientChannel& abortChannel() { return abort_; }

 private:
  struct Link;
  struct Conn;
  bool serve(remote::Client& c, const remote::Slice& slice, bool abortChannel);
  void closed(remote::Client& c);
  bool nextRecord(remote::Client& c);  // true: a whole record is in the reader
  void handle(remote::Client& c, bool abortChannel);
  bool attempt(remote::Client& c);  // true: the pending call was answered
  void abortCall(remote::Client& c);
  void reply(remote::Client& c, const std::string& results, int stat = 0);  // 0: success
  bool runLink(Link* l, const remote::Slice& slice);  // true: more to run now
  std::int32_t newLinkId() const;
  Link* findLink(std::int32_t lid) const;
  void destroyLink(Link* l);
  void releaseLock(std::int32_t lid);
  void clearLink(Link* l);
  void dropAnswers(Link* l);
  std::uint8_t statusByte(const Link* l) const;
  void checkServiceRequest(Link* l);
  std::string readAnswer(Link* l, std::uint32_t requestSize, bool termCharSet, char termChar,
                         std::int32_t& reason);

  scpi::Instrument& instrument_;
  remote::ClientChannel core_;
  remote::ClientChannel abort_;
  QString error_;
  std::vector<std::unique_ptr<Link>> links_;
  std::int32_t lockHolder_ = 0;  // 0: nobody
};
