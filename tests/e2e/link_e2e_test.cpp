// The built program against the virtual synthesizer, each in a temporary folder: connection,
// the packets that arrive, what the panel shows, unplug and plug, a simulator that dies, a
// device that leaves requests unanswered. The program's events window writes its trace to
// QZ418_LINK_LOG; the simulator logs every command packet it takes.
#include <gtest/gtest.h>

#include <QRegularExpression>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QThread>
#include <cstdio>
#include <cstring>

#include "panel/main_form.h"
#include "platform/virtual_device_synth.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "support/program_session.h"
#include "widgets/status_bar.h"
#include "shell/program_windows.h"

namespace {

class LinkEndToEnd : public ProgramWithSimulatorTest {
 protected:
  qsizetype packets() const { return readLines(simLog()).size(); }
  // Device changes the events window has handled (each logs this line once).
  qsizetype changes() const {
    return link().filter(QStringLiteral("USB событие DBT_DEVNODES_CHANGED")).size();
  }
  // Listings that found no synthesizer.
  qsizetype unpluggedCount() const { return link().filter(QStringLiteral("Подключено 0 синтезаторов")).size(); }
  // The link text the panel shows now: the last one the events window set.
  QString shownLinkText() const {
    const QStringList texts = link().filter(QRegularExpression(QStringLiteral("^status: ")));
    return texts.isEmpty() ? QString() : texts.back();
  }
};

const QString kConnected = QStringLiteral("status: Подключен virtual:sim0");
const QString kNoLink = QStringLiteral("status: нет связи c QZ418!!!");

// What a panel with its defaults sends and then shows for the simulator's answer, worked out in
// this process with the same code.
struct PanelDefaults {
  QString packetHex;
  QString shown;
};

PanelDefaults panelDefaults() {
  setAppFormatSettings(FormatSettings::fromSystem());
  TMainForm main;
  main.saveStateOnClose = false;
  TRxDrawForm rx(&main);
  TSchemaForm schema(&main, &rx);  // its start may apply a scene to the panel, as in the program
  wireWindows({&main, &rx, &schema, nullptr});
  std::array<std::uint8_t, 64> packet{};
  main.BuildCommandPacket(packet);
  VirtualSynthesizer synth;
  synth.transfer(VirtualSynthesizer::kCommandEndpoint, packet.data(), 64);
  main.ShowStatusReport(synth.statusReport(), 0);
  QStringList shown{main.FooterStatusBar->panelText(1)};
  for (const QLabel* l :
       {main.DAC1_ModeLabel, main.Ampl1_Label, main.F1_Label, main.DAC2_ModeLabel, main.Ampl2_Label,
        main.F2_Label, main.S1Label, main.S2Label, main.S3Label, main.S4Label})
    shown << l->objectName() + u'=' + l->text();
  return {QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(packet.data()), 64).toHex()),
          QStringLiteral("panel: ") + shown.join(QStringLiteral(" | "))};
}

TEST_F(LinkEndToEnd, ConnectsSendsThePanelsPacketAndShowsTheAnswer) {
  const PanelDefaults expected = panelDefaults();
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1)) << link().join(u'\n').toStdString();
  ASSERT_TRUE(waitFor([&] { return packets() >= 20; }, 10000));

  // "<ms since start> <64 bytes in hex>" per packet; every one is the panel's.
  const QStringList sent = readLines(simLog());
  for (const QString& line : sent) ASSERT_EQ(line.section(u' ', 1), expected.packetHex) << line.toStdString();
  // The cycle runs at the 20 ms pause plus the transfers.
  const double periodMs =
      (sent.back().section(u' ', 0, 0).toDouble() - sent.front().section(u' ', 0, 0).toDouble()) /
      (sent.size() - 1);
  EXPECT_GE(periodMs, 19.5);
  EXPECT_LT(periodMs, 60);

  // The status of the second cycle on echoes the first packet: the panel shows what it sends.
  ASSERT_TRUE(waitForLinkCount(expected.shown, 1)) << link().join(u'\n').toStdString();
  // The receive view got the simulated pulse: well above the noise, where the simulator puts it.
  const QStringList rx = link().filter(QStringLiteral("rx: "));
  ASSERT_EQ(rx.size(), 1);
  const QStringList f = rx[0].split(u' ');  // rx: min A max B at I
  ASSERT_EQ(f.size(), 7);
  EXPECT_GT(f[4].toInt() - f[2].toInt(), 40) << rx[0].toStdString();
  EXPECT_GE(f[6].toInt(), VirtualSynthesizer::kPulseStart);
  EXPECT_LT(f[6].toInt(), VirtualSynthesizer::kPulseStart + 500);

  endProgram();
  const QStringList l = link();
  EXPECT_EQ(l.back(), kNoLink);
  EXPECT_EQ(l[l.size() - 2].mid(10), QStringLiteral("Поток данных USB разрушен!"));
}

