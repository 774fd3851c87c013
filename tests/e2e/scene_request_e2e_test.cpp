// Scene requests end to end: the virtual synthesizer puts a scene request into its status
// reports, the running program applies that scene of its Scenes.ini, and the packet built in
// the cycle that read the request carries the scene's settings. The simulator's log (a line
// per command packet) tells what was sent and in which cycle; the events window's trace
// (QZ418_LINK_LOG) tells what the panel showed.
#include "support/program_session.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <map>
#include <vector>

namespace {

// The value of key in section of an ini file's text; empty when there is none.
QString iniValue(const QString& text, const QString& section, const QString& key) {
  bool inside = false;
  for (QString line : text.split(u'\n')) {
    line = line.trimmed();
    if (line.startsWith(u'['))
      inside = line == u'[' + section + u']';
    else if (inside && line.startsWith(key + u'='))
      return line.mid(key.size() + 1);
  }
  return {};
}

// Channel 1 of each scene of the test as the packet carries it: the mode byte (offset 3), the
// upper three bytes of the 32-bit amplitude word (6-8) and the delay count (11-13), in the
// log's lower-case hex. Worked out by hand, not by the program's code.
struct SceneBytes {
  int scene;
  const char* mode;
  const char* amplitude;
  const char* delay;
};
constexpr SceneBytes kSceneBytes[] = {
    // The defaults: sine; -2.3 dB is 10^(-2.3/20) * 4294967295 = 3295792500 = C471CD74h; the
    // sine page sends the preset delay 1.
    {1, "03", "c471cd", "000001"},
    // Pulse; -40 dB is 0.01 * 4294967295 = 42949672 = 028F5C28h; 500 us at 5 ns a count is
    // 100000 = 0186A0h.
    {3, "00", "028f5c", "0186a0"},
    // A series; -20 dB is 0.1 * 4294967295 = 429496729 = 19999999h; 1000 us is 200000 = 030D40h.
    {5, "01", "199999", "030d40"},
};

// Scene 1 keeps every default; scenes 3 and 5 give only the keys that differ (a missing key
// keeps the scene's default). Whole numbers read the same whatever the decimal separator.
constexpr char kScenesIni[] =
    "[ScenaForm]\r\nCommentEdit=Defaults\r\n"
    "[ScenaForm_2]\r\nCommentEdit=Pulse -40 dB 500 us\r\nCh1_PageControl=0\r\n"
    "Ch1I_AmplPBSuperSpin=-40\r\nCh1I_DelayPBSuperSpin=500\r\n"
    "[ScenaForm_4]\r\nCommentEdit=A series -20 dB 1000 us\r\nCh1_PageControl=1\r\n"
    "Ch1A_AmplPBSuperSpin=-20\r\nCh1A_DelayPBSuperSpin=1000\r\n";

// The scene a packet carries by channel 1's fields; 0 for none of the test's scenes.
int sceneOf(const QByteArray& hex) {
  for (const SceneBytes& s : kSceneBytes)
    if (hex.mid(6, 2) == s.mode && hex.mid(12, 6) == s.amplitude && hex.mid(22, 6) == s.delay) return s.scene;
  return 0;
}

struct Packet {
  QByteArray hex;  // 128 digits
  double seenMs;   // when the test first saw its line
};

// The simulator's packet log followed as it grows ("<ms since start> <64 bytes in hex>" a
// line); each packet is stamped with the test's clock when its line is first seen.
class PacketLog {
 public:
  PacketLog(QString path, const QElapsedTimer& clock) : path_(std::move(path)), clock_(clock) {}
  ~PacketLog() {
    if (fd_ >= 0) ::close(fd_);
  }
  PacketLog(const PacketLog&) = delete;
  PacketLog& operator=(const PacketLog&) = delete;

  // Reads what was appended; the number of packets.
  qsizetype poll() {
    if (fd_ < 0) fd_ = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return 0;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd_, buf, sizeof buf)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\n') {
          partial_ += buf[i];
          continue;
        }
        packets_.push_back({partial_.mid(partial_.indexOf(' ') + 1), nowMs()});
        partial_.clear();
      }
    }
    return qsizetype(packets_.size());
  }
  // Polls about every quarter millisecond until done; false after timeoutMs. lastMissMs: the
  // time of the last poll after which done was still false.
  bool follow(const std::function<bool()>& done, int timeoutMs, double* lastMissMs = nullptr) {
    const double end = nowMs() + timeoutMs;
    for (;;) {
      const double t = nowMs();
      poll();
      if (done()) return true;
      if (lastMissMs) *lastMissMs = t;
      if (t > end) return false;
      QThread::usleep(250);
    }
  }
  qsizetype count() const { return qsizetype(packets_.size()); }
  const std::vector<Packet>& packets() const { return packets_; }
  double nowMs() const { return double(clock_.nsecsElapsed()) / 1e6; }

 private:
  QString path_;
  const QElapsedTimer& clock_;
  int fd_ = -1;
  QByteArray partial_;
  std::vector<Packet> packets_;
};

