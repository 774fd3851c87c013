// The VXI-11 server at the RPC level, for what the VISA clients do not exercise: locks that
// wait, remote/local, the abort and interrupt channels, the raw socket's view of a lock, and
// records nobody should send.

#include "remote/vxi11_server.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "remote/onc_rpc.h"
#include "remote/scpi_server.h"
#include "remote/vxi11_protocol.h"

using namespace vxi11;

namespace {

class Device : public scpi::Instrument {
 public:
  int execute(const Call&, std::string& reply) override {
    reply = "0";
    return 0;
  }
  std::string identity() override { return "QZ418,test,0,1"; }
  void reset() override {}
  int selfTest() override { return 0; }
  std::uint64_t packetsBuilt() override { return 1; }
  std::uint64_t lastTransferredPacket() override { return transferred; }  // 0: *OPC? never completes
  std::uint64_t linkId() override { return 1; }
  std::uint64_t transfersCompleted() override { return transferred; }
  std::uint64_t transferred = 0;
};

// As QTest::qWaitFor, but woken by the next event rather than every 10 ms: thousands of calls
// in a row stay quick.
template <class Done>
bool waitFor(Done done, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  QTimer tick;
  tick.start(10);
  while (!done()) {
    if (t.elapsed() >= timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

struct Client {
  QTcpSocket socket;
  rpc::RecordReader reader{1 << 20};
  std::uint32_t xid = 0;
  std::uint32_t program = kCoreProgram;

  explicit Client(quint16 port, std::uint32_t prog = kCoreProgram, const QHostAddress& from = {}) : program(prog) {
    if (!from.isNull()) socket.bind(from);
    socket.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(socket.waitForConnected(5000));
  }
  void send(std::uint32_t proc, const std::string& args) {
    const std::string r = rpc::frame(rpc::callMessage(++xid, program, kVersion, proc, args));
    socket.write(r.data(), qint64(r.size()));
  }
  // The next record, or nothing within timeoutMs.
  std::optional<std::string> record(int timeoutMs = 5000) {
    (void)waitFor(
        [&] {
          while (!reader.complete() && socket.bytesAvailable() > 0) {
            const QByteArray b = socket.read(qint64(reader.wanted()));
            reader.feed(std::string_view(b.data(), std::size_t(b.size())));
          }
          return reader.complete();
        },
        timeoutMs);
    if (!reader.complete()) return std::nullopt;
    return reader.take();
  }
  // The Device_ErrorCode of the reply to the last call (-1: no reply, -2: not a success).
  std::int32_t error(int timeoutMs = 5000) {
    const auto r = record(timeoutMs);
    if (!r) return -1;
    last = *r;
    const rpc::Reply reply = rpc::parseReply(last);
    if (!reply.ok || reply.xid != xid || reply.stat != rpc::Success) return -2;
    rpc::XdrReader x(reply.results);
    const std::int32_t e = x.i32();
    rest = std::string(x.rest());
    return e;
  }
  std::int32_t call(std::uint32_t proc, const std::string& args) {
    send(proc, args);
    return error();
  }
  std::string last, rest;
};

std::string xdr(std::initializer_list<std::uint32_t> words, std::string_view opaque = {},
                bool withOpaque = false) {
  rpc::XdrWriter w;
  for (std::uint32_t v : words) w.u32(v);
  if (withOpaque) w.opaque(opaque);
  return w.data();
}
std::string generic(std::int32_t lid, std::int32_t flags = 0, std::uint32_t lockMs = 0) {
  return xdr({std::uint32_t(lid), std::uint32_t(flags), lockMs, 1000});
}
std::string writeArgs(std::int32_t lid, std::string_view data, std::int32_t flags = End) {
  return xdr({std::uint32_t(lid), 1000, 0, std::uint32_t(flags)}, data, true);
}
std::string readArgs(std::int32_t lid, std::uint32_t ioMs) {
  return xdr({std::uint32_t(lid), 1024, ioMs, 0, 0, 0});
}
std::string lockArgs(std::int32_t lid, std::int32_t flags, std::uint32_t ms) {
  return xdr({std::uint32_t(lid), std::uint32_t(flags), ms});
}
std::string linkArg(std::int32_t lid) { return xdr({std::uint32_t(lid)}); }

class Vxi11ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost)) << server.errorString().toStdString();
    ASSERT_TRUE(raw.listen(QHostAddress::LocalHost, 0));
  }
  std::int32_t link(Client& c) {
    EXPECT_EQ(c.call(CreateLink, xdr({7, 0, 0}, "inst0", true)), NoError);
    rpc::XdrReader r(c.rest);
    const std::int32_t lid = r.i32();
    EXPECT_EQ(r.u32(), server.abortPort());
    EXPECT_EQ(r.u32(), Vxi11Server::kMaxRecvSize);
    return lid;
  }
  std::string rawAsk(QTcpSocket& s, const QByteArray& line) {
    s.write(line + "\n");
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
          got += s.readAll();
          return got.endsWith('\n');
        },
        5000);
    return got.toStdString();
  }

  Device device;
  Vxi11Server server{device};
  GuardedInstrument rawView{device, [this] { return server.locked(); }};
  ScpiServer raw{rawView};
};