TEST_F(LinkEndToEnd, UnplugAndPlugInALoop) {
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1));
  for (int i = 1; i <= 5; ++i) {
    SCOPED_TRACE(i);
    simCommand("unplug");
    // The events window writes the device count, an empty line and then the link text: wait for
    // the text the panel shows, not for a line's place in the trace.
    ASSERT_TRUE(waitFor([&] { return unpluggedCount() >= i && shownLinkText() == kNoLink; }, 10000))
        << link().join(u'\n').toStdString();
    const qsizetype before = packets();
    QThread::msleep(150);
    EXPECT_EQ(packets(), before) << "packets while unplugged";
    simCommand("plug");
    ASSERT_TRUE(waitForLinkCount(kConnected, i + 1)) << link().join(u'\n').toStdString();
    ASSERT_TRUE(waitFor([&] { return packets() >= before + 5; }, 5000)) << "no packets after plugging in";
  }
  EXPECT_EQ(app().state(), QProcess::Running);
  endProgram();
}

// A simulator killed outright leaves its socket behind and says nothing: the closed
// connection counts as an unplug, the panel shows the lost link, and the next simulator is
// taken when it appears.
TEST_F(LinkEndToEnd, SimulatorKilledAndStartedAgain) {
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1));
  ASSERT_TRUE(waitFor([&] { return packets() >= 5; }, 5000));
  sim().kill();
  ASSERT_TRUE(sim().waitForFinished(5000));
  ASSERT_TRUE(waitFor([&] { return unpluggedCount() >= 1 && shownLinkText() == kNoLink; }, 10000))
      << link().join(u'\n').toStdString();
  EXPECT_EQ(changes(), 1);
  ASSERT_EQ(app().state(), QProcess::Running);

  startSim();
  ASSERT_TRUE(waitFor([&] { return packets() >= 5; }, 10000)) << link().join(u'\n').toStdString();
  EXPECT_EQ(linkCount(kConnected), 2);
  endProgram();
}