// One line to the simulator, and what the packets carry once the program has read it.
struct RequestStep {
  const char* line;
  int scene;    // the scene of the packets afterwards
  int phaseMs;  // written this long after a packet arrived
};
constexpr RequestStep kSteps[] = {
    {"scene 3", 3, 0},   // the first request after reports of 0, right after a packet
    {"scene 5", 3, 5},   // no report of 0 since the last request: ignored
    {"scene 0", 3, 5},   // no request, but the next one counts again
    {"scene 5", 5, 10},  // in the middle of a cycle
    {"scene 0", 5, 5},   // re-armed ...
    {"scene 11", 5, 5},  // ... but beyond the nine scenes and 10 nothing acts
    {"scene 0", 5, 5},   // re-armed
    {"scene 1", 1, 15},  // back to the defaults, late in a cycle
};

struct StepRun {
  qsizetype before = 0;  // packets logged before the line was written
  double writtenMs = 0;  // just before writing it
  double phaseMs = 0;    // at most this long after the packet before it arrived
  bool inTime = false;   // written before the next cycle's status request could go out
};

class SceneRequestEndToEnd : public ProgramWithSimulatorTest {
 protected:
  void SetUp() override {
    ProgramWithSimulatorTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    clock.start();
    // The program reads its Scenes.ini from its own folder.
    QFile scenes(scenesPath());
    ASSERT_TRUE(scenes.open(QIODevice::WriteOnly));
    ASSERT_EQ(scenes.write(kScenesIni), qint64(sizeof kScenesIni - 1));
    scenes.close();
  }

  // Writes the step's line its phase after a packet arrived. The program pauses 20 ms after
  // each packet before it asks for the next status, so a line in the pipe before then is read
  // by the simulator ahead of that request (it reads standard input first).
  StepRun write(const RequestStep& step) {
    StepRun run;
    const qsizetype n = sent.poll();
    double lastMiss = 0;
    EXPECT_TRUE(sent.follow([&] { return sent.count() > n; }, 2000, &lastMiss)) << "no packets";
    const double at = sent.nowMs() + step.phaseMs;
    while (sent.nowMs() < at) QThread::usleep(250);
    run.before = sent.poll();
    run.writtenMs = sent.nowMs();
    run.phaseMs = run.writtenMs - lastMiss;
    simCommand(step.line);
    // The packet arrived after lastMiss; 2 ms to spare for the clocks' granularity.
    run.inTime = sent.nowMs() < lastMiss + 18 && sent.poll() == run.before && run.before == n + 1;
    return run;
  }

  QString scenesPath() const { return path(QStringLiteral("bin/Scenes.ini")); }

  QElapsedTimer clock;
  PacketLog sent{simLog(), clock};
};

const QString kConnected = QStringLiteral("status: Подключен virtual:sim0");

// The panel line of the trace for a status report that carries request `request` and echoes a
// packet with channel 1 in `mode` at `level` dB (either decimal separator).
QRegularExpression panelShows(const char* request, const QString& mode, const char* level) {
  return QRegularExpression(QStringLiteral("^panel: Cod=0000h, Пакет - (?:\\S+ ){7}%1h .*DAC1_ModeLabel=%2 "
                                           "\\| Ampl1_Label=%3 дБ")
                                .arg(QLatin1String(request), mode, QLatin1String(level)));
}

