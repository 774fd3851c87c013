#pragma once
// The SCPI server: a QTcpServer on the main thread, one Session per client. Nothing blocks:
// a client's bytes are read as they come and run in slices, so the exchange's hand-overs keep
// their turn in the event loop whatever a client sends; a client waiting in *OPC? is looked at
// again every few milliseconds until the device has its packet. A client that does not read
// its answers is not read either: its commands wait in the system's socket buffers, cost
// nothing, and TCP holds the client back.

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <memory>
#include <vector>

#include "remote/scpi_session.h"

class QTcpServer;
class QTcpSocket;

class ScpiServer : public QObject {
  Q_OBJECT
 public:
  static constexpr int kMaxConnections = 8;
  // Replies waiting for a client that does not read them: above kPauseOutput the connection's
  // input is left unread until they are down to it again; a reply that would take them beyond
  // kMaxPendingOutput (one line with very many long answers) is dropped (-410).
  static constexpr qint64 kPauseOutput = 1024 * 1024;
  static constexpr qint64 kMaxPendingOutput = 4 * 1024 * 1024;
  static constexpr int kWaitPollMs = 2;
  static constexpr qint64 kSliceMs = 2;  // a client's work per turn of the event loop

  explicit ScpiServer(scpi::Instrument& instrument, QObject* parent = nullptr);
  ~ScpiServer() override;

  // False (with the reason in errorString()) when the address or port cannot be taken.
  bool listen(const QHostAddress& address, quint16 port);
  QString errorString() const;
  quint16 port() const;
  int connectionCount() const { return int(connections_.size()); }

 private:
  struct Connection;
  void accept();
  void drop(Connection* c);
  void serve(Connection* c);
  void schedule(Connection* c);
  void poll();

  scpi::Instrument& instrument_;
  QTcpServer* server_;
  std::vector<std::unique_ptr<Connection>> connections_;
  QTimer waitTimer_;
};
