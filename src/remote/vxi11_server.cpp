#include "remote/vxi11_server.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>

#include "remote/onc_rpc.h"
#include "remote/vxi11_protocol.h"

using namespace vxi11;

namespace {
void send(QTcpSocket* socket, const std::string& record) {
  const std::string framed = rpc::frame(record);
  socket->write(framed.data(), qint64(framed.size()));
}
}  // namespace

int GuardedInstrument::settingRefused() {
  return refused_() ? scpi::CommandProtected : inner_.settingRefused();
}

struct Vxi11Server::Link {
  Link(scpi::Instrument& inner, Vxi11Server* server, std::int32_t lid)
      : id(lid),
        instrument(inner, [server, lid] { return server->lockHolder_ != 0 && server->lockHolder_ != lid; }),
        session(instrument) {}
  std::int32_t id;
  Connection* owner = nullptr;
  GuardedInstrument instrument;
  scpi::Session session;
  scpi::Session::State state = scpi::Session::State::Idle;
  bool scheduled = false;
  std::string input;                 // written, not yet taken by the session
  std::vector<std::string> answers;  // finished answers, oldest first
  std::size_t answerOffset = 0;      // bytes of answers.front() already read
  std::size_t outputBytes = 0;
  bool srqEnabled = false;
  std::string srqHandle;
  bool serviceRequested = false;  // the status byte's MSS bit as last seen
};

struct Vxi11Server::Connection {
  QTcpSocket* socket = nullptr;
  bool abortChannel = false;
  bool dead = false;
  rpc::RecordReader reader{kMaxRecord};
  // The call being answered.
  bool pending = false;
  std::string record;
  rpc::Call call;
  QElapsedTimer since;  // from its arrival
  qint64 ioStart = -1;  // ms after arrival when it had the lock (-1: not yet)
  bool aborted = false;
  // Interrupt channel: this server calls the client there.
  QTcpSocket* interrupt = nullptr;
  std::uint32_t interruptProgram = 0;
  std::uint32_t interruptVersion = 0;
  std::uint32_t interruptXid = 0;
};

Vxi11Server::Vxi11Server(scpi::Instrument& instrument, QObject* parent)
    : QObject(parent), instrument_(instrument), core_(new QTcpServer(this)), abort_(new QTcpServer(this)) {
  core_->setMaxPendingConnections(kMaxConnections);
  abort_->setMaxPendingConnections(kMaxConnections);
  connect(core_, &QTcpServer::newConnection, this, [this] { accept(core_, false); });
  connect(abort_, &QTcpServer::newConnection, this, [this] { accept(abort_, true); });
  pollTimer_.setInterval(kPollMs);
  connect(&pollTimer_, &QTimer::timeout, this, &Vxi11Server::poll);
}

Vxi11Server::~Vxi11Server() { close(); }

bool Vxi11Server::listen(const QHostAddress& address, quint16 port) {
  if (!core_->listen(address, port)) {
    error_ = core_->errorString();
    return false;
  }
  if (!abort_->listen(address, 0)) {
    error_ = abort_->errorString();
    core_->close();
    return false;
  }
  return true;
}

quint16 Vxi11Server::corePort() const { return core_->serverPort(); }
quint16 Vxi11Server::abortPort() const { return abort_->serverPort(); }

void Vxi11Server::close() {
  core_->close();
  abort_->close();
  pollTimer_.stop();
  for (auto& c : connections_) {
    c->socket->disconnect(this);
    c->socket->abort();
    c->socket->deleteLater();
    if (c->interrupt) {
      c->interrupt->abort();
      c->interrupt->deleteLater();
    }
  }
  connections_.clear();
  links_.clear();
  lockHolder_ = 0;
}

