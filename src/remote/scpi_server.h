#pragma once
// The SCPI server: one port of the shared connection layer, one Session per client. Nothing
// blocks: a client's bytes are read as they come and run in slices, so the exchange's
// hand-overs keep their turn in the event loop whatever a client sends. A client that does not
// read its answers is not read either: its commands wait in the system's socket buffers, cost
// nothing, and TCP holds the client back.

#include <QHostAddress>
#include <QObject>

#include "remote/client_channel.h"
#include "remote/scpi_session.h"

class ScpiServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 8;

  explicit ScpiServer(scpi::Instrument& instrument, QObject* parent = nullptr);
  ~ScpiServer() override;

  // False (with the reason in errorString()) when the address or port cannot be taken.
  bool listen(const QHostAddress& address, quint16 port);
  QString errorString() const { return channel_.errorString(); }
  quint16 port() const { return channel_.port(); }
  int connectionCount() const { return channel_.count(); }
  remote::ClientChannel& channel() { return channel_; }

 private:
  bool serve(remote::Client& client, const remote::Slice& slice);

  scpi::Instrument& instrument_;
  remote::ClientChannel channel_;
};
