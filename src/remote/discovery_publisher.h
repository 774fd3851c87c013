#pragma once
// Announces remote control on the LAN by mDNS/DNS-SD through the system's Avahi daemon, the
// way lab software finds instruments: _scpi-raw._tcp on the SCPI port and _vxi-11._tcp on the
// portmapper's port 111, each with the LXI TXT keys taken from the *IDN? answer, and each only
// while it answers (the SCPI server listens; rpcbind has the VXI-11 entry): a client that
// finds a service can reach it. The instance is "QZ418 on <host>", renamed as Avahi asks when
// another service holds the name, and withdrawn when this object goes. Without a daemon it says once that discovery is off, and
// publishes when the daemon comes (back). Main thread only (the Avahi client runs on the Qt
// event loop).

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>

struct AvahiClient;
struct AvahiEntryGroup;
struct AvahiStringList;

class DiscoveryPublisher : public QObject {
 public:
  static constexpr quint16 kPortmapperPort = 111;
  // How often the device behind SerialNumber is looked at (ms).
  static constexpr int kLinkCheckMs = 500;
  enum Service { Scpi, Vxi11, kServices };

  struct Settings {
    QHostAddress address;  // the SCPI server's: a specific one limits the services to its interface
    quint16 scpiPort = 0;
    // The *IDN? answer: manufacturer, model, device, version.
    std::function<std::string()> identity;
    // One line for the operator (the events window).
    std::function<void(const QString&)> log;
  };

  explicit DiscoveryPublisher(Settings settings, QObject* parent = nullptr);
  ~DiscoveryPublisher() override;

  // Whether the service answers; announced only while it does (none at first).
  void setAnswering(Service service, bool answering);

  // Avahi's callbacks (AvahiClientState, AvahiEntryGroupState).
  void clientChanged(AvahiClient* client, int state);
  void groupChanged(AvahiEntryGroup* group, int state);

 private:
  void startClient();
  // Puts the answering services under name_ and commits (none: withdraws them all); says why
  // when Avahi refuses.
  void publish(AvahiEntryGroup* group);
  void rename();  // to the next name Avahi proposes ("... #2")
  void linkCheck();
  AvahiStringList* txt() const;
  void off(int error);
  void stopClient();

  Settings s_;
  int interface_;  // AvahiIfIndex
  int protocol_;   // AvahiProtocol
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
  QString name_;
  std::string identity_;
  bool answering_[kServices] = {};
  bool committed_ = false;  // the group holds the answering services (registering or established)
  bool saidOff_ = false;
  QTimer linkTimer_;
};