void Vxi11Server::accept(QTcpServer* server, bool abortChannel) {
  while (QTcpSocket* socket = server->nextPendingConnection()) {
    const auto open = std::count_if(connections_.begin(), connections_.end(), [abortChannel](const auto& c) {
      return c->abortChannel == abortChannel;
    });
    if (open >= kMaxConnections) {
      socket->abort();
      socket->deleteLater();
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->socket = socket;
    c->abortChannel = abortChannel;
    socket->setParent(this);
    // Qt reads no further ahead than one record: a client that floods is held back by TCP.
    socket->setReadBufferSize(qint64(kMaxRecord) + 8);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Connection* raw = c.get();
    connect(socket, &QTcpSocket::readyRead, this, [this, raw] { processInput(raw); });
    connect(socket, &QTcpSocket::disconnected, this, [this, raw] { drop(raw); });
    connect(socket, &QTcpSocket::errorOccurred, this, [this, raw](QAbstractSocket::SocketError) {
      if (raw->socket->state() != QAbstractSocket::ConnectedState) drop(raw);
    });
    connections_.push_back(std::move(c));
  }
}

void Vxi11Server::drop(Connection* c) {
  // The client is gone, and its links with it: their locks are free for the waiting ones.
  if (c->dead) return;
  c->dead = true;
  c->pending = false;
  c->socket->disconnect(this);
  std::vector<Link*> own;
  for (auto& l : links_)
    if (l->owner == c) own.push_back(l.get());
  for (Link* l : own) destroyLink(l);
  QMetaObject::invokeMethod(
      this,
      [this, c] {
        auto it = std::find_if(connections_.begin(), connections_.end(),
                               [c](const auto& p) { return p.get() == c; });
        if (it == connections_.end()) return;
        c->socket->deleteLater();
        if (c->interrupt) {
          c->interrupt->abort();
          c->interrupt->deleteLater();
        }
        connections_.erase(it);
      },
      Qt::QueuedConnection);
}

void Vxi11Server::resume(Connection* c) {
  // Queued: an answer given from the poll or from another connection's call continues with
  // this connection's next record after the current event.
  QMetaObject::invokeMethod(
      this,
      [this, c] {
        auto it = std::find_if(connections_.begin(), connections_.end(),
                               [c](const auto& p) { return p.get() == c; });
        if (it != connections_.end()) processInput(c);
      },
      Qt::QueuedConnection);
}

void Vxi11Server::processInput(Connection* c) {
  char buf[16384];
  // A client sending many small calls gets a share of the event loop, not all of it.
  for (int records = 0; !c->dead && !c->pending;) {
    if (c->reader.complete()) {
      handle(c, c->reader.take());
      if (++records == 64) {
        if (c->socket->bytesAvailable() > 0) resume(c);
        return;
      }
      continue;
    }
    const qint64 n = c->socket->read(buf, qint64(std::min(c->reader.wanted(), sizeof buf)));
    if (n <= 0) return;
    c->reader.feed(std::string_view(buf, std::size_t(n)));
    if (c->reader.broken()) {
      c->socket->abort();  // the stream has lost its record boundaries
      drop(c);
      return;
    }
  }
}

void Vxi11Server::reply(Connection* c, const std::string& results) {
  c->pending = false;
  if (!c->dead) send(c->socket, rpc::acceptedReply(c->call.xid, rpc::Success, results));
}

void Vxi11Server::replyStatus(Connection* c, int stat) {
  c->pending = false;
  if (!c->dead) send(c->socket, rpc::acceptedReply(c->call.xid, rpc::AcceptStat(stat)));
}

void Vxi11Server::handle(Connection* c, std::string record) {
  c->record = std::move(record);
  c->call = rpc::parseCall(c->record);
  switch (c->call.status) {
    case rpc::Call::Status::Ok:
      break;
    case rpc::Call::Status::WrongRpcVersion:
      send(c->socket, rpc::rpcMismatchReply(c->call.xid));
      return;
    case rpc::Call::Status::NotACall:
      return;  // a reply sent to a server: nothing to answer
    case rpc::Call::Status::Garbage:
      c->socket->abort();  // not even a call header
      drop(c);
      return;
  }
  const std::uint32_t program = c->abortChannel ? kAbortProgram : kCoreProgram;
  c->pending = true;
  c->since.start();
  c->ioStart = -1;
  c->aborted = false;
  if (c->call.program != program) {
    replyStatus(c, rpc::ProgUnavail);
  } else if (c->call.version != kVersion) {
    c->pending = false;
    send(c->socket, rpc::progMismatchReply(c->call.xid, kVersion, kVersion));
  } else if (c->call.procedure == Null) {
    reply(c, {});
  } else if (c->abortChannel ? attemptAbort(c) : attempt(c)) {
    return;
  } else {
    updatePolling();
  }
}

bool Vxi11Server::attemptAbort(Connection* c) {
  std::int32_t lid = 0;
  if (c->call.procedure != DeviceAbort) {
    replyStatus(c, rpc::ProcUnavail);
    return true;
  }
  if (!decodeLink(c->call.args, lid)) {
    replyStatus(c, rpc::GarbageArgs);
    return true;
  }
  rpc::XdrWriter w;
  Link* l = findLink(lid);
  w.i32(l ? NoError : InvalidLink);
  if (l && l->owner && l->owner->pending) {
    l->owner->aborted = true;
    if (attempt(l->owner)) resume(l->owner);
  }
  reply(c, w.data());
  return true;
}

namespace {

// The results of a failed call: the error, then the call's other result fields empty.
std::string failure(std::uint32_t procedure, std::int32_t error) {
  rpc::XdrWriter w;
  w.i32(error);
  switch (procedure) {
    case CreateLink:
      w.u32(0);
      w.u32(0);
      w.u32(0);
      break;
    case DeviceWrite:
    case DeviceReadStb:
      w.u32(0);
      break;
    case DeviceRead:
      w.u32(0);
      w.opaque({});
      break;
    case DeviceDocmd:
      w.opaque({});
      break;
    default:
      break;
  }
  return w.data();
}

bool needsLock(std::uint32_t procedure) {
  switch (procedure) {
    case DeviceWrite:
    case DeviceRead:
    case DeviceReadStb:
    case DeviceTrigger:
    case DeviceClear:
    case DeviceRemote:
    case DeviceLocal:
    case DeviceLock:
    case DeviceDocmd:
      return true;
    default:
      return false;
  }
}

// How long a call may wait, in ms, for a client's timeout: a little less, so that the answer
// is on its way before the client's own RPC timeout (often the same number) gives up on it.
qint64 waitLimit(std::uint32_t timeoutMs) {
  const qint64 t = qint64(timeoutMs);
  return t - std::min<qint64>(t / 10, 100);
}

}  // namespace

bool Vxi11Server::attempt(Connection* c) {
  const std::uint32_t proc = c->call.procedure;
  const std::string_view args = c->call.args;
  auto fail = [&](std::int32_t error) {
    reply(c, failure(proc, error));
    return true;
  };
  auto garbage = [&] {
    replyStatus(c, rpc::GarbageArgs);
    return true;
  };
  rpc::XdrWriter w;

  if (proc == CreateLink) {
    CreateLinkParms a;
    if (!decode(args, a)) return garbage();
    QString device = QString::fromLatin1(a.device.data(), qsizetype(a.device.size()));
    if (device.compare(QLatin1String("inst0"), Qt::CaseInsensitive) != 0) return fail(DeviceNotAccessible);
    if (int(links_.size()) >= kMaxLinks) return fail(OutOfResources);
    if (a.lockDevice && lockHolder_ != 0) {
      if (c->since.elapsed() < waitLimit(a.lockTimeout)) return false;
      return fail(DeviceLocked);
    }
    const std::int32_t lid = nextLid_;
    nextLid_ = nextLid_ == INT32_MAX ? 1 : nextLid_ + 1;
    auto link = std::make_unique<Link>(instrument_, this, lid);
    link->owner = c;
    links_.push_back(std::move(link));
    if (a.lockDevice) lockHolder_ = lid;
    w.i32(NoError);
    w.i32(lid);
    w.u32(abortPort());
    w.u32(kMaxRecvSize);
    reply(c, w.data());
    return true;
  }
  if (proc == CreateIntrChan) {
    RemoteFunc a;
    if (!decode(args, a)) return garbage();
    if (c->interrupt) return fail(ChannelAlreadyEstablished);
    if (a.family != 0) return fail(NotSupported);  // TCP only
    // Only back to the client's own address: a client cannot make this program connect to a
    // third host by naming it.
    c->interrupt = new QTcpSocket(this);
    c->interruptProgram = a.program;
    c->interruptVersion = a.version;
    QTcpSocket* s = c->interrupt;
    connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });  // the client's void replies
    s->connectToHost(c->socket->peerAddress(), a.hostPort);
    return fail(NoError);
  }
  if (proc == DestroyIntrChan) {
    if (!args.empty()) return garbage();
    if (!c->interrupt) return fail(ChannelNotEstablished);
    c->interrupt->abort();
    c->interrupt->deleteLater();
    c->interrupt = nullptr;
    return fail(NoError);
  }

  // Every other call names a link, first in its arguments.
  std::int32_t lid = 0;
  GenericParms generic;
  WriteParms write;
  ReadParms read;
  LockParms lock;
  EnableSrqParms srq;
  std::int32_t flags = 0;
  std::uint32_t lockTimeout = 0;
  std::uint32_t ioTimeout = 0;
  bool ok = true;
  switch (proc) {
    case DeviceWrite:
      ok = decode(args, write);
      lid = write.lid, flags = write.flags, lockTimeout = write.lockTimeout, ioTimeout = write.ioTimeout;
      if (ok && write.data.size() > kMaxRecvSize) return fail(ParameterError);
      break;
    case DeviceRead:
      ok = decode(args, read);
      lid = read.lid, flags = read.flags, lockTimeout = read.lockTimeout, ioTimeout = read.ioTimeout;
      break;
    case DeviceReadStb:
    case DeviceTrigger:
    case DeviceClear:
    case DeviceRemote:
    case DeviceLocal:
      ok = decode(args, generic);
      lid = generic.lid, flags = generic.flags, lockTimeout = generic.lockTimeout;
      break;
    case DeviceLock:
      ok = decode(args, lock);
      lid = lock.lid, flags = lock.flags, lockTimeout = lock.lockTimeout;
      break;
    case DeviceUnlock:
    case DestroyLink:
      ok = decodeLink(args, lid);
      break;
    case DeviceEnableSrq:
      ok = decode(args, srq);
      lid = srq.lid;
      break;
    case DeviceDocmd: {
      rpc::XdrReader r(args);
      lid = r.i32();
      flags = r.i32();
      ioTimeout = r.u32();
      lockTimeout = r.u32();
      ok = r.ok();
      break;
    }
    default:
      replyStatus(c, rpc::ProcUnavail);
      return true;
  }
  if (!ok) return garbage();
  Link* l = findLink(lid);
  if (!l || l->owner != c) return fail(InvalidLink);
  if (c->aborted) return fail(Aborted);
  if (needsLock(proc) && lockHolder_ != 0 && lockHolder_ != lid) {
    if (!(flags & WaitLock) || c->since.elapsed() >= waitLimit(lockTimeout)) return fail(DeviceLocked);
    return false;
  }
  if (c->ioStart < 0) c->ioStart = c->since.elapsed();
  const bool ioTimedOut = c->since.elapsed() - c->ioStart >= waitLimit(ioTimeout);

  switch (proc) {
    case DeviceWrite: {
      if (!l->input.empty() && l->input.size() + write.data.size() > kMaxLinkInput) {
        if (ioTimedOut) return fail(IoTimeout);
        return false;
      }
      l->input += write.data;
      // END closes the program message: the session reads one message per line.
      if ((flags & End) && (write.data.empty() || write.data.back() != '\n')) l->input += '\n';
      schedule(l);
      w.i32(NoError);
      w.u32(std::uint32_t(write.data.size()));
      reply(c, w.data());
      return true;
    }
    case DeviceRead: {
      if (l->outputBytes == 0) {
        if (ioTimedOut) return fail(IoTimeout);
        return false;
      }
      std::int32_t reason = 0;
      const std::string data = readAnswer(l, read.requestSize, flags & TermCharSet, read.termChar, reason);
      w.i32(NoError);
      w.i32(reason);
      w.opaque(data);
      reply(c, w.data());
      checkServiceRequest(l);
      return true;
    }
    case DeviceReadStb:
      w.i32(NoError);
      w.u32(statusByte(l));
      reply(c, w.data());
      return true;
    case DeviceTrigger:
    case DeviceDocmd:
      return fail(NotSupported);
    case DeviceClear:
      clearLink(l);
      return fail(NoError);
    case DeviceRemote:
    case DeviceLocal:
      // The operator's panel stays usable in remote: there is no local lockout to set.
      return fail(NoError);
    case DeviceLock:
      lockHolder_ = lid;
      return fail(NoError);
    case DeviceUnlock:
      if (lockHolder_ != lid) return fail(NoLockHeld);
      releaseLock(lid);
      return fail(NoError);
    case DeviceEnableSrq:
      l->srqEnabled = srq.enable;
      l->srqHandle.assign(srq.handle);
      l->serviceRequested = (statusByte(l) & scpi::StbRequestService) != 0;  // only a rise from now on
      return fail(NoError);
    case DestroyLink:
      destroyLink(l);
      return fail(NoError);
    default:
      return fail(NotSupported);
  }
}

