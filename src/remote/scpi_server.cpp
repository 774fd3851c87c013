#include "remote/scpi_server.h"

#include <QTcpSocket>
#include <algorithm>

namespace {

struct Connection : remote::Client::Data {
  explicit Connection(scpi::Instrument& instrument) : session(instrument) {
    // A raw socket knows nothing of the client's timeout: every *OPC? and *WAI ends this soon.
    session.setWaitLimit(scpi::Session::kSocketWaitMs);
  }
  scpi::Session session;
};

remote::ClientChannel::Limits limits() {
  remote::ClientChannel::Limits l;
  l.maxConnections = ScpiServer::kMaxConnections;
  l.readBuffer = qint64(scpi::Session::kMaxLine) + 2;  // a client that floods is held back by TCP
  return l;
}

}  // namespace

ScpiServer::ScpiServer(scpi::Instrument& instrument, QObject* parent)
    : QObject(parent),
      instrument_(instrument),
      channel_(limits(), {[this](remote::Client& c, const remote::Slice& s) { return serve(c, s); }, {}}, this) {}

ScpiServer::~ScpiServer() { channel_.close(); }

bool ScpiServer::listen(const QHostAddress& address, quint16 port) { return channel_.listen(address, port); }

bool ScpiServer::serve(remote::Client& client, const remote::Slice& slice) {
  if (!client.data) client.data = std::make_unique<Connection>(instrument_);
  scpi::Session& session = static_cast<Connection&>(*client.data).session;
  QTcpSocket* socket = client.socket();
  // Take what the session has room for; the rest waits in the socket.
  char buf[16384];
  for (;;) {
    const std::size_t room = session.space();
    if (room == 0) break;
    const qint64 n = socket->read(buf, qint64(std::min(room, sizeof buf)));
    if (n <= 0) break;
    const std::string_view got(buf, std::size_t(n));
    if (got.find('\n') != std::string_view::npos) client.touch();
    session.receive(got);
  }
  std::string out;
  const qint64 pending = socket->bytesToWrite();
  const qint64 pause = channel_.limits().pauseOutput;
  const auto state =
      session.run(out, [&] { return slice.over() || pending + qint64(out.size()) > pause; });
  if (!out.empty()) socket->write(out.data(), qint64(out.size()));
  if (state == scpi::Session::State::Waiting || session.opcPending()) channel_.wakeOnProgress(client);
  return state == scpi::Session::State::Busy ||
         (state == scpi::Session::State::Idle && socket->bytesAvailable() > 0 && session.space() > 0);
}