// One garbled answer, or a device that closes its connections but stays plugged in: the link
// restarts on the same device and packets flow again. A device that closes every connection
// as soon as it accepts it stays listed but is never shown connected, until it lets packets
// through again.
TEST_F(LinkEndToEnd, GarbledAnswerAndHangUpReconnect) {
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1));
  int connected = 1;
  struct Fault {
    const char* command;
    const char* cure;  // what ends it; none: it passes by itself
  };
  for (const Fault& fault : {Fault{"garble", nullptr}, Fault{"hangup", nullptr}, Fault{"hangup always", "hangup never"}}) {
    SCOPED_TRACE(fault.command);
    ASSERT_TRUE(waitFor([&] { return packets() >= 5; }, 5000));
    simCommand(fault.command);
    if (fault.cure) {
      ASSERT_TRUE(waitFor([&] { return link().filter(QStringLiteral("status: ")).back() == kNoLink; }, 5000));
      const qsizetype before = packets();
      const qsizetype restarts = changes();
      QThread::msleep(2500);
      EXPECT_EQ(packets(), before);
      EXPECT_GE(changes(), restarts + 1) << "it is tried again while listed";
      EXPECT_EQ(linkCount(kConnected), connected) << "shown connected while nothing gets through";
      EXPECT_EQ(link().filter(QStringLiteral("status: ")).back(), kNoLink);
      simCommand(fault.cure);
      ASSERT_TRUE(waitForLinkCount(kConnected, connected + 1)) << link().join(u'\n').toStdString();
      ++connected;
      continue;
    }
    ++connected;
    ASSERT_TRUE(waitForLinkCount(kConnected, connected)) << link().join(u'\n').toStdString();
    const qsizetype before = packets();
    ASSERT_TRUE(waitFor([&] { return packets() >= before + 5; }, 5000)) << "no packets after reconnecting";
    EXPECT_EQ(changes(), connected - 1);
    EXPECT_EQ(link().filter(QStringLiteral("Подключено 0 синтезаторов")).size(), 0);
  }
  endProgram();
}

// Every other request left unanswered: the cycle goes on at the wait time's pace, the panel
// shows the timeout but never a connection, and the program still ends at once when asked.
TEST_F(LinkEndToEnd, UnansweredRequests) {
  startSim({QStringLiteral("--drop-every"), QStringLiteral("2")});
  startProgram();
  ASSERT_TRUE(waitFor([&] { return !link().filter(QStringLiteral("panel: Cod=006Eh")).isEmpty(); }, 10000))
      << link().join(u'\n').toStdString();
  const qsizetype before = packets();
  QThread::msleep(2500);
  EXPECT_GT(packets(), before) << "the cycle stopped";
  EXPECT_EQ(changes(), 0) << "a device that only timed out keeps its connection";
  // Every cycle has a transfer that timed out: none went through as a whole.
  EXPECT_EQ(linkCount(kConnected), 0);
  QElapsedTimer t;
  t.start();
  endProgram();
  EXPECT_LT(t.elapsed(), 8000);
}

// A hundred device-node changes in a burst (sockets appearing and going in the virtual-device
// folder; they accept no connection, so they are no synthesizers): the program answers them
// without falling behind and is connected to the simulator afterwards.
TEST_F(LinkEndToEnd, BurstOfDeviceChanges) {
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1));
  const QString folder = path(QStringLiteral("run/qz418"));
  QStringList made;
  for (int i = 0; i < 50; ++i) {
    const QByteArray path = QFile::encodeName(folder + QStringLiteral("/burst%1.sock").arg(i));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    ASSERT_LT(std::size_t(path.size()), sizeof a.sun_path);
    std::memcpy(a.sun_path, path.constData(), std::size_t(path.size()));
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
    made << QString::fromLocal8Bit(path);
    QThread::msleep(2);  // the monitor answers a change of the set, not each file event
  }
  for (const QString& f : made) {
    QFile::remove(f);
    QThread::msleep(2);
  }

  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(waitFor(
      [&] {
        const QStringList l = link();
        qsizetype lastChange = l.size() - 1;
        while (lastChange > 0 && !l[lastChange].contains(QStringLiteral("USB событие"))) --lastChange;
        return lastChange > 0 && l.indexOf(kConnected, lastChange) > 0;
      },
      20000))
      << link().join(u'\n').toStdString();
  const qsizetype before = packets();
  ASSERT_TRUE(waitFor([&] { return packets() >= before + 10; }, 5000)) << "no packets after the burst";
  const qsizetype handled = link().filter(QStringLiteral("USB событие DBT_DEVNODES_CHANGED")).size();
  EXPECT_GE(handled, 1);
  EXPECT_LE(handled, 100);
  std::printf("[          ] 100 changes answered by %lld notifications in %lld ms\n",
              static_cast<long long>(handled), static_cast<long long>(t.elapsed()));
  endProgram();
}

}  // namespace