std::string Vxi11Server::readAnswer(Link* l, std::uint32_t requestSize, bool termCharSet, char termChar,
                                    std::int32_t& reason) {
  const std::string& front = l->answers.front();
  std::size_t n = std::min<std::size_t>(front.size() - l->answerOffset, requestSize);
  reason = 0;
  if (termCharSet) {
    const std::size_t at = front.find(termChar, l->answerOffset);
    if (at != std::string::npos && at - l->answerOffset < n) {
      n = at - l->answerOffset + 1;
      reason |= ReasonTermChar;
    }
  }
  std::string data = front.substr(l->answerOffset, n);
  l->answerOffset += n;
  l->outputBytes -= n;
  if (l->answerOffset == front.size()) {
    reason |= ReasonEnd;
    l->answers.erase(l->answers.begin());
    l->answerOffset = 0;
  }
  if (n == requestSize) reason |= ReasonRequestCount;
  return data;
}

Vxi11Server::Link* Vxi11Server::findLink(std::int32_t lid) const {
  for (const auto& l : links_)
    if (l->id == lid) return l.get();
  return nullptr;
}

void Vxi11Server::destroyLink(Link* l) {
  releaseLock(l->id);
  auto it = std::find_if(links_.begin(), links_.end(), [l](const auto& p) { return p.get() == l; });
  if (it != links_.end()) links_.erase(it);
}

