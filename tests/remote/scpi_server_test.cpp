// The server with real sockets on the loopback: connection limit, per-connection state, a
// client leaving in the middle of *OPC?, and input nobody should send.

#include <gtest/gtest.h>

#include <QTcpSocket>
#include <QTest>
#include <memory>
#include <vector>

#include "remote/scpi_server.h"

using namespace scpi;

namespace {

class CountingInstrument : public Instrument {
 public:
  int execute(const Call& call, std::string& reply) override {
    reply.assign(replyBytes, '0');
    (void)call;
    ++executed;
    return 0;
  }
  std::string identity() override { return "QZ418,test,0,1"; }
  void reset() override {}
  int selfTest() override { return 1; }
  std::uint64_t packetsBuilt() override { return built; }
  std::uint64_t lastTransferredPacket() override { return transferred; }
  std::uint64_t linkId() override { return 1; }
  std::uint64_t transfersCompleted() override { return transferred; }
  std::size_t replyBytes = 1;
  int executed = 0;
  std::uint64_t built = 0;
  std::uint64_t transferred = 0;
};

class ScpiServerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0)) << server.errorString().toStdString(); }

  std::unique_ptr<QTcpSocket> connectClient() {
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, server.port());
    EXPECT_TRUE(s->waitForConnected(5000));
    return s;
  }
  // Sends a line and waits (generously) for one reply line.
  static QByteArray ask(QTcpSocket& s, const QByteArray& line, int timeoutMs = 10000) {
    s.write(line + "\n");
    QByteArray got;
    (void)QTest::qWaitFor(
        [&] {
          got += s.readAll();
          return got.endsWith('\n');
        },
        timeoutMs);
    return got;
  }

  CountingInstrument device;
  ScpiServer server{device};
};

TEST_F(ScpiServerTest, TheNinthClientIsClosedAndTheEightKeepTheirOwnErrors) {
  std::vector<std::unique_ptr<QTcpSocket>> clients;
  for (int i = 0; i < ScpiServer::kMaxConnections; ++i) clients.push_back(connectClient());
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 8; }, 5000));
  auto ninth = connectClient();
  EXPECT_TRUE(QTest::qWaitFor([&] { return ninth->state() == QAbstractSocket::UnconnectedState; }, 5000));
  EXPECT_EQ(server.connectionCount(), 8);

  clients[0]->write("BOGUS\n");
  EXPECT_EQ(ask(*clients[1], "SYST:ERR?"), "0,\"No error\"\n");
  EXPECT_EQ(ask(*clients[0], "SYST:ERR?"), "-113,\"Undefined header\"\n");
  // A place becomes free when a client leaves.
  clients.pop_back();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 7; }, 5000));
  auto late = connectClient();
  EXPECT_EQ(ask(*late, "*IDN?"), "QZ418,test,0,1\n");
}

TEST_F(ScpiServerTest, AClientLeavingInsideOpcLosesOnlyItsOwnAnswer) {
  auto leaving = connectClient();
  auto staying = connectClient();
  device.built = 5;
  leaving->write("*OPC?\n");
  staying->write("*OPC?\n");
  QTest::qWait(50);
  EXPECT_EQ(staying->bytesAvailable(), 0);  // no packet transferred since
  leaving->abort();
  ASSERT_TRUE(QTest::qWaitFor([&] { return server.connectionCount() == 1; }, 5000));
  device.built = 6;
  device.transferred = 6;
  QByteArray got = ask(*staying, "*IDN?");
  if (got == "1\n") got += ask(*staying, "");  // the two answers may come in two reads
  EXPECT_EQ(got, "1\nQZ418,test,0,1\n");
}

TEST_F(ScpiServerTest, AFloodOfOneEndlessLineIsDroppedAndTheClientGoesOn) {
  auto c = connectClient();
  const QByteArray junk(300 * 1024, 'x');
  c->write(junk + "\n");  // one line of 300 KiB
  EXPECT_EQ(ask(*c, "*IDN?"), "QZ418,test,0,1\n");
  EXPECT_EQ(ask(*c, "SYST:ERR?;ERR?"), "-223,\"Too much data\";0,\"No error\"\n");
  // Many short lines at once are all answered, in order.
  QByteArray many;
  for (int i = 0; i < 2000; ++i) many += "*TST?\n";
  c->write(many);
  QByteArray got;
  (void)QTest::qWaitFor(
      [&] {
        got += c->readAll();
        return got.size() >= 4000;
      },
      20000);
  EXPECT_EQ(got, QByteArray("1\n").repeated(2000));
}

// A client that sends and does not read is not read either once its answers pile up: its
// queries stay in the socket buffers, unrun, and when it reads at last every answer is there,
// in order, none dropped.
TEST_F(ScpiServerTest, AClientThatDoesNotReadIsNotReadEither) {
  device.replyBytes = 64 * 1024;
  auto c = connectClient();
  c->setReadBufferSize(4096);  // this client's own socket must not read ahead without limit
  constexpr int kQueries = 1000;  // 64 MiB of answers
  QByteArray queries;
  for (int i = 0; i < kQueries; ++i) queries += "TRAC:DATA?\n";
  c->write(queries);
  QTest::qWait(500);
  // What ran is what the held-back answers and the system's buffers take, not the 1 000 sent.
  EXPECT_LT(device.executed, 400);
  const int ranWhileNotRead = device.executed;
  QTest::qWait(200);
  EXPECT_EQ(device.executed, ranWhileNotRead) << "it went on running queries nobody reads";
  c->setReadBufferSize(0);  // now it reads
  qint64 lines = 0;
  qint64 bytes = 0;
  (void)QTest::qWaitFor(
      [&] {
        const QByteArray got = c->readAll();
        lines += got.count('\n');
        bytes += got.size();
        return lines >= kQueries;
      },
      60000);
  EXPECT_EQ(lines, kQueries);
  EXPECT_EQ(bytes, qint64(kQueries) * (64 * 1024 + 1));
  EXPECT_EQ(ask(*c, "SYST:ERR?"), "0,\"No error\"\n");
}

}  // namespace