TEST_F(Vxi11ServerTest, LocksRemoteLocalAndErrorCodes) {
  Client a(server.corePort()), b(server.corePort());
  const std::int32_t la = link(a), lb = link(b);
  QTcpSocket rawClient;
  rawClient.connectToHost(QHostAddress::LocalHost, raw.port());
  ASSERT_TRUE(rawClient.waitForConnected(5000));

  struct Step {
    Client* client;
    std::uint32_t proc;
    std::string args;
    std::int32_t error;
    int minMs, maxMs;  // how long the answer may take (a waiting call answers a little early)
  };
  const Step steps[] = {
      {&a, DeviceLock, lockArgs(la, 0, 0), NoError, 0, 500},
      {&a, DeviceLock, lockArgs(la, 0, 0), NoError, 0, 500},  // the holder locks again
      {&b, DeviceWrite, writeArgs(lb, "SOUR1:MODE PULS"), DeviceLocked, 0, 500},
      {&b, DeviceLock, lockArgs(lb, 0, 3000), DeviceLocked, 0, 500},  // no waitlock: at once
      {&b, DeviceLock, lockArgs(lb, WaitLock, 300), DeviceLocked, 250, 450},
      {&b, DeviceReadStb, generic(lb, WaitLock, 200), DeviceLocked, 160, 350},
      {&b, DeviceRemote, generic(lb), DeviceLocked, 0, 500},
      {&b, DeviceUnlock, linkArg(lb), NoLockHeld, 0, 500},
      {&b, DeviceEnableSrq, xdr({std::uint32_t(lb), 1}, "h", true), NoError, 0, 500},  // not locked out
      {&a, DeviceRemote, generic(la), NoError, 0, 500},
      {&a, DeviceLocal, generic(la), NoError, 0, 500},
      {&a, DeviceTrigger, generic(la), NotSupported, 0, 500},
      {&a, DeviceReadStb, generic(999), InvalidLink, 0, 500},
      {&a, DeviceReadStb, generic(lb), InvalidLink, 0, 500},  // another connection's link
      {&a, CreateLink, xdr({1, 0, 0}, "inst1", true), DeviceNotAccessible, 0, 500},
      {&b, CreateLink, xdr({1, 1, 100}, "inst0", true), DeviceLocked, 80, 250},
      {&a, DestroyIntrChan, "", ChannelNotEstablished, 0, 500},
  };
  for (const Step& s : steps) {
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(s.client->call(s.proc, s.args), s.error) << "procedure " << s.proc;
    EXPECT_GE(t.elapsed(), s.minMs) << "procedure " << s.proc;
    EXPECT_LE(t.elapsed(), s.maxMs) << "procedure " << s.proc;
  }

  // The raw socket: settings refused while a link holds the lock, queries answered.
  EXPECT_EQ(rawAsk(rawClient, "SOUR1:MODE PULS;:SOUR1:MODE?;:SYST:ERR?"), "0;-203,\"Command protected\"\n");
  EXPECT_EQ(rawAsk(rawClient, "*RST;:SYST:ERR?"), "-203,\"Command protected\"\n");

  // A waiting lock is granted when the holder lets go.
  b.send(DeviceLock, lockArgs(lb, WaitLock, 5000));
  EXPECT_EQ(b.error(100), -1);
  EXPECT_EQ(a.call(DeviceUnlock, linkArg(la)), NoError);
  EXPECT_EQ(b.error(), NoError);
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "SOUR1:MODE PULS")), DeviceLocked);
  // A link's end frees its lock for the others, and its number is gone.
  EXPECT_EQ(b.call(DestroyLink, linkArg(lb)), NoError);
  EXPECT_EQ(b.call(DestroyLink, linkArg(lb)), InvalidLink);
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "SOUR1:MODE PULS")), NoError);
  EXPECT_EQ(rawAsk(rawClient, "SOUR1:MODE PULS;:SYST:ERR?"), "0,\"No error\"\n");
}

