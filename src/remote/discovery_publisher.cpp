#include "remote/discovery_publisher.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>

#include <QNetworkInterface>
#include <QStringList>
#include <algorithm>
#include <vector>

#include "remote/discovery_poll.h"

namespace {

// A DNS-SD instance name is one DNS label: at most 63 bytes of UTF-8.
constexpr qsizetype kMaxNameBytes = 63;

// In the order of DiscoveryPublisher::Service.
const char* const kServiceTypes[] = {"_scpi-raw._tcp", "_vxi-11._tcp"};

QString instanceName(const char* host) {
  QString name = QStringLiteral("QZ418 on ") + QString::fromUtf8(host ? host : "");
  while (name.toUtf8().size() > kMaxNameBytes) name.chop(1);
  return name;
}

// The *IDN? answer's four fields; a missing one is empty.
std::vector<std::string> idnFields(const std::string& idn) {
  std::vector<std::string> f(1);
  for (char c : idn) {
    if (c == ',')
      f.emplace_back();
    else
      f.back() += c;
  }
  f.resize(4);
  return f;
}

// The interface a server bound to address is reachable on; every one for a wildcard address.
int interfaceOf(const QHostAddress& a) {
  if (a == QHostAddress(QHostAddress::AnyIPv4) || a == QHostAddress(QHostAddress::AnyIPv6) ||
      a == QHostAddress(QHostAddress::Any))
    return AVAHI_IF_UNSPEC;
  for (const QNetworkInterface& i : QNetworkInterface::allInterfaces())
    for (const QNetworkAddressEntry& e : i.addressEntries())
      if (e.ip().isEqual(a, QHostAddress::TolerantConversion)) return i.index();
  return AVAHI_IF_UNSPEC;
}

void onClient(AvahiClient* c, AvahiClientState state, void* self) {
  static_cast<DiscoveryPublisher*>(self)->clientChanged(c, state);
}

void onGroup(AvahiEntryGroup* g, AvahiEntryGroupState state, void* self) {
  static_cast<DiscoveryPublisher*>(self)->groupChanged(g, state);
}

}  // namespace

DiscoveryPublisher::DiscoveryPublisher(Settings settings, QObject* parent)
    : QObject(parent), s_(std::move(settings)), interface_(AVAHI_IF_UNSPEC), protocol_(AVAHI_PROTO_UNSPEC) {
  // A server bound to one address is reachable on that address's interface only: announcing
  // it elsewhere would send clients to addresses nobody listens on.
  const QHostAddress& a = s_.address;
  if (a == QHostAddress(QHostAddress::AnyIPv4)) {
    protocol_ = AVAHI_PROTO_INET;
  } else if (a == QHostAddress(QHostAddress::AnyIPv6)) {
    protocol_ = AVAHI_PROTO_INET6;
  } else if (a != QHostAddress(QHostAddress::Any)) {
    protocol_ = a.protocol() == QAbstractSocket::IPv6Protocol ? AVAHI_PROTO_INET6 : AVAHI_PROTO_INET;
  }
  linkTimer_.setInterval(kLinkCheckMs);
  connect(&linkTimer_, &QTimer::timeout, this, &DiscoveryPublisher::linkCheck);
  linkTimer_.start();
  startClient();
}

DiscoveryPublisher::~DiscoveryPublisher() { stopClient(); }

void DiscoveryPublisher::setAnswering(Service service, bool answering) {
  if (answering_[service] == answering) return;
  answering_[service] = answering;
  // Without a running client the next RUNNING publishes what answers then.
  if (group_ && client_ && avahi_client_get_state(client_) == AVAHI_CLIENT_S_RUNNING) publish(group_);
}

void DiscoveryPublisher::startClient() {
  int error = 0;
  // Without the daemon the client waits for it (state CONNECTING) instead of failing; only a
  // missing system bus fails here.
  client_ = avahi_client_new(qtAvahiPoll(), AVAHI_CLIENT_NO_FAIL, onClient, this, &error);
  if (!client_) {
    group_ = nullptr;  // went with the client
    off(error);
  }
}

void DiscoveryPublisher::stopClient() {
  // Freeing the group withdraws the services (the daemon sends their goodbyes).
  if (group_) avahi_entry_group_free(group_);
  group_ = nullptr;
  if (client_) avahi_client_free(client_);
  client_ = nullptr;
  committed_ = false;
}