void Vxi11Server::releaseLock(std::int32_t lid) {
  if (lockHolder_ != lid) return;
  lockHolder_ = 0;
  // A waiting call takes the lock at the next poll; waking them here would let the first
  // connection in the list win whatever the order the calls came in.
  updatePolling();
}

void Vxi11Server::clearLink(Link* l) {
  l->session.clearIo();
  l->input.clear();
  l->answers.clear();
  l->answerOffset = 0;
  l->outputBytes = 0;
  l->state = scpi::Session::State::Idle;
  checkServiceRequest(l);
}

void Vxi11Server::schedule(Link* l) {
  if (l->scheduled) return;
  l->scheduled = true;
  const std::int32_t lid = l->id;
  // Queued: the exchange's hand-overs waiting in the event loop go first.
  QMetaObject::invokeMethod(
      this,
      [this, lid] {
        if (Link* link = findLink(lid)) {
          link->scheduled = false;
          serve(link);
        }
      },
      Qt::QueuedConnection);
}

void Vxi11Server::serve(Link* l) {
  std::string out;
  std::size_t mark = 0;
  std::vector<std::size_t> ends;
  // Each call of enough() follows at most one finished line: its answer is whole in out.
  auto cut = [&] {
    if (out.size() > mark) ends.push_back(mark = out.size());
  };
  QElapsedTimer slice;
  slice.start();
  for (;;) {
    while (!l->input.empty()) {
      const std::size_t n = std::min(l->session.space(), l->input.size());
      if (n == 0) break;
      l->session.receive(std::string_view(l->input).substr(0, n));
      l->input.erase(0, n);
    }
    l->state = l->session.run(out, [&] {
      cut();
      return slice.elapsed() >= kSliceMs;
    });
    cut();
    if (l->state != scpi::Session::State::Idle || l->input.empty() || slice.elapsed() >= kSliceMs) break;
  }
  std::size_t begin = 0;
  for (std::size_t end : ends) {
    if (l->outputBytes + (end - begin) > kMaxPendingOutput) {
      l->session.pushError(scpi::QueryInterrupted);  // the client does not read: drop the answer
    } else {
      l->answers.push_back(out.substr(begin, end - begin));
      l->outputBytes += end - begin;
    }
    begin = end;
  }
  if (l->state == scpi::Session::State::Busy || (l->state == scpi::Session::State::Idle && !l->input.empty()))
    schedule(l);
  checkServiceRequest(l);
  Connection* c = l->owner;
  if (c && c->pending && attempt(c)) resume(c);
  updatePolling();
}