TEST_F(Vxi11ServerTest, AbortEndsAWaitingReadAndClearDropsTheWaitingOpc) {
  Client a(server.corePort());
  const std::int32_t la = link(a);
  Client abortChannel(server.abortPort(), kAbortProgram);
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*OPC?")), NoError);
  a.send(DeviceRead, readArgs(la, 20000));
  EXPECT_EQ(a.error(200), -1);  // the device never completes
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(abortChannel.call(DeviceAbort, linkArg(la)), NoError);
  EXPECT_EQ(a.error(), Aborted);
  EXPECT_LT(t.elapsed(), 2000);
  EXPECT_EQ(abortChannel.call(DeviceAbort, linkArg(la + 100)), InvalidLink);

  // The aborted read's *OPC? is gone with it: a packet that gets through now brings no late 1.
  device.transferred = 2;
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*IDN?")), NoError);
  EXPECT_EQ(a.call(DeviceRead, readArgs(la, 5000)), NoError);
  rpc::XdrReader r(a.rest);
  EXPECT_EQ(r.i32(), ReasonEnd);
  EXPECT_EQ(r.opaque(100), "QZ418,test,0,1\n");
  // Nothing more to read: the client's own timeout decides.
  EXPECT_EQ(a.call(DeviceRead, readArgs(la, 100)), IoTimeout);
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "SYST:ERR?")), NoError);
  EXPECT_EQ(a.call(DeviceRead, readArgs(la, 5000)), NoError);
  EXPECT_EQ(rpc::XdrReader(a.rest.substr(4)).opaque(100), "0,\"No error\"\n");
}

