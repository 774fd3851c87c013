#pragma once
// Remote control as the program starts it: the instrument on the four windows, the SCPI
// server and the VXI-11 server beside it, alive from after the windows are made until before
// they go.

#include <QHostAddress>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

#include "remote/panel_instrument.h"

// What the command line asks of remote control.
struct RemoteOptions {
  bool scpi = false;  // --scpi: serve remote control at all
  QString listen;     // --scpi-listen: the address
  quint16 port = 0;   // --scpi-port: the SCPI socket's port
};
class ScpiServer;
class Vxi11Server;
class GuardedInstrument;
class RpcbindRegistration;
class DiscoveryPublisher;

class RemoteControl {
 public:
  // How often a server that could not listen (the port taken, the address not up yet at
  // boot) tries again, in ms.
  static constexpr int kRetryMs = 5000;

  ~RemoteControl();
  ScpiServer& server() { return *server_; }
#ifndef _WIN32
  Vxi11Server& vxi11() { return *vxi11_; }
#endif

 private:
  friend std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions&, PanelInstrument::Windows);
  RemoteControl(PanelInstrument::Windows windows, const QHostAddress& address, quint16 port);
  // Tries whatever does not listen yet; the timer calls it again until everything does.
  void listenAll();
  void listenScpi();
  // Says line once: not again while it stays the last thing said about that server.
  void sayOnce(QString& said, const QString& line);
#ifndef _WIN32
  void listenVxi11();
  void vxi11Registered(quint16 port, bool registered, const QString& reason, bool renewed);
#endif

  PanelInstrument instrument_;
#ifndef _WIN32
  std::unique_ptr<Vxi11Server> vxi11_;
  // The raw-socket clients' view: their settings are refused while a VXI-11 link holds the lock.
  std::unique_ptr<GuardedInstrument> scpiInstrument_;
#endif
  std::unique_ptr<ScpiServer> server_;
#ifndef _WIN32
  std::unique_ptr<RpcbindRegistration> rpcbind_;  // made once the core channel listens
  std::unique_ptr<DiscoveryPublisher> discovery_;  // reads instrument_: declared after it
#endif
  QHostAddress address_;
  quint16 port_;
  std::function<void(const QString&)> say_;  // the events window and stderr
  bool scpiUp_ = false;
  QString scpiSaid_, vxi11Said_;  // the last failure said about each server
  QTimer retry_;
};

// Serves as the command line asks (nothing without --scpi). Warns on stderr when the address
// is not a loopback one, and announces the servers on the LAN by mDNS then, each while it
// answers. An address that is not one ends remote control at once (null, the operator keeps
// the panel); a server that cannot listen yet says why, once, in the events window and on
// stderr, and tries again every kRetryMs, saying so when it comes up. VXI-11 is served on the
// same address and kept registered with rpcbind (see RpcbindRegistration), the same way.
std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions& options, PanelInstrument::Windows windows);
