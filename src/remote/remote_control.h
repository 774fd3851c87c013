#pragma once
// Remote control as the program starts it: the instrument on the four windows and the SCPI
// server, alive from after the windows are made until before they go.

#include <QString>
#include <memory>

#include "remote/panel_instrument.h"

struct CommandLine;
class ScpiServer;
class DiscoveryPublisher;

class RemoteControl {
 public:
  ~RemoteControl();
  ScpiServer& server() { return *server_; }

 private:
  friend std::unique_ptr<RemoteControl> startRemoteControl(const CommandLine&, PanelInstrument::Windows);
  explicit RemoteControl(PanelInstrument::Windows windows);
  PanelInstrument instrument_;
  std::unique_ptr<ScpiServer> server_;
  std::unique_ptr<DiscoveryPublisher> discovery_;  // reads instrument_: declared after it
};

// Listens as the command line asks (nothing without --scpi). Warns on stderr when the address
// is not a loopback one, and announces the server on the LAN by mDNS then; when it cannot
// listen, says why on stderr and returns null: the operator keeps the panel.
std::unique_ptr<RemoteControl> startRemoteControl(const CommandLine& commandLine, PanelInstrument::Windows windows);