TEST_F(Vxi11ServerTest, ServiceRequestGoesToTheClientsOwnAddress) {
  QTcpServer interrupts;
  ASSERT_TRUE(interrupts.listen(QHostAddress::LocalHost, 0));
  Client a(server.corePort());
  const std::int32_t la = link(a);
  // The address the client names is not used: only its own peer address is.
  EXPECT_EQ(a.call(CreateIntrChan, xdr({0x0a010203, interrupts.serverPort(), kInterruptProgram, 1, 0})),
            NoError);
  EXPECT_EQ(a.call(CreateIntrChan, xdr({0x7f000001, interrupts.serverPort(), kInterruptProgram, 1, 0})),
            ChannelAlreadyEstablished);
  ASSERT_TRUE(QTest::qWaitFor([&] { return interrupts.hasPendingConnections(); }, 5000));
  std::unique_ptr<QTcpSocket> in(interrupts.nextPendingConnection());
  EXPECT_EQ(in->peerAddress(), QHostAddress(QHostAddress::LocalHost));

  EXPECT_EQ(a.call(DeviceEnableSrq, xdr({std::uint32_t(la), 1}, "handle-1", true)), NoError);
  // Message available enabled: the answer raises MSS, once.
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*SRE 16;*IDN?")), NoError);
  rpc::RecordReader reader(4096);
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const QByteArray b = in->read(qint64(reader.wanted()));
        reader.feed(std::string_view(b.data(), std::size_t(b.size())));
        return reader.complete();
      },
      5000));
  const std::string srq = reader.take();
  const rpc::Call call = rpc::parseCall(srq);
  EXPECT_EQ(call.program, kInterruptProgram);
  EXPECT_EQ(call.procedure, DeviceIntrSrq);
  rpc::XdrReader args(call.args);
  EXPECT_EQ(args.opaque(40), "handle-1");
  EXPECT_EQ(a.call(DeviceReadStb, generic(la)), NoError);
  EXPECT_EQ(rpc::XdrReader(a.rest).u32(), 0x50u);  // MAV and RQS

  // A receiver that stops reading. Every *IDN? written drops the unread answer and makes a new
  // one: one rise of the request each. At most one call waits in the program; the rest are
  // dropped, since the request is a level and the next rise tells it again. Small buffers at
  // both ends keep the system from holding thousands of calls out of sight.
  QTcpSocket* out = nullptr;
  for (QTcpSocket* s : server.findChildren<QTcpSocket*>())
    if (s->peerPort() == interrupts.serverPort()) out = s;
  ASSERT_NE(out, nullptr);
  const int small = 4096;
  ASSERT_EQ(::setsockopt(int(out->socketDescriptor()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  ASSERT_EQ(::setsockopt(int(in->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  in->setReadBufferSize(64);
  constexpr int kRises = 4000;
  for (int i = 0; i < kRises; ++i) ASSERT_EQ(a.call(DeviceWrite, writeArgs(la, "*IDN?")), NoError);
  EXPECT_EQ(a.call(DeviceReadStb, generic(la)), NoError);  // served after the last answer is made
  EXPECT_LE(out->bytesToWrite(), qint64(srq.size() + 4));
  in->setReadBufferSize(0);
  auto calls = [&](int atLeast) {
    int n = 0;
    (void)waitFor(
        [&] {
          while (in->bytesAvailable() > 0) {
            const QByteArray b = in->read(qint64(reader.wanted()));
            reader.feed(std::string_view(b.data(), std::size_t(b.size())));
            if (reader.complete() && rpc::parseCall(reader.take()).procedure == DeviceIntrSrq) ++n;
          }
          return n >= atLeast;
        },
        1000);
    return n;
  };
  const int delivered = calls(kRises);
  EXPECT_GE(delivered, 1);
  EXPECT_LT(delivered, kRises / 2);
  // Drained, the receiver hears the next rise.
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*IDN?")), NoError);
  EXPECT_EQ(calls(1), 1);

  EXPECT_EQ(a.call(DestroyIntrChan, ""), NoError);
  EXPECT_EQ(a.call(DestroyIntrChan, ""), ChannelNotEstablished);
}

TEST_F(Vxi11ServerTest, MalformedRecordsAreAnsweredOrCloseOnlyTheirConnection) {
  auto header = [](std::uint32_t rpcvers, std::uint32_t prog, std::uint32_t vers, std::uint32_t proc) {
    rpc::XdrWriter w;
    for (std::uint32_t v : {1u, 0u, rpcvers, prog, vers, proc, 0u, 0u, 0u, 0u}) w.u32(v);
    return w.data();
  };
  struct Case {
    const char* what;
    std::string bytes;
    int stat;  // accept_stat of the reply; -1 a denial, -2 the connection closes
  };
  const Case cases[] = {
      {"another program", rpc::frame(header(2, 100000, 2, 0)), rpc::ProgUnavail},
      {"version 2", rpc::frame(header(2, kCoreProgram, 2, 0)), rpc::ProgMismatch},
      {"RPC version 3", rpc::frame(header(3, kCoreProgram, 1, 0)), -1},
      {"unknown procedure", rpc::frame(header(2, kCoreProgram, 1, 99)), rpc::ProcUnavail},
      {"short arguments", rpc::frame(header(2, kCoreProgram, 1, CreateLink) + "\0\0\0\1"), rpc::GarbageArgs},
      {"bad boolean", rpc::frame(header(2, kCoreProgram, 1, CreateLink) + xdr({1, 2, 0}, "inst0", true)),
       rpc::GarbageArgs},
      {"string past the end", rpc::frame(header(2, kCoreProgram, 1, CreateLink) + xdr({1, 0, 0, 1000})),
       rpc::GarbageArgs},
      {"null call in two fragments",
       xdr({12}) + header(2, kCoreProgram, 1, 0).substr(0, 12) +
           rpc::frame(header(2, kCoreProgram, 1, 0).substr(12)),
       rpc::Success},
      {"record over the limit", xdr({0x80000000u | std::uint32_t(Vxi11Server::kMaxRecord + 1)}), -2},
      {"no call header", rpc::frame("\1\2\3"), -2},
  };
  for (const Case& c : cases) {
    Client client(server.corePort());
    client.socket.write(c.bytes.data(), qint64(c.bytes.size()));
    const auto r = client.record(2000);
    if (c.stat == -2) {
      EXPECT_FALSE(r) << c.what;
      EXPECT_TRUE(
          QTest::qWaitFor([&] { return client.socket.state() == QAbstractSocket::UnconnectedState; }, 2000))
          << c.what;
      continue;
    }
    ASSERT_TRUE(r) << c.what;
    rpc::XdrReader x(*r);
    EXPECT_EQ(x.u32(), 1u) << c.what;
    EXPECT_EQ(x.u32(), rpc::kReply) << c.what;
    EXPECT_EQ(x.u32(), c.stat == -1 ? 1u : 0u) << c.what;  // denied or accepted
    if (c.stat >= 0) {
      EXPECT_EQ(rpc::parseReply(*r).stat, std::uint32_t(c.stat)) << c.what;
    }
  }
  // The server still serves.
  Client after(server.corePort());
  link(after);
}

// Answers nobody reads follow IEEE 488.2's interrupted query: the next message drops them with
// -410 and runs. So a late *OPC? answer never answers a later query, and a client that only
// writes queries leaves nothing behind.
TEST_F(Vxi11ServerTest, AnUnreadAnswerGoesAtTheNextMessage) {
  struct Case {
    const char* what;
    const char* first;
    bool readTimesOut;  // a read of the first gives up before it is answered
    bool readAgain;     // the client reads again before its next message
  };
  const Case cases[] = {
      {"a late *OPC? read again", "*OPC?", true, true},
      {"a late *OPC? not read", "*OPC?", true, false},
      {"a query never read", "SYST:VERS?", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    device.transferred = 0;
    Client a(server.corePort());
    const std::int32_t la = link(a);
    EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, c.first)), NoError);
    if (c.readTimesOut) {
      EXPECT_EQ(a.call(DeviceRead, readArgs(la, 150)), IoTimeout);
    }
    device.transferred = 2;  // the packet gets through: the answer is there now
    if (c.readAgain) {
      EXPECT_EQ(a.call(DeviceRead, readArgs(la, 5000)), NoError);  // VXI-11 lets it read late
      EXPECT_EQ(rpc::XdrReader(a.rest.substr(4)).opaque(100), "1\n");
    } else {
      QTest::qWait(50);
    }
    EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*IDN?")), NoError);
    EXPECT_EQ(a.call(DeviceRead, readArgs(la, 5000)), NoError);
    EXPECT_EQ(rpc::XdrReader(a.rest.substr(4)).opaque(100), "QZ418,test,0,1\n");
    EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "SYST:ERR:ALL?")), NoError);
    EXPECT_EQ(a.call(DeviceRead, readArgs(la, 5000)), NoError);
    EXPECT_EQ(rpc::XdrReader(a.rest.substr(4)).opaque(100),
              c.readAgain ? "0,\"No error\"\n" : "-410,\"Query INTERRUPTED\"\n");
  }
  // A client that only writes queries: each drops the one before; one answer is left.
  Client w(server.corePort());
  const std::int32_t lw = link(w);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(w.call(DeviceWrite, writeArgs(lw, "*IDN?")), NoError);
  EXPECT_EQ(w.call(DeviceRead, readArgs(lw, 5000)), NoError);
  EXPECT_EQ(rpc::XdrReader(w.rest.substr(4)).opaque(100), "QZ418,test,0,1\n");
  EXPECT_EQ(w.call(DeviceRead, readArgs(lw, 100)), IoTimeout);
}

