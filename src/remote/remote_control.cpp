#include "remote/remote_control.h"

#include <cstdio>

#include "remote/scpi_server.h"
#include "usb/link_form.h"
#ifndef _WIN32
#include "remote/discovery_publisher.h"
#include "remote/vxi11_protocol.h"
#include "remote/vxi11_registration.h"
#include "remote/vxi11_server.h"
#endif

namespace {

// Remote control's notes go to stderr and, once it exists, to the events window's log.
std::function<void(const QString&)> eventsLog(TLinkForm* events) {
  return [events](const QString& line) {
    std::fprintf(stderr, "qz418: %s\n", line.toLocal8Bit().constData());
    if (events) events->AddLogLine(line);
  };
}

}  // namespace

#ifndef _WIN32
RemoteControl::RemoteControl(PanelInstrument::Windows windows, const QHostAddress& address, quint16 port)
    : instrument_(windows),
      vxi11_(std::make_unique<Vxi11Server>(instrument_)),
      scpiInstrument_(std::make_unique<GuardedInstrument>(instrument_, [v = vxi11_.get()] { return v->locked(); })),
      server_(std::make_unique<ScpiServer>(*scpiInstrument_)),
      address_(address),
      port_(port),
      say_(eventsLog(windows.link)) {}
#else
RemoteControl::RemoteControl(PanelInstrument::Windows windows, const QHostAddress& address, quint16 port)
    : instrument_(windows),
      server_(std::make_unique<ScpiServer>(instrument_)),
      address_(address),
      port_(port),
      say_(eventsLog(windows.link)) {}
#endif

RemoteControl::~RemoteControl() = default;

void RemoteControl::sayOnce(QString& said, const QString& line) {
  if (said == line) return;
  said = line;
  say_(line);
}

void RemoteControl::listenAll() {
  if (!scpiUp_) listenScpi();
  bool all = scpiUp_;
#ifndef _WIN32
  if (!rpcbind_) listenVxi11();
  all = all && rpcbind_;
#endif
  if (all)
    retry_.stop();
  else if (!retry_.isActive())
    retry_.start(kRetryMs);
}

void RemoteControl::listenScpi() {
  const QString where = QStringLiteral("адрес %1, порт %2").arg(address_.toString()).arg(port_);
  if (!server_->listen(address_, port_)) {
    sayOnce(scpiSaid_, QStringLiteral("SCPI выключен: ") + where + QStringLiteral(": ") + server_->errorString());
    return;
  }
  scpiUp_ = true;
  // A server that listens at once needs no line; one that had to wait says that it is up.
  if (!scpiSaid_.isEmpty()) say_(QStringLiteral("SCPI: ") + where);
  scpiSaid_.clear();
#ifndef _WIN32
  if (discovery_) discovery_->setAnswering(DiscoveryPublisher::Scpi, true);
#endif
}

#ifndef _WIN32
void RemoteControl::listenVxi11() {
  if (!vxi11_->listen(address_)) {
    sayOnce(vxi11Said_, QStringLiteral("VXI-11 выключен: ") + vxi11_->errorString());
    return;
  }
  const quint16 port = vxi11_->corePort();
  rpcbind_ = std::make_unique<RpcbindRegistration>(vxi11::kCoreProgram, vxi11::kVersion, port);
  QObject::connect(rpcbind_.get(), &RpcbindRegistration::changed, rpcbind_.get(),
                   [this, port](bool registered, const QString& reason, bool renewed) {
                     vxi11Registered(port, registered, reason, renewed);
                   });
}

void RemoteControl::vxi11Registered(quint16 port, bool registered, const QString& reason, bool renewed) {
  if (!registered) {
    // The core channel goes on listening on its port, for the next registration.
    sayOnce(vxi11Said_, QStringLiteral("VXI-11 выключен: ") + reason);
  } else {
    say_(renewed ? QStringLiteral("VXI-11: запись в rpcbind пропала и сделана снова, inst0 на порту %1").arg(port)
                 : QStringLiteral("VXI-11: inst0 на порту %1").arg(port));
    vxi11Said_.clear();
  }
  if (discovery_) discovery_->setAnswering(DiscoveryPublisher::Vxi11, registered);
}
#endif

std::unique_ptr<RemoteControl> startRemoteControl(const RemoteOptions& options, PanelInstrument::Windows windows) {
  if (!options.scpi) return nullptr;
  QHostAddress address;
  if (!address.setAddress(options.listen)) {
    std::fprintf(stderr, "qz418: SCPI: %s is not an IP address; remote control is off\n",
                 options.listen.toLocal8Bit().constData());
    return nullptr;
  }
#ifdef _WIN32
  const char* servers = "the SCPI server listens";  // no VXI-11 there
#else
  const char* servers = "the SCPI and VXI-11 servers listen";
#endif
  if (!address.isLoopback())
    std::fprintf(stderr,
                 "qz418: warning: %s on %s: anyone who can reach this address can drive the synthesizer's "
                 "outputs\n",
                 servers, options.listen.toLocal8Bit().constData());
  std::unique_ptr<RemoteControl> remote(new RemoteControl(windows, address, options.port));
  RemoteControl* r = remote.get();
#ifndef _WIN32
  if (!address.isLoopback())
    r->discovery_ = std::make_unique<DiscoveryPublisher>(DiscoveryPublisher::Settings{
        address, options.port, [r] { return r->instrument_.identity(); }, r->say_});
#endif
  QObject::connect(&r->retry_, &QTimer::timeout, &r->retry_, [r] { r->listenAll(); });
  r->listenAll();
  return remote;
}
