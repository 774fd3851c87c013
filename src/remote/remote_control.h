#pragma once
// Remote control as the program starts it: the instrument on the four windows, the SCPI
// server and the VXI-11 server beside it, alive from after the windows are made until before
// they go.

#include <QString>
#include <memory>

#include "remote/panel_instrument.h"

// What the command line asks of remote control.
struct RemoteOptions {
  bool scpi = false;  // --scpi: serve remote control at all
  QString listen;     // --scpi-listen: the address
  quint16 port = 0;   // --scpi-port: the SCPI socket's port
};
class QHostAddress;
class ScpiServer;
class Vxi11Server;
class GuardedInstrument;
class RpcbindRegistration;
class DiscoveryPublisher;

class RemoteControl {
 public:
  ~RemoteControl();
  ScpiServer& server() { return *server_; }
  Vxi11Server& vxi11() { return *vxi11_; }

 private:
  friend std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions&, PanelInstrument::Windows);
  explicit RemoteControl(PanelInstrument::Windows windows);
  void startVxi11(const QHostAddress& address, TLinkForm* events);
  PanelInstrument instrument_;
  std::unique_ptr<Vxi11Server> vxi11_;
  // The raw-socket clients' view: their settings are refused while a VXI-11 link holds the lock.
  std::unique_ptr<GuardedInstrument> scpiInstrument_;
  std::unique_ptr<ScpiServer> server_;
  std::unique_ptr<RpcbindRegistration> rpcbind_;
  std::unique_ptr<DiscoveryPublisher> discovery_;  // reads instrument_: declared after it
};

// Listens as the command line asks (nothing without --scpi). Warns on stderr when the address
// is not a loopback one, and announces the server on the LAN by mDNS then; when it cannot
// listen, says why on stderr and returns null: the operator keeps the panel. VXI-11 is served
// on the same address when rpcbind takes its registration; when it does not, one line in the
// events window says why and the SCPI server goes on alone.
std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions& options, PanelInstrument::Windows windows);