void Vxi11Server::poll() {
  for (std::size_t i = 0; i < links_.size(); ++i) {
    Link* l = links_[i].get();
    if (!l->scheduled && (l->state == scpi::Session::State::Waiting || l->session.opcPending())) serve(l);
  }
  for (std::size_t i = 0; i < connections_.size(); ++i) {
    Connection* c = connections_[i].get();
    if (!c->dead && c->pending && attempt(c)) resume(c);
  }
  updatePolling();
}

void Vxi11Server::updatePolling() {
  bool waiting = std::any_of(connections_.begin(), connections_.end(),
                             [](const auto& c) { return !c->dead && c->pending; });
  waiting = waiting || std::any_of(links_.begin(), links_.end(), [](const auto& l) {
              return l->state == scpi::Session::State::Waiting || l->session.opcPending();
            });
  if (waiting && !pollTimer_.isActive())
    pollTimer_.start();
  else if (!waiting)
    pollTimer_.stop();
}

std::uint8_t Vxi11Server::statusByte(const Link* l) const {
  std::uint8_t stb = l->session.statusByte();
  if (l->outputBytes > 0) stb |= scpi::StbMessageAvailable;
  if (stb & l->session.sre() & ~scpi::StbRequestService) stb |= scpi::StbRequestService;
  return stb;
}

void Vxi11Server::checkServiceRequest(Link* l) {
  const bool mss = (statusByte(l) & scpi::StbRequestService) != 0;
  const bool rose = mss && !l->serviceRequested;
  l->serviceRequested = mss;
  Connection* c = l->owner;
  if (!rose || !l->srqEnabled || !c || !c->interrupt) return;
  rpc::XdrWriter args;
  args.opaque(l->srqHandle);
  send(c->interrupt, rpc::callMessage(++c->interruptXid, c->interruptProgram, c->interruptVersion,
                                      DeviceIntrSrq, args.data()));
}