TEST_F(SceneRequestEndToEnd, RequestedSceneGoesOutInTheCycleThatReadIt) {
  startSim();
  startProgram();
  ASSERT_TRUE(waitForLinkCount(kConnected, 1)) << link().join(u'\n').toStdString();
  ASSERT_TRUE(waitFor([&] { return sent.poll() >= 5; }, 10000)) << "no packets";

  std::vector<StepRun> runs;
  for (const RequestStep& step : kSteps) {
    SCOPED_TRACE(step.line);
    runs.push_back(write(step));
    if (HasFailure()) return;
    // The second packet after the line comes from a cycle that began after it; two more cycles
    // show that the result stays.
    const qsizetype before = runs.back().before;
    ASSERT_TRUE(sent.follow([&] { return sent.count() >= before + 4; }, 3000)) << "the packets stopped";
  }

  // Every packet is one of the scenes, the same bytes whenever it is the same scene.
  const std::vector<Packet>& packets = sent.packets();
  std::map<int, QByteArray> bytesOf;
  for (qsizetype i = 0; i < qsizetype(packets.size()); ++i) {
    const int scene = sceneOf(packets[size_t(i)].hex);
    ASSERT_NE(scene, 0) << "packet " << i << " is none of the scenes: " << packets[size_t(i)].hex.constData();
    EXPECT_EQ(bytesOf.emplace(scene, packets[size_t(i)].hex).first->second, packets[size_t(i)].hex)
        << "packet " << i << " differs from scene " << scene << "'s first one";
  }
  ASSERT_GT(runs[0].before, 0);
  for (qsizetype i = 0; i < runs[0].before; ++i)
    ASSERT_EQ(sceneOf(packets[size_t(i)].hex), 1) << "packet " << i << " before any request";

  // Between one line and the next the packets go from the scene before to the step's scene
  // and never back; a scene that changes does so in the first or second packet.
  int previous = 1;
  for (size_t s = 0; s < std::size(kSteps); ++s) {
    const RequestStep& step = kSteps[s];
    const StepRun& run = runs[s];
    SCOPED_TRACE(step.line);
    const qsizetype end = s + 1 < runs.size() ? runs[s + 1].before : qsizetype(packets.size());
    qsizetype first = -1;
    for (qsizetype i = run.before; i < end; ++i) {
      const int scene = sceneOf(packets[size_t(i)].hex);
      if (first < 0 && scene == step.scene) first = i;
      if (first >= 0) {
        ASSERT_EQ(scene, step.scene) << "packet " << i << " after the first of scene " << step.scene;
      } else {
        ASSERT_EQ(scene, previous) << "packet " << i;
      }
    }
    ASSERT_GE(first, 0) << "scene " << step.scene << " never sent";
    if (step.scene != previous) {
      const qsizetype cycles = first - run.before + 1;
      EXPECT_LE(cycles, 2);
      if (run.inTime) {
        EXPECT_EQ(cycles, 1) << "the cycle that read the request did not send the scene";
      }
      std::printf(
          "[          ] \"%s\" %.1f ms after a packet: scene %d in packet %lld after it, seen "
          "%.1f ms after it%s\n",
          step.line, run.phaseMs, step.scene, static_cast<long long>(cycles),
          packets[size_t(first)].seenMs - run.writtenMs, run.inTime ? "" : " (not in time)");
    } else {
      EXPECT_EQ(first, run.before) << "the scene changed without a request that acts";
    }
    previous = step.scene;
  }
  const qsizetype from = runs[0].before;
  const qsizetype last = qsizetype(packets.size()) - 1;
  std::printf("[          ] a packet every %.1f ms on average while the requests were made\n",
              (packets[size_t(last)].seenMs - packets[size_t(from)].seenMs) / double(last - from));

  // The panel showed each applied scene in the status that followed, with its request.
  const QStringList trace = link();
  const auto lineOf = [&](const QRegularExpression& re) {
    for (qsizetype i = 0; i < trace.size(); ++i)
      if (re.match(trace[i]).hasMatch()) return i;
    return qsizetype(-1);
  };
  const qsizetype shown3 = lineOf(panelShows("03", QStringLiteral("Импульс"), "-39[.,]99"));
  const qsizetype shown5 = lineOf(panelShows("05", QStringLiteral("А серия"), "-20[.,]00"));
  const qsizetype shown1 = lineOf(panelShows("01", QStringLiteral("Синус"), "-2[.,]30"));
  EXPECT_GE(shown3, 0) << trace.join(u'\n').toStdString();
  EXPECT_GT(shown5, shown3) << trace.join(u'\n').toStdString();
  EXPECT_GT(shown1, shown5) << trace.join(u'\n').toStdString();

  // Closed as a session's end closes it: the state and the scenes are saved (when the drive
  // holding them asks, the question is answered), the scenes as they were read.
  ASSERT_NO_FATAL_FAILURE(endProgram());
  if (QFileInfo::exists(stateFile())) {
    QFile f(scenesPath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString saved = QString::fromLatin1(f.readAll());
    EXPECT_EQ(iniValue(saved, QStringLiteral("SchemaForm"), QStringLiteral("ScenaRadioGroup")), u"0");
    EXPECT_EQ(iniValue(saved, QStringLiteral("ScenaForm_2"), QStringLiteral("Ch1_PageControl")), u"0");
    EXPECT_EQ(iniValue(saved, QStringLiteral("ScenaForm_2"), QStringLiteral("Ch1I_AmplPBSuperSpin")), u"-40");
    EXPECT_EQ(iniValue(saved, QStringLiteral("ScenaForm_4"), QStringLiteral("Ch1A_DelayPBSuperSpin")),
              u"1000");
  }
  simCommand("quit");
  ASSERT_TRUE(sim().waitForFinished(5000)) << "the simulator did not quit";
  EXPECT_EQ(sim().exitCode(), 0);
}

}  // namespace