// Called from inside avahi_client_new() too, before client_ is set: only c is used.
void DiscoveryPublisher::clientChanged(AvahiClient* c, int state) {
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      if (name_.isEmpty()) name_ = instanceName(avahi_client_get_host_name(c));
      if (!group_ && !(group_ = avahi_entry_group_new(c, onGroup, this))) {
        off(avahi_client_errno(c));
        return;
      }
      publish(group_);
      break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
      // The host name is being (re)established: the services point at it, so they wait for
      // the next RUNNING.
      if (group_) avahi_entry_group_reset(group_);
      committed_ = false;
      break;
    case AVAHI_CLIENT_CONNECTING:
      off(AVAHI_ERR_NO_DAEMON);
      break;
    case AVAHI_CLIENT_FAILURE: {
      const int error = avahi_client_errno(c);
      off(error);
      // The daemon went away: a new client waits for it to come back. Not from inside the
      // client's own callback, which is still using it.
      if (error == AVAHI_ERR_DISCONNECTED)
        QTimer::singleShot(0, this, [this] {
          stopClient();
          startClient();
        });
      break;
    }
  }
}

void DiscoveryPublisher::groupChanged(AvahiEntryGroup* g, int state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED: {
      saidOff_ = false;
      QStringList services;
      for (int service = 0; service < kServices; ++service)
        if (answering_[service]) services << QString::fromLatin1(kServiceTypes[service]);
      s_.log(QStringLiteral("mDNS: remote control announced as \"%1\" (%2)").arg(name_, services.join(u", ")));
      break;
    }
    case AVAHI_ENTRY_GROUP_COLLISION:
      // Another host holds the name; the daemon has withdrawn ours.
      rename();
      publish(g);
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      committed_ = false;
      off(avahi_client_errno(avahi_entry_group_get_client(g)));
      break;
    default:
      break;
  }
}

void DiscoveryPublisher::rename() {
  char* next = avahi_alternative_service_name(name_.toUtf8().constData());
  name_ = QString::fromUtf8(next);
  avahi_free(next);
}

void DiscoveryPublisher::publish(AvahiEntryGroup* g) {
  avahi_entry_group_reset(g);  // withdraws what was announced
  committed_ = false;
  if (std::none_of(std::begin(answering_), std::end(answering_), [](bool a) { return a; })) return;
  // The address's interface as it is now: at boot the address may come after the program.
  interface_ = interfaceOf(s_.address);
  identity_ = s_.identity();
  AvahiStringList* list = txt();
  int r = 0;
  // Another service on this host already holds the name: the next name, as for a collision
  // on the network. Bounded, in case the daemon keeps refusing.
  for (int attempt = 0; attempt < 20; ++attempt) {
    avahi_entry_group_reset(g);
    const QByteArray name = name_.toUtf8();
    r = 0;
    for (int service = 0; service < kServices && r >= 0; ++service) {
      if (!answering_[service]) continue;
      const quint16 port = service == Scpi ? s_.scpiPort : kPortmapperPort;
      r = avahi_entry_group_add_service_strlst(g, interface_, protocol_, AvahiPublishFlags(0), name.constData(),
                                               kServiceTypes[service], nullptr, nullptr, port, list);
    }
    if (r != AVAHI_ERR_COLLISION) break;
    rename();
  }
  if (r >= 0) r = avahi_entry_group_commit(g);
  avahi_string_list_free(list);
  committed_ = r >= 0;
  if (r < 0) off(r);
}

AvahiStringList* DiscoveryPublisher::txt() const {
  const std::vector<std::string> f = idnFields(identity_);
  const std::string items[] = {"txtvers=1", "Manufacturer=" + f[0], "Model=" + f[1], "SerialNumber=" + f[2],
                               "FirmwareVersion=" + f[3]};
  // avahi_string_list_add() puts each item in front: added last to first, txtvers leads.
  AvahiStringList* list = nullptr;
  for (auto i = std::rbegin(items); i != std::rend(items); ++i)
    list = avahi_string_list_add(list, i->c_str());
  return list;
}

void DiscoveryPublisher::linkCheck() {
  const std::string now = s_.identity();
  if (now == identity_) return;
  identity_ = now;
  if (!committed_) return;  // the next publish takes it
  AvahiStringList* list = txt();
  const QByteArray name = name_.toUtf8();
  for (int service = 0; service < kServices; ++service)
    if (answering_[service])
      avahi_entry_group_update_service_txt_strlst(group_, interface_, protocol_, AvahiPublishFlags(0),
                                                  name.constData(), kServiceTypes[service], nullptr, list);
  avahi_string_list_free(list);
}

void DiscoveryPublisher::off(int error) {
  committed_ = false;
  if (saidOff_) return;
  saidOff_ = true;
  s_.log(QStringLiteral("mDNS: Avahi: %1; discovery is off").arg(QString::fromUtf8(avahi_strerror(error))));
}
