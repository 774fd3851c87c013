#include "remote/vxi11_server.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <algorithm>

#include "remote/onc_rpc.h"
#include "remote/vxi11_protocol.h"

using namespace vxi11;
using remote::Client;
using remote::ClientChannel;

namespace {
void send(QTcpSocket* socket, const std::string& record) {
  const std::string framed = rpc::frame(record);
  socket->write(framed.data(), qint64(framed.size()));
}

ClientChannel::Limits limits() {
  ClientChannel::Limits l;
  l.maxConnections = Vxi11Server::kMaxConnections;
  l.readBuffer = qint64(Vxi11Server::kMaxRecord) + 8;  // no further ahead than one record
  l.quickAck = false;
  return l;
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
  Client* owner = nullptr;
  QHostAddress creator;  // only device_abort from this address is honoured
  GuardedInstrument instrument;
  scpi::Session session;
  scpi::Session::State state = scpi::Session::State::Idle;
  std::string input;                 // written, not yet taken by the session
  bool messageOpen = false;          // the last write did not end its message
  std::vector<std::string> answers;  // finished answers, oldest first
  std::size_t answerOffset = 0;      // bytes of answers.front() already read
  std::size_t outputBytes = 0;
  bool srqEnabled = false;
  std::string srqHandle;
  bool serviceRequested = false;  // the status byte's MSS bit as last seen
};

// A connection of either channel: the call being answered, and the interrupt channel.
struct Vxi11Server::Conn : Client::Data {
  ~Conn() override {
    if (interrupt) {
      interrupt->abort();
      interrupt->deleteLater();
    }
  }
  rpc::RecordReader reader{kMaxRecord};
  bool pending = false;
  std::string record;
  rpc::Call call;
  QElapsedTimer since;  // from its arrival
  qint64 ioStart = -1;  // ms after arrival when it had the lock (-1: not yet)
  qint64 wakeAt = -1;   // ms after arrival when a waiting call must be looked at again
  bool aborted = false;
  // Interrupt channel: this server calls the client there.
  QTcpSocket* interrupt = nullptr;
  std::uint32_t interruptProgram = 0;
  std::uint32_t interruptVersion = 0;
  std::uint32_t interruptXid = 0;
};

Vxi11Server::Vxi11Server(scpi::Instrument& instrument, QObject* parent)
    : QObject(parent),
      instrument_(instrument),
      core_(limits(), {[this](Client& c, const remote::Slice& s) { return serve(c, s, false); },
                       [this](Client& c) { closed(c); }},
            this),
      abort_(limits(), {[this](Client& c, const remote::Slice& s) { return serve(c, s, true); },
                        [this](Client& c) { closed(c); }},
             this) {}

Vxi11Server::~Vxi11Server() { close(); }

bool Vxi11Server::listen(const QHostAddress& address, quint16 port) {
  if (!core_.listen(address, port)) {
    error_ = core_.errorString();
    return false;
  }
  if (!abort_.listen(address, 0)) {
    error_ = abort_.errorString();
    core_.close();
    return false;
  }
  return true;
}

void Vxi11Server::close() {
  core_.close();
  abort_.close();
  links_.clear();
  lockHolder_ = 0;
}

void Vxi11Server::closed(Client& c) {
  // The client is gone, or gave way to a new one: its links go, and their lock is free at once.
  std::vector<Link*> own;
  for (auto& l : links_)
    if (l->owner == &c) own.push_back(l.get());
  for (Link* l : own) destroyLink(l);
}

bool Vxi11Server::nextRecord(Client& c) {
  Conn& d = static_cast<Conn&>(*c.data);
  char buf[16384];
  while (!d.reader.complete()) {
    const qint64 n = c.socket()->read(buf, qint64(std::min(d.reader.wanted(), sizeof buf)));
    if (n <= 0) return false;
    d.reader.feed(std::string_view(buf, std::size_t(n)));
    if (d.reader.broken()) return false;
  }
  return true;
}

bool Vxi11Server::serve(Client& c, const remote::Slice& slice, bool abortChannel) {
  if (!c.data) c.data = std::make_unique<Conn>();
  Conn& d = static_cast<Conn&>(*c.data);
  bool more = false;
  // The links' sessions first: what they answer may end the call that waits.
  for (std::size_t i = 0; i < links_.size(); ++i)
    if (links_[i]->owner == &c && runLink(links_[i].get(), slice)) more = true;
  if (d.pending) attempt(c);
  while (!d.pending && !slice.over() && !c.closing()) {
    if (!nextRecord(c)) {
      if (d.reader.broken()) c.channel().drop(c);  // the stream has lost its record boundaries
      return more;
    }
    c.touch();
    d.record = d.reader.take();
    handle(c, abortChannel);
  }
  if (c.closing()) return false;
  if (d.pending) {
    if (d.wakeAt >= 0) c.channel().wakeAfter(c, std::max<qint64>(0, d.wakeAt - d.since.elapsed()));
    return more;
  }
  return more || d.reader.complete() || c.socket()->bytesAvailable() > 0;
}

void Vxi11Server::reply(Client& c, const std::string& results, int stat) {
  Conn& d = static_cast<Conn&>(*c.data);
  d.pending = false;
  if (!c.closing()) send(c.socket(), rpc::acceptedReply(d.call.xid, rpc::AcceptStat(stat), results));
}

void Vxi11Server::handle(Client& c, bool abortChannel) {
  Conn& d = static_cast<Conn&>(*c.data);
  d.call = rpc::parseCall(d.record);
  switch (d.call.status) {
    case rpc::Call::Status::Ok:
      break;
    case rpc::Call::Status::WrongRpcVersion:
      send(c.socket(), rpc::rpcMismatchReply(d.call.xid));
      return;
    case rpc::Call::Status::NotACall:
      return;  // a reply sent to a server: nothing to answer
    case rpc::Call::Status::Garbage:
      c.channel().drop(c);  // not even a call header
      return;
  }
  const std::uint32_t program = abortChannel ? kAbortProgram : kCoreProgram;
  d.pending = true;
  d.since.start();
  d.ioStart = -1;
  d.wakeAt = -1;
  d.aborted = false;
  if (d.call.program != program) {
    reply(c, {}, rpc::ProgUnavail);
  } else if (d.call.version != kVersion) {
    d.pending = false;
    send(c.socket(), rpc::progMismatchReply(d.call.xid, kVersion, kVersion));
  } else if (d.call.procedure == Null) {
    reply(c, {});
  } else if (abortChannel) {
    abortCall(c);
  } else {
    attempt(c);
  }
}

void Vxi11Server::abortCall(Client& c) {
  Conn& d = static_cast<Conn&>(*c.data);
  std::int32_t lid = 0;
  if (d.call.procedure != DeviceAbort) return reply(c, {}, rpc::ProcUnavail);
  if (!decodeLink(d.call.args, lid)) return reply(c, {}, rpc::GarbageArgs);
  rpc::XdrWriter w;
  Link* l = findLink(lid);
  // Another host's abort is told what an unknown link gets: it learns nothing of the link.
  if (l && l->creator != c.peer()) l = nullptr;
  w.i32(l ? NoError : InvalidLink);
  if (l) {
    // The answer the aborted read waited for (an *OPC? under way) must not reach a later read.
    if (l->session.answerOwed()) l->session.dropLine();
    dropAnswers(l);
    Client* owner = l->owner;
    if (owner && owner->data && static_cast<Conn&>(*owner->data).pending) {
      static_cast<Conn&>(*owner->data).aborted = true;
      core_.wake(*owner);
    }
  }
  reply(c, w.data());
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

bool Vxi11Server::attempt(Client& c) {
  Conn& d = static_cast<Conn&>(*c.data);
  const std::uint32_t proc = d.call.procedure;
  const std::string_view args = d.call.args;
  d.wakeAt = -1;
  auto fail = [&](std::int32_t error) {
    reply(c, failure(proc, error));
    return true;
  };
  auto garbage = [&] {
    reply(c, {}, rpc::GarbageArgs);
    return true;
  };
  // Not yet: looked at again when what it waits for happens, or at this time at the latest.
  auto waitUntil = [&](qint64 ms) {
    d.wakeAt = ms;
    return false;
  };
  rpc::XdrWriter w;

  if (proc == CreateLink) {
    CreateLinkParms a;
    if (!decode(args, a)) return garbage();
    QString device = QString::fromLatin1(a.device.data(), qsizetype(a.device.size()));
    if (device.compare(QLatin1String("inst0"), Qt::CaseInsensitive) != 0) return fail(DeviceNotAccessible);
    if (int(links_.size()) >= kMaxLinks) return fail(OutOfResources);
    if (a.lockDevice && lockHolder_ != 0) {
      if (d.since.elapsed() < waitLimit(a.lockTimeout)) return waitUntil(waitLimit(a.lockTimeout));
      return fail(DeviceLocked);
    }
    const std::int32_t lid = newLinkId();
    auto link = std::make_unique<Link>(instrument_, this, lid);
    link->owner = &c;
    link->creator = c.peer();
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
    if (d.interrupt) return fail(ChannelAlreadyEstablished);
    if (a.family != 0) return fail(NotSupported);  // TCP only
    // Only back to the client's own address: a client cannot make this program connect to a
    // third host by naming it.
    d.interrupt = new QTcpSocket(this);
    d.interruptProgram = a.program;
    d.interruptVersion = a.version;
    QTcpSocket* s = d.interrupt;
    connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });  // the client's void replies
    connect(s, &QTcpSocket::connected, s, [s] { remote::applyKeepAlive(s); });
    s->connectToHost(c.peer(), a.hostPort);
    return fail(NoError);
  }
  if (proc == DestroyIntrChan) {
    if (!args.empty()) return garbage();
    if (!d.interrupt) return fail(ChannelNotEstablished);
    d.interrupt->abort();
    d.interrupt->deleteLater();
    d.interrupt = nullptr;
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
      reply(c, {}, rpc::ProcUnavail);
      return true;
  }
  if (!ok) return garbage();
  Link* l = findLink(lid);
  if (!l || l->owner != &c) return fail(InvalidLink);
  if (d.aborted) return fail(Aborted);
  if (needsLock(proc) && lockHolder_ != 0 && lockHolder_ != lid) {
    if (!(flags & WaitLock) || d.since.elapsed() >= waitLimit(lockTimeout)) return fail(DeviceLocked);
    return waitUntil(waitLimit(lockTimeout));
  }
  if (d.ioStart < 0) d.ioStart = d.since.elapsed();
  const qint64 ioDeadline = d.ioStart + waitLimit(ioTimeout);
  const bool ioTimedOut = d.since.elapsed() >= ioDeadline;

