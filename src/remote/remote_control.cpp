#include "remote/remote_control.h"

#include <QHostAddress>
#include <cstdio>

#include "remote/discovery_publisher.h"
#include "remote/scpi_server.h"
#include "shell/command_line.h"
#include "usb/link_form.h"

RemoteControl::RemoteControl(PanelInstrument::Windows windows)
    : instrument_(windows), server_(std::make_unique<ScpiServer>(instrument_)) {}

RemoteControl::~RemoteControl() = default;

std::unique_ptr<RemoteControl> startRemoteControl(const CommandLine& commandLine, PanelInstrument::Windows windows) {
  if (!commandLine.scpi) return nullptr;
  QHostAddress address;
  if (!address.setAddress(commandLine.scpiListen)) {
    std::fprintf(stderr, "qz418: SCPI: %s is not an IP address; remote control is off\n",
                 commandLine.scpiListen.toLocal8Bit().constData());
    return nullptr;
  }
  if (!address.isLoopback())
    std::fprintf(stderr,
                 "qz418: warning: the SCPI server listens on %s: anyone who can reach this address "
                 "can drive the synthesizer's outputs\n",
                 commandLine.scpiListen.toLocal8Bit().constData());
  std::unique_ptr<RemoteControl> remote(new RemoteControl(windows));
  if (!remote->server_->listen(address, commandLine.scpiPort)) {
    std::fprintf(stderr, "qz418: SCPI: cannot listen on %s port %u: %s; remote control is off\n",
                 commandLine.scpiListen.toLocal8Bit().constData(), unsigned(commandLine.scpiPort),
                 remote->server_->errorString().toLocal8Bit().constData());
    return nullptr;
  }
  if (!address.isLoopback()) {
    TLinkForm* events = windows.link;
    auto log = [events](const QString& line) {
      std::fprintf(stderr, "qz418: %s\n", line.toLocal8Bit().constData());
      if (events) events->AddLogLine(line);
    };
    PanelInstrument* instrument = &remote->instrument_;
    remote->discovery_ = std::make_unique<DiscoveryPublisher>(DiscoveryPublisher::Settings{
        address, remote->server_->port(), [instrument] { return instrument->identity(); }, log});
  }
  return remote;
}