// Link ids are not a count another client can walk, and only the host that made a link can
// abort its call.
TEST_F(Vxi11ServerTest, OnlyTheLinksOwnHostAbortsAndIdsAreNotCounted) {
  Client a(server.corePort());
  const std::int32_t la = link(a), lb = link(a), lc = link(a);
  EXPECT_GT(std::abs(std::int64_t(la) - lb) + std::abs(std::int64_t(lb) - lc), 2) << la << " " << lb << " " << lc;
  EXPECT_EQ(a.call(DeviceWrite, writeArgs(la, "*OPC?")), NoError);
  a.send(DeviceRead, readArgs(la, 20000));
  Client other(server.abortPort(), kAbortProgram, QHostAddress("127.0.0.2"));
  EXPECT_EQ(other.call(DeviceAbort, linkArg(la)), InvalidLink);
  EXPECT_EQ(a.error(300), -1) << "the read still waits";
  Client own(server.abortPort(), kAbortProgram);
  EXPECT_EQ(own.call(DeviceAbort, linkArg(la)), NoError);
  EXPECT_EQ(a.error(), Aborted);
}

// Every channel: keep-alive that ends a vanished peer within two minutes; when the eight
// places are taken, the connection idle the longest beyond the limit gives way, and a link's
// lock goes with its connection.
TEST(ConnectionLayer, IdleConnectionsGiveWayAndKeepAliveIsOn) {
  qputenv("QZ418_REMOTE_IDLE_MS", "300");
  Device device;
  Vxi11Server vxi11(device);
  ScpiServer scpi(device);
  qunsetenv("QZ418_REMOTE_IDLE_MS");
  ASSERT_TRUE(vxi11.listen(QHostAddress::LocalHost));
  ASSERT_TRUE(scpi.listen(QHostAddress::LocalHost, 0));
  const std::string null = rpc::frame(rpc::callMessage(1, kCoreProgram, kVersion, Null, {}));
  const std::string locked =
      rpc::frame(rpc::callMessage(1, kCoreProgram, kVersion, CreateLink, xdr({7, 1, 0}, "inst0", true)));
  struct Case {
    const char* name;
    remote::ClientChannel& channel;
    std::string first;  // a complete command or call of the first client
  };
  const Case cases[] = {
      {"SCPI", scpi.channel(), "*CLS\n"},
      {"VXI-11 core", vxi11.coreChannel(), locked},
      {"VXI-11 abort", vxi11.abortChannel(), null},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    auto open = [&] {
      clients.push_back(std::make_unique<QTcpSocket>());
      clients.back()->connectToHost(QHostAddress::LocalHost, c.channel.port());
      EXPECT_TRUE(clients.back()->waitForConnected(5000));
    };
    auto closed = [&](std::size_t i) {
      return QTest::qWaitFor([&] { return clients[i]->state() == QAbstractSocket::UnconnectedState; }, 5000);
    };
    open();
    clients[0]->write(c.first.data(), qint64(c.first.size()));
    QTest::qWait(100);  // the first client's command has been taken
    const bool lockTaken = vxi11.locked();
    for (int i = 1; i < 8; ++i) open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.channel.count() == 8; }, 5000));
    c.channel.forEach([](remote::Client& client) {
      const int fd = int(client.socket()->socketDescriptor());
      int on = 0, idle = 0, interval = 0, count = 0;
      socklen_t n = sizeof on;
      getsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, &n);
      getsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &n);
      getsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, &n);
      getsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, &n);
      EXPECT_EQ(on, 1);
      EXPECT_GT(idle, 0);
      EXPECT_LE(idle + interval * count, 120) << "a vanished peer keeps its place longer than two minutes";
    });
    open();  // nobody idle long enough: the ninth is closed
    EXPECT_TRUE(closed(8));
    QTest::qWait(400);
    open();  // the first client, idle the longest, gives way
    EXPECT_TRUE(closed(0));
    EXPECT_EQ(clients[9]->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(c.channel.count(), 8);
    if (lockTaken) {
      EXPECT_FALSE(vxi11.locked()) << "the lock goes with the connection";
      EXPECT_EQ(vxi11.linkCount(), 0);
    }
  }
}

}  // namespace