  switch (proc) {
    case DeviceWrite: {
      if (!l->messageOpen) {
        // A new message. As IEEE 488.2 has it for a query the client did not read: its answer
        // goes (-410) and the new message runs. So an answer whose read timed out or was given
        // up never answers a later query, and a client that only writes queries leaves nothing.
        bool interrupted = false;
        if (l->state == scpi::Session::State::Waiting && l->session.answerOwed()) {
          l->session.dropLine();
          l->state = scpi::Session::State::Busy;
          interrupted = true;
        }
        const bool earlierRuns = !l->input.empty() || !l->session.idle();
        if (l->outputBytes > 0 && (!earlierRuns || l->outputBytes > kPauseLinkOutput)) {
          dropAnswers(l);
          interrupted = true;
        }
        if (interrupted) {
          l->session.pushError(scpi::QueryInterrupted);
          core_.wake(c);
        }
        // The messages before it run first (a *WAI, or a slice that has not finished).
        if (earlierRuns) {
          if (ioTimedOut) return fail(IoTimeout);
          return waitUntil(ioDeadline);
        }
      } else if (!l->input.empty() && l->input.size() + write.data.size() > kMaxLinkInput) {
        if (ioTimedOut) return fail(IoTimeout);
        return waitUntil(ioDeadline);
      }
      l->input += write.data;
      const bool ended = (flags & End) || (!write.data.empty() && write.data.back() == '\n');
      // END closes the program message: the session reads one message per line.
      if (ended && (write.data.empty() || write.data.back() != '\n')) l->input += '\n';
      l->messageOpen = !ended;
      core_.wake(c);
      w.i32(NoError);
      w.u32(std::uint32_t(write.data.size()));
      reply(c, w.data());
      return true;
    }
    case DeviceRead: {
      if (l->outputBytes == 0) {
        if (ioTimedOut) return fail(IoTimeout);
        return waitUntil(ioDeadline);
      }
      std::int32_t reason = 0;
      const std::string data = readAnswer(l, read.requestSize, flags & TermCharSet, read.termChar, reason);
      w.i32(NoError);
      w.i32(reason);
      w.opaque(data);
      reply(c, w.data());
      checkServiceRequest(l);
      core_.wake(c);  // a link held by its unread answers may run on
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

std::int32_t Vxi11Server::newLinkId() const {
  // Unpredictable, so that no client can guess another's link by counting.
  for (;;) {
    const std::int32_t lid = std::int32_t(QRandomGenerator::system()->bounded(1u, 0x80000000u));
    if (!findLink(lid)) return lid;
  }
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
  // Every call waiting for it looks again; they are queued in the order they were woken, and
  // the first to run takes it.
  core_.forEach([this](Client& c) {
    if (c.data && static_cast<Conn&>(*c.data).pending) core_.wake(c);
  });
}

void Vxi11Server::dropAnswers(Link* l) {
  l->answers.clear();
  l->answerOffset = 0;
  l->outputBytes = 0;
  checkServiceRequest(l);
}

void Vxi11Server::clearLink(Link* l) {
  l->session.clearIo();
  l->input.clear();
  l->messageOpen = false;
  l->state = scpi::Session::State::Idle;
  dropAnswers(l);
}

bool Vxi11Server::runLink(Link* l, const remote::Slice& slice) {
  if (l->outputBytes > kPauseLinkOutput) return false;  // until the client reads some
  if (l->input.empty() && l->session.idle() && !l->session.opcPending()) {
    l->state = scpi::Session::State::Idle;
    return false;
  }
  std::string out;
  std::size_t mark = 0;
  std::vector<std::size_t> ends;
  // Each call of enough() follows at most one finished line: its answer is whole in out.
  auto cut = [&] {
    if (out.size() > mark) ends.push_back(mark = out.size());
  };
  for (;;) {
    while (!l->input.empty()) {
      const std::size_t n = std::min(l->session.space(), l->input.size());
      if (n == 0) break;
      l->session.receive(std::string_view(l->input).substr(0, n));
      l->input.erase(0, n);
    }
    l->state = l->session.run(out, [&] {
      cut();
      return slice.over() || l->outputBytes + out.size() > kPauseLinkOutput;
    });
    cut();
    if (l->state != scpi::Session::State::Idle || l->input.empty() || slice.over()) break;
  }
  std::size_t begin = 0;
  for (std::size_t end : ends) {
    l->answers.push_back(out.substr(begin, end - begin));
    l->outputBytes += end - begin;
    begin = end;
  }
  checkServiceRequest(l);
  if (l->owner && (l->state == scpi::Session::State::Waiting || l->session.opcPending()))
    core_.wakeOnProgress(*l->owner);
  return (l->state == scpi::Session::State::Busy || (l->state == scpi::Session::State::Idle && !l->input.empty())) &&
         l->outputBytes <= kPauseLinkOutput;
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
  Client* c = l->owner;
  if (!rose || !l->srqEnabled || !c || !c->data) return;
  Conn& d = static_cast<Conn&>(*c->data);
  // One call at most waits for a receiver that is slow or does not read: the request is a
  // level, and the next rise is enough to tell it again.
  if (!d.interrupt || d.interrupt->bytesToWrite() > 0) return;
  rpc::XdrWriter args;
  args.opaque(l->srqHandle);
  send(d.interrupt, rpc::callMessage(++d.interruptXid, d.interruptProgram, d.interruptVersion, DeviceIntrSrq,
                                     args.data()));
}
