#include "remote/remote_control.h"

#include <QHostAddress>
#include <cstdio>
#include <functional>

#include "remote/discovery_publisher.h"
#include "remote/scpi_server.h"
#include "remote/vxi11_protocol.h"
#include "remote/vxi11_registration.h"
#include "remote/vxi11_server.h"
#include "usb/link_form.h"

namespace {

// Remote control's notes go to stderr and, once it exists, to the events window's log.
std::function<void(const QString&)> eventsLog(TLinkForm* events) {
  return [events](const QString& line) {
    std::fprintf(stderr, "qz418: %s\n", line.toLocal8Bit().constData());
    if (events) events->AddLogLine(line);
  };
}

}  // namespace

RemoteControl::RemoteControl(PanelInstrument::Windows windows)
    : instrument_(windows),
      vxi11_(std::make_unique<Vxi11Server>(instrument_)),
      scpiInstrument_(std::make_unique<GuardedInstrument>(instrument_, [v = vxi11_.get()] { return v->locked(); })),
      server_(std::make_unique<ScpiServer>(*scpiInstrument_)) {}

RemoteControl::~RemoteControl() = default;

void RemoteControl::startVxi11(const QHostAddress& address, TLinkForm* events) {
  auto say = eventsLog(events);
  if (!vxi11_->listen(address)) {
    say(QStringLiteral("VXI-11 выключен: ") + vxi11_->errorString());
    return;
  }
  const quint16 port = vxi11_->corePort();
  rpcbind_ = std::make_unique<RpcbindRegistration>(vxi11::kCoreProgram, vxi11::kVersion, port);
  Vxi11Server* server = vxi11_.get();
  QObject::connect(rpcbind_.get(), &RpcbindRegistration::finished, server,
                   [server, say, port](bool registered, const QString& reason) {
                     if (registered) {
                       say(QStringLiteral("VXI-11: inst0 на порту %1").arg(port));
                     } else {
                       server->close();  // nobody could find it; the SCPI socket goes on
                       say(QStringLiteral("VXI-11 выключен: ") + reason);
                     }
                   });
}

std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions& options, PanelInstrument::Windows windows) {
  if (!options.scpi) return nullptr;
  QHostAddress address;
  if (!address.setAddress(options.listen)) {
    std::fprintf(stderr, "qz418: SCPI: %s is not an IP address; remote control is off\n",
                 options.listen.toLocal8Bit().constData());
    return nullptr;
  }
  if (!address.isLoopback())
    std::fprintf(stderr,
                 "qz418: warning: the SCPI and VXI-11 servers listen on %s: anyone who can reach this address "
                 "can drive the synthesizer's outputs\n",
                 options.listen.toLocal8Bit().constData());
  std::unique_ptr<RemoteControl> remote(new RemoteControl(windows));
  if (!remote->server_->listen(address, options.port)) {
    std::fprintf(stderr, "qz418: SCPI: cannot listen on %s port %u: %s; remote control is off\n",
                 options.listen.toLocal8Bit().constData(), unsigned(options.port),
                 remote->server_->errorString().toLocal8Bit().constData());
    return nullptr;
  }
  remote->startVxi11(address, windows.link);
  if (!address.isLoopback()) {
    auto log = eventsLog(windows.link);
    PanelInstrument* instrument = &remote->instrument_;
    remote->discovery_ = std::make_unique<DiscoveryPublisher>(DiscoveryPublisher::Settings{
        address, remote->server_->port(), [instrument] { return instrument->identity(); }, log});
  }
  return remote;
}
