// Damaged files end to end: whatever a state file, a Scenes.ini or a project file holds, the
// command packets the virtual synthesizer receives carry only codes that values within the
// limits of the controls can give, each damaged value brought to the limit it violated. Values
// inside their controls' limits, also beyond the panel's, go out and come back unchanged.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTest>
#include <QToolButton>
#include <csignal>
#include <functional>
#include <memory>
#include <vector>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "support/program_session.h"
#include "support/recording_dialogs.h"
#include "usb/link_form.h"
#include "usb/link_platform.h"
#include "shell/program_windows.h"

namespace {

// The packets of a simulator log ("<ms> <64 bytes in hex>" a line), as bytes.
std::vector<QByteArray> packetsIn(const QString& log) {
  std::vector<QByteArray> out;
  for (const QString& line : readLines(log))
    out.push_back(QByteArray::fromHex(line.mid(line.indexOf(u' ') + 1).toLatin1()));
  return out;
}

unsigned be(const QByteArray& p, int at, int n) {
  unsigned v = 0;
  for (int i = 0; i < n; ++i) v = v << 8 | quint8(p[at + i]);
  return v;
}

// The codes of a packet that no value within the limits of a control of the panel or of a scene
// page can give. Bounds worked out by hand from those limits: amplitude -60..0 dB is
// 16777..FFFFFF (upper three bytes of the 32-bit word), attenuation -10..0 dB 20723..65535,
// delay 0.005..80000 us 1..16 000 000 counts of 5 ns, pulse duration 0.005..320 us 1..64 000,
// series duration and pause (count - 2) 0..63 998, carrier 0.1..16 MHz 8388..1 342 177, step
// 0..2 MHz 0..167 772, AM 0.01..100 kHz 26..268 435, level -120..120 % 8..248.
QStringList outOfRange(const QByteArray& p) {
  QStringList bad;
  auto check = [&](bool ok, const QString& what) {
    if (!ok) bad << what;
  };
  auto within = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
  if (p.size() != 64) return {QStringLiteral("size %1").arg(p.size())};
  check(within(quint8(p[0]), 8, 248), QStringLiteral("level"));
  check((quint8(p[1]) & ~0x39u) == 0 && ((quint8(p[1]) >> 3) & 3) != 2, QStringLiteral("input byte"));
  check(quint8(p[2]) == 0x00 || quint8(p[2]) == 0xFF, QStringLiteral("divider"));
  check(quint8(p[29]) <= 3, QStringLiteral("calibration"));
  check(quint8(p[56]) <= 2, QStringLiteral("sync mode"));
  for (int c = 0; c < 2; ++c) {
    const int b = c == 0 ? 2 : 29;
    const QString ch = QStringLiteral("channel %1 ").arg(c + 1);
    const unsigned mode = quint8(p[b + 1]), rf = quint8(p[b + 2]), sign = quint8(p[b + 3]);
    const unsigned amp = be(p, b + 4, 3), att = be(p, b + 7, 2), delay = be(p, b + 9, 3);
    const unsigned dur = be(p, b + 12, 2), pause = be(p, b + 14, 2), count = quint8(p[b + 16]);
    const unsigned freq = be(p, b + 17, 3), step = be(p, b + 20, 3), am = quint8(p[b + 23]);
    const unsigned amFreq = be(p, b + 24, 3);
    check(mode <= 4, ch + QStringLiteral("mode"));
    if (mode > 4) continue;
    const bool on = mode != 4, pulse = mode == 0, series = mode == 1 || mode == 2, sine = mode == 3;
    check(rf == 0 || rf == 0xFF, ch + QStringLiteral("rf"));
    check(sign <= 1, ch + QStringLiteral("sign"));
    check(am == 0 || am == 0xFF, ch + QStringLiteral("am"));
    check(on ? within(amp, 16777, 0xFFFFFF) : amp == 0xFFFFFF, ch + QStringLiteral("amplitude"));
    check(mode == 1 ? within(att, 20723, 65535) : att == 65535, ch + QStringLiteral("attenuation"));
    check(pulse || series ? within(delay, 1, 16000000) : delay == 1, ch + QStringLiteral("delay"));
    check(pulse ? within(dur, 1, 64000) : series ? dur <= 63998 : dur == 1, ch + QStringLiteral("duration"));
    check(pulse ? pause == 0 : series ? pause <= 63998 : pause == 1, ch + QStringLiteral("pause"));
    check(series ? within(count, 1, 50) : count == 1, ch + QStringLiteral("count"));
    check(on ? within(freq, 8388, 1342177) : freq == 0, ch + QStringLiteral("frequency"));
    check(mode == 2 ? step <= 167772 : step == 0, ch + QStringLiteral("step"));
    check(pulse || sine ? within(amFreq, 26, 268435) : amFreq == 0, ch + QStringLiteral("AM frequency"));
  }
  return bad;
}

void expectInRange(const std::vector<QByteArray>& packets) {
  for (size_t i = 0; i < packets.size(); ++i) {
    const QStringList bad = outOfRange(packets[i]);
    EXPECT_TRUE(bad.isEmpty()) << "packet " << i << " " << packets[i].toHex().constData()
                               << ": out of range: " << bad.join(QStringLiteral(", ")).toStdString();
  }
}

struct Code {
  int offset;
  const char* hex;
  const char* what;
};

void expectCodes(const QByteArray& packet, const std::vector<Code>& codes) {
  for (const Code& c : codes) {
    const QByteArray want = QByteArray::fromHex(c.hex);
    EXPECT_EQ(packet.mid(c.offset, want.size()).toHex(), want.toHex()) << c.what;
  }
}

// The value of key in section of an INI text; empty when there is none.
QString iniValue(const QByteArray& text, const QString& section, const QString& key) {
  bool inside = false;
  for (QString line : QString::fromLatin1(text).split(u'\n')) {
    line = line.trimmed();
    if (line.startsWith(u'['))
      inside = line.compare(u'[' + section + u']', Qt::CaseInsensitive) == 0;
    else if (inside && line.startsWith(key + u'='))
      return line.mid(key.size() + 1);
  }
  return {};
}

QByteArray readAll(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

struct Saved {
  const char* section;
  const char* key;
  const char* value;
};

struct DamagedStart {
  const char* name;
  const char* stateFile;  // bin/qz418.ini, made read-only; none when null
  const char* scenesIni;  // bin/Scenes.ini; none when null
  std::vector<Code> firstPacket;
  std::vector<Saved> scenesAfterExit;  // Scenes.ini as the exit wrote it
};

const DamagedStart kStarts[] = {
    {"Scenes.ini",
     nullptr,
     "[ScenaForm]\r\nCommentEdit=Damaged\r\nCh1_PageControl=0\r\nCh1I_RadioGroup=-4\r\n"
     "Ch1I_AmplPBSuperSpin=-75\r\nCh1I_FreqPBSuperSpin=999\r\nCh1I_DelayPBSuperSpin=-5\r\n"
     "Ch1I_TimePBSuperSpin=1E30\r\nCh1I_AMCheckBox=1\r\nCh1I_AMPBSuperSpin=5000\r\n"
     "Ch1A_DelayPBSuperSpin=0.01\r\nCh2_PageControl=9\r\nSyncPageControl=7\r\n"
     "TactPBSuperSpin=1000000\r\nSyncLevelPBSpinEdit=120\r\nSyncLevelTrackBar=120\r\n",
     {{0, "f8", "level 120 %, beyond the slider's 95"},
      {3, "00", "channel 1 on the pulse page"},
      {6, "004189", "-75 dB as -60 dB"},
      {11, "000001", "delay -5 us as the scene's 0.005 us"},
      {14, "fa00", "duration 1E30 us as 320 us"},
      {19, "147ae1", "999 MHz as 16 MHz"},
      {25, "ff", "AM on"},
      {26, "041893", "AM 5000 kHz as 100 kHz"},
      {30, "04", "channel 2 page 9 as the last page, off"},
      {56, "02", "sync page 7 as the last page, clock"},
      {57, "ebc200", "clock period 1 000 000 us, low 24 bits of 200 000 000"}},
     {{"ScenaForm", "Ch1I_AmplPBSuperSpin", "-60"},
      {"ScenaForm", "Ch1I_FreqPBSuperSpin", "16"},
      {"ScenaForm", "Ch1I_DelayPBSuperSpin", "0.005"},
      {"ScenaForm", "Ch1I_TimePBSuperSpin", "320"},
      {"ScenaForm", "Ch1I_AMPBSuperSpin", "100"},
      {"ScenaForm", "Ch1I_RadioGroup", "-1"},
      {"ScenaForm", "Ch1A_DelayPBSuperSpin", "0.01"},
      {"ScenaForm", "Ch2_PageControl", "4"},
      {"ScenaForm", "SyncPageControl", "2"},
      {"ScenaForm", "TactPBSuperSpin", "1000000"},
      {"ScenaForm", "SyncLevelPBSpinEdit", "120"},
      {"ScenaForm", "SyncLevelTrackBar", "120"}}},
    // No scene is selected, so the panel keeps what the state file gave it.
    {"state file",
     "[MainForm]\r\nCh1_PageControl=-3\r\nCh1I_AmplPBSuperSpin=-75\r\nCh1I_FreqPBSuperSpin=0\r\n"
     "Ch1I_DelayPBSuperSpin=0.01\r\nCh1I_TimePBSuperSpin=1E30\r\nCh2_PageControl=9\r\n"
     "SyncPageControl=-1\r\nTactPBSuperSpin=3\r\nSyncLevelPBSpinEdit=-120\r\n"
     "[RxDrawForm]\r\nRangeRadioGroup=7\r\n[SchemaForm]\r\nScenaRadioGroup=-1\r\n",
     nullptr,
     {{0, "08", "level -120 %, beyond the slider's -95"},
      {1, "18", "range item 7 as the last, 50 V (code 3)"},
      {3, "00", "channel 1 page -3 as the first page, pulse"},
      {6, "004189", "-75 dB as -60 dB"},
      {11, "00000a", "delay 0.01 us as the panel's 0.05 us"},
      {14, "fa00", "duration 1E30 us as 320 us"},
      {19, "0020c4", "0 MHz as 0.1 MHz"},
      {30, "04", "channel 2 page 9 as the last page, off"},
      {56, "00", "sync page -1 as the first page, auto"},
      {57, "0007d0", "clock period 3 us as 10 us"}},
     {{"SchemaForm", "ScenaRadioGroup", "-1"}}},
};

class DamagedFilesEndToEnd : public ProgramWithSimulatorTest {
 protected:
  void SetUp() override {
    // Files with decimal points: the program's numbers follow the C conventions.
    const QByteArray lcAll = qgetenv("LC_ALL");
    qputenv("LC_ALL", "C.UTF-8");
    ProgramWithSimulatorTest::SetUp();
    qputenv("LC_ALL", lcAll);
  }
  QString scenesFile() const { return path(QStringLiteral("bin/Scenes.ini")); }
};

TEST_F(DamagedFilesEndToEnd, FilesAtStartSendOnlyCodesWithinTheControlsLimits) {
  for (const DamagedStart& start : kStarts) {
    SCOPED_TRACE(start.name);
    QFile::remove(stateFile());
    QFile::remove(scenesFile());
    QFile::remove(linkLog());
    QFile::remove(dialogLog());
    QByteArray state;
    if (start.stateFile) {
      state = start.stateFile;
      ASSERT_TRUE(writeAll(stateFile(), state));
      // Frozen by its operator: the exit must leave it as it is.
      ASSERT_TRUE(QFile::setPermissions(stateFile(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    }
    if (start.scenesIni) {
      ASSERT_TRUE(writeAll(scenesFile(), start.scenesIni));
    }

    ASSERT_NO_FATAL_FAILURE(startSim());
    ASSERT_NO_FATAL_FAILURE(startProgram());
    ASSERT_TRUE(waitFor([&] { return packetsIn(simLog()).size() >= 3; }, 20000)) << "no packets";
    const std::vector<QByteArray> packets = packetsIn(simLog());
    expectInRange(packets);
    expectCodes(packets[0], start.firstPacket);

    // Ended as a session's end ends it; whether the exit code tells of the frozen file is not
    // this test's concern.
    ASSERT_TRUE(signalChild(app(), SIGTERM));
    ASSERT_TRUE(app().waitForFinished(20000)) << "the program did not end";
    simCommand("quit");
    ASSERT_TRUE(sim().waitForFinished(5000));
    if (start.stateFile) {
      EXPECT_EQ(readAll(stateFile()), state) << "a read-only state file was replaced";
      EXPECT_TRUE(
          readLines(dialogLog()).join(u'\n').contains(QStringLiteral("\tUnable to write to ") + stateFile()))
          << readLines(dialogLog()).join(u'\n').toStdString();
    }
    const QByteArray scenes = readAll(scenesFile());
    if (scenes.isEmpty()) continue;  // the drive's question answered no save
    for (const Saved& s : start.scenesAfterExit)
      EXPECT_EQ(iniValue(scenes, QLatin1String(s.section), QLatin1String(s.key)), QLatin1String(s.value))
          << s.section << '/' << s.key;
  }
}

// A project opened while the exchange runs: the packets built during the load and after it.
TEST_F(DamagedFilesEndToEnd, AProjectSendsOnlyCodesWithinTheControlsLimits) {
  const FormatSettings oldSettings = appFormatSettings();
  setAppFormatSettings(FormatSettings::point());
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("run"))));
  TSchemaForm::stateFile = [this] { return path(QStringLiteral("none.ini")); };
  TSchemaForm::scenesFile = [this] { return path(QStringLiteral("none-Scenes.ini")); };
  struct Restore {
    FormatSettings settings;
    QByteArray runtime;
    ~Restore() {
      TSchemaForm::stateFile = nullptr;
      TSchemaForm::scenesFile = nullptr;
      qputenv("XDG_RUNTIME_DIR", runtime);
      setAppFormatSettings(settings);
    }
  } restore{oldSettings, runtime};

  const QString project = path(QStringLiteral("damaged.qz4"));
  ASSERT_TRUE(writeAll(project,
                       "[MainForm]\r\nCh1_PageControl=2\r\nCh1F_AmplPBSuperSpin=-75\r\n"
                       "Ch1F_FreqPBSuperSpin=999\r\nCh1F_DfreqPBSuperSpin=9\r\nCh1F_DelayPBSuperSpin=1E30\r\n"
                       "Ch1F_TimePBSuperSpin=-1\r\nCh1F_PausePBSuperSpin=1E30\r\nCh1F_CountPBSpinEdit=500\r\n"
                       "Ch2_PageControl=-1\r\nCh2I_AMPBSuperSpin=5000\r\nSyncPageControl=7\r\n"
                       "[RxDrawForm]\r\nRangeRadioGroup=-4\r\n[SchemaForm]\r\nScenaRadioGroup=-1\r\n"));
  ASSERT_NO_FATAL_FAILURE(startSim());
  auto main = std::make_unique<TMainForm>();
  main->saveStateOnClose = false;
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  auto rx = std::make_unique<TRxDrawForm>(main.get());
  auto schema = std::make_unique<TSchemaForm>(main.get(), rx.get());
  wireWindows({main.get(), rx.get(), schema.get(), nullptr});
  LinkPlatform platform = systemLinkPlatform();
  platform.stateFile = path(QStringLiteral("none.ini"));
  auto link = std::make_unique<TLinkForm>(platform, main.get(), rx.get());
  wireWindows({main.get(), rx.get(), schema.get(), link.get()});
  const auto pumpUntil = [](const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
      if (t.elapsed() > timeoutMs) return false;
      QTest::qWait(20);
    }
    return true;
  };
  ASSERT_TRUE(pumpUntil([&] { return packetsIn(simLog()).size() >= 2; }, 20000)) << "no packets";

  {
    ScopedRecordingDialogs d;
    d->fileNames.push_back(project);
    QTest::mouseClick(main->OpenFileSpeedButton, Qt::LeftButton);
    EXPECT_EQ(main->windowTitle(), project) << "the project was loaded";
  }
  const size_t loaded = packetsIn(simLog()).size();
  ASSERT_TRUE(pumpUntil([&] { return packetsIn(simLog()).size() >= loaded + 2; }, 20000));
  link.reset();  // the exchange stops before the windows go
  schema.reset();
  rx.reset();
  main.reset();

  const std::vector<QByteArray> packets = packetsIn(simLog());
  expectInRange(packets);
  expectCodes(packets.back(), {{1, "00", "range item -4 as none, code 0"},
                               {3, "02", "channel 1 on the F series page"},
                               {6, "004189", "-75 dB as -60 dB"},
                               {11, "f42400", "delay 1E30 us as 80 000 us"},
                               {14, "0008", "duration -1 us as 0.05 us, sent as count - 2"},
                               {16, "f9fe", "pause 1E30 us as 320 us, sent as count - 2"},
                               {18, "32", "500 pulses as 50"},
                               {19, "147ae1", "999 MHz as 16 MHz"},
                               {22, "028f5c", "step 9 MHz as 2 MHz"},
                               {30, "00", "channel 2 page -1 as the first page, pulse"},
                               {53, "041893", "AM 5000 kHz as 100 kHz"},
                               {56, "02", "sync page 7 as the last page, clock"}});
  simCommand("quit");
  ASSERT_TRUE(sim().waitForFinished(5000));
}

}  // namespace
