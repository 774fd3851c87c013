// The command tree on the real windows: each command must act as the operator's edit of its
// field would (limits, grid, reactions, page highlight) and refuse what the operator could
// not do, changing nothing then.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <clocale>
#include <cstring>
#include <memory>

#include "panel/main_form.h"
#include "remote/panel_instrument.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "shell/program_windows.h"
#include "usb/link_form.h"
#include "usb/usb_fakes.h"
#include "widgets/status_bar.h"

using namespace scpi;

namespace {

class PanelInstrumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setAppFormatSettings(FormatSettings::point());
    TSchemaForm::stateFile = [this] { return dir.filePath("qz418.ini"); };
    TSchemaForm::scenesFile = [this] { return dir.filePath("Scenes.ini"); };
    panel = std::make_unique<TMainForm>();
    panel->saveStateOnClose = false;
    rx = std::make_unique<TRxDrawForm>(panel.get());
    scenes = std::make_unique<TSchemaForm>(panel.get(), rx.get());
    wireWindows({panel.get(), rx.get(), scenes.get(), nullptr});
    instrument = std::make_unique<PanelInstrument>(PanelInstrument::Windows{panel.get(), rx.get(), scenes.get(), nullptr});
    session = std::make_unique<Session>(*instrument);
    send("*RST");
  }
  void TearDown() override {
    session.reset();
    instrument.reset();
    if (link) {
      wireWindows({panel.get(), rx.get(), scenes.get(), nullptr});
      link.reset();
    }
    scenes.reset();
    rx.reset();
    panel.reset();
    TSchemaForm::stateFile = nullptr;
    TSchemaForm::scenesFile = nullptr;
    setAppFormatSettings(FormatSettings::point());
  }

  std::string send(const std::string& line) {
    session->receive(line + "\n");
    std::string out;
    while (session->run(out) == Session::State::Busy) {
    }
    if (!out.empty()) out.pop_back();
    return out;
  }
  // The oldest error code, 0 when none.
  int error() { return std::stoi(session->errors().pop()); }

  // A control's value as the operator sees it: a field's text, a box 1/0, an item or page index.
  QString shown(const QString& name) const {
    QWidget* w = panel->findChild<QWidget*>(name);
    if (!w) w = rx->findChild<QWidget*>(name);
    if (auto* p = qobject_cast<TPageControl*>(w)) return QString::number(p->activePageIndex());
    if (auto* r = qobject_cast<TRadioGroup*>(w)) return QString::number(r->itemIndex());
    if (auto* c = qobject_cast<QCheckBox*>(w)) return c->isChecked() ? "1" : "0";
    if (auto* s = qobject_cast<QSlider*>(w)) return QString::number(s->value());
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    return "<no control " + name + ">";
  }
  std::string packet() { return send("SYST:PACK?"); }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> panel;
  std::unique_ptr<TRxDrawForm> rx;
  std::unique_ptr<TSchemaForm> scenes;
  std::unique_ptr<TLinkForm> link;  // only where a test runs an exchange
  std::unique_ptr<PanelInstrument> instrument;
  std::unique_ptr<Session> session;
};

// The packet of a fresh panel (both channels on the pulse page, -2.3 dB, 100.245 us, 2.5 MHz,
// AM 1 kHz, clock 1000 us, level -20, "300В").
const char* const kFreshPacket =
    "6C00"
    "FF00FF01C471CDFFFF004E514E5100000103333300000000000A7C"
    "0000FF01C471CDFFFF004E514E5100000103333300000000000A7C"
    "00030D4000000000";

TEST_F(PanelInstrumentTest, SettingsLandInTheirFieldAsAnOperatorsEntryWould) {
  struct Case {
    const char* command;
    const char* control;
    const char* shown;
  };
  const Case cases[] = {
      {"SOUR1:PULS:AMPL -12.3", "Ch1I_AmplPBSuperSpin", "-12.3"},
      {"SOURCE1:PULSE:AMPLITUDE -12.3DB", "Ch1I_AmplPBSuperSpin", "-12.3"},
      {"SOUR2:ASER:AMPL MIN", "Ch2A_AmplPBSuperSpin", "-60.0"},
      {"SOUR1:PULS:DEL 0.1 MS", "Ch1I_DelayPBSuperSpin", "100.000"},
      {"SOUR1:PULS:DEL 50NS", "Ch1I_DelayPBSuperSpin", "0.050"},
      // Leaving the field puts the value onto its 0.005 grid from 0.05.
      {"SOUR1:PULS:DEL 100.2474", "Ch1I_DelayPBSuperSpin", "100.245"},
      {"SOUR2:FSER:STEP 500 KHZ", "Ch2F_DfreqPBSuperSpin", "0.50"},
      {"SOUR2:FSER:WIDT MAX", "Ch2F_TimePBSuperSpin", "320.000"},
      {"SOUR1:SIN:FREQ 1.5E6HZ", "Ch1S_FreqPBSuperSpin", "1.50"},
      {"SOUR1:PULS:AM:FREQ 2.5", "Ch1I_AMPBSuperSpin", "2.50"},
      {"SOUR2:SIN:AM:FREQ 0.05 MHZ", "Ch2S_AMPBSuperSpin", "50.00"},
      {"SOUR1:ASER:ATT -3.5", "Ch1A_LossPBSuperSpin", "-3.5"},
      {"SOUR1:ASER:COUN MAX", "Ch1A_CountPBSpinEdit", "50"},
      {"SOUR1:ASER:COUN 7.4", "Ch1A_CountPBSpinEdit", "7"},
      {"SOUR2:ASER:PAUS 1.0001", "Ch2A_PausePBSuperSpin", "1.000"},
      {"SOUR1:PULS:SIGN NEG", "Ch1I_RadioGroup", "1"},
      {"SOUR2:SIN:SIGN POSITIVE", "Ch2S_RadioGroup", "0"},
      {"SOUR1:PULS:RFM OFF", "Ch1I_HFModulationCheckBox", "0"},
      {"SOUR2:SIN:AM 1", "Ch2S_AMCheckBox", "1"},
      {"SOUR1:FSER:DIV ON", "Ch1F_LossCheckBox", "1"},
      {"SOUR1:OFF:DIV ON", "Ch1S_OffCheckBox", "1"},
      {"TRIG:SOUR CLOCK", "SyncPageControl", "2"},
      {"TRIG:SLOP POS", "SyncPolarRadioGroup", "1"},
      {"TRIG:CLOC:PER 1 S", "TactPBSuperSpin", "1,000,000.0"},
      // The level field goes to 120, its slider stops at 95.
      {"TRIG:LEV 120PCT", "SyncLevelPBSpinEdit", "120"},
      {"TRIG:LEV 120PCT", "SyncLevelTrackBar", "95"},
      {"TRIG:LEV -40", "SyncLevelTrackBar", "-40"},
      {"INP:RANG 50", "RangeRadioGroup", "2"},
      {"INP:LOAD 50", "R50CheckBox", "1"},
      {"SOUR2:MODE FSER", "Ch2_PageControl", "2"},
  };
  for (const Case& c : cases) {
    send(c.command);
    EXPECT_EQ(shown(c.control), c.shown) << c.command;
    EXPECT_EQ(error(), 0) << c.command;
  }
}

TEST_F(PanelInstrumentTest, RefusedCommandsChangeNothing) {
  struct Case {
    const char* command;
    int error;
  };
  const Case cases[] = {
      {"SOUR1:PULS:AMPL 0.5", DataOutOfRange},  // never clamped silently
      {"SOUR1:PULS:AMPL -60.01", DataOutOfRange},
      {"SOUR1:PULS:FREQ 16.01", DataOutOfRange},
      {"SOUR1:PULS:DEL 10 S", DataOutOfRange},
      {"SOUR1:PULS:DEL 1E99999", DataOutOfRange},
      {"SOUR1:ASER:COUN 51", DataOutOfRange},
      {"TRIG:LEV 121", DataOutOfRange},
      {"SOUR1:PULS:AMPL -3 MHZ", InvalidSuffix},
      {"SOUR1:PULS:DEL 5 DB", InvalidSuffix},
      {"SOUR1:PULS:AMPL LOUD", IllegalParameterValue},
      {"SOUR1:PULS:AMPL \"-3\"", ParameterError},
      {"SOUR1:PULS:AMPL", MissingParameter},
      {"SOUR1:PULS:AMPL -3,-4", ParameterNotAllowed},
      {"SOUR1:MODE TRIANGLE", IllegalParameterValue},
      {"SOUR1:PULS:SIGN UP", IllegalParameterValue},
      {"INP:RANG 100", IllegalParameterValue},
      {"INP:LOAD 75", IllegalParameterValue},
      {"SOUR3:MODE PULS", UndefinedHeader},
      {"SOUR2:PULS:DIV ON", UndefinedHeader},  // output 2 has no divider
      {"SOUR2:OFF:DIV ON", UndefinedHeader},
      {"SOUR1:SIN:DEL 5", UndefinedHeader},  // the sine page has no delay
      {"SOUR1:PULS:STEP 1", UndefinedHeader},
      {"SOUR1:ASER:RFM OFF", UndefinedHeader},
      {"SOUR1:PULS:CAL ON", UndefinedHeader},
      {"SOUR1:SIN:CAL ON", SettingsConflict},  // not on the sine page
      {"SCEN:APPL 10", DataOutOfRange},
      {"SCEN:NAME 2,\"a\tb\"", IllegalParameterValue},
      {"SCEN:NAME 2,3", ParameterError},
  };
  const std::string before = packet();
  ASSERT_EQ(before, kFreshPacket);
  for (const Case& c : cases) {
    send(c.command);
    EXPECT_EQ(error(), c.error) << c.command;
    EXPECT_EQ(packet(), before) << c.command;
  }
  EXPECT_EQ(send("SCEN:NAME? 2"), "\"Наименование сцены\"");
}

TEST_F(PanelInstrumentTest, CalibrationCoversTheOtherChannelAgainstRemoteChangesToo) {
  send("SOUR1:MODE SIN;:SOUR1:SIN:CAL ON");
  EXPECT_EQ(error(), 0);
  EXPECT_TRUE(panel->ch[1].pages->isHidden());
  EXPECT_EQ(send("SOUR2:MODE?"), "OFF");
  const std::string covered = packet();
  EXPECT_EQ(covered.substr(58, 4), "0104");  // calibration byte 1, channel 2 off
  for (const char* c : {"SOUR2:MODE PULS", "SOUR2:PULS:AMPL -5", "SOUR2:SIN:CAL ON"}) {
    send(c);
    EXPECT_EQ(error(), SettingsConflict) << c;
  }
  EXPECT_EQ(packet(), covered);
  EXPECT_EQ(send("SOUR2:PULS:AMPL?"), "-2.3");  // reading is no change
  // Channel 1 leaving the sine page ends the calibration, as the operator's tab click does;
  // channel 2 stays off, its pages shown again.
  send("SOUR1:MODE PULS");
  EXPECT_EQ(shown("Ch1S_RF_To_Ch2_CheckBox"), "0");
  EXPECT_FALSE(panel->ch[1].pages->isHidden());
  EXPECT_EQ(send("SOUR2:MODE?"), "OFF");
  EXPECT_TRUE(panel->ch[0].pages->isTabHighlighted(0));
  EXPECT_FALSE(panel->ch[0].pages->isTabHighlighted(3));
}

TEST_F(PanelInstrumentTest, ResetBringsBackAFreshPanelButKeepsCommentAndScenes) {
  send("SCEN:NAME 5,\"Поверка\"");
  send("SOUR1:MODE SIN;:SOUR1:SIN:CAL ON;:SOUR1:SIN:AMPL -7;:TRIG:SOUR EXT;LEV 90;:TRIG:CLOC:PER 20");
  send("INP:RANG 150;LOAD 50;:SOUR1:OFF:DIV ON;:SOUR1:PULS:RFM OFF");
  ASSERT_NE(packet(), kFreshPacket);
  const QString comment = panel->CommentEdit->text();
  send("*RST");
  EXPECT_EQ(packet(), kFreshPacket);
  EXPECT_EQ(shown("SyncLevelTrackBar"), "-20");
  EXPECT_EQ(shown("Ch1S_OffCheckBox"), "0");
  EXPECT_FALSE(panel->ch[1].pages->isHidden());
  EXPECT_TRUE(panel->SyncPageControl->isTabHighlighted(0));
  EXPECT_FALSE(panel->SyncPageControl->isTabHighlighted(1));
  EXPECT_EQ(panel->CommentEdit->text(), comment);
  EXPECT_EQ(send("SCEN:NAME? 5"), "\"Поверка\"");
}

TEST_F(PanelInstrumentTest, ScenesAreCapturedAppliedAndNamedAsInTheScenarioWindow) {
  send("SOUR1:PULS:AMPL -11;:SCEN:CAPT 4;:SOUR1:PULS:AMPL -33");
  EXPECT_EQ(send("SCEN:SEL?"), "1");
  send("SCEN:APPL 4");
  EXPECT_EQ(send("SCEN:SEL?;:SOUR1:PULS:AMPL?"), "4;-11.0");
  // The selected scene is applied again on request.
  send("SOUR1:PULS:AMPL -33;:SCEN:APPL 4");
  EXPECT_EQ(send("SOUR1:PULS:AMPL?"), "-11.0");
  send("SCEN:NAME 4,\"Стенд \"\"А\"\"\"");
  EXPECT_EQ(send("SCEN:NAME? 4"), "\"Стенд \"\"А\"\"\"");
  EXPECT_EQ(panel->CommentEdit->text(), QString::fromUtf8("Стенд \"А\""));
  EXPECT_EQ(error(), 0);
}

TEST_F(PanelInstrumentTest, RepliesUseAPointAndShortNamesWhateverTheLocale) {
  setAppFormatSettings(FormatSettings::russian());
  send("*RST");  // the fields show their texts with a comma now
  send("SOUR1:PULS:DEL 1234.5;:SOUR2:MODE ASER;:TRIG:SOUR EXT");
  EXPECT_EQ(send("SOUR1:PULS:DEL?;:SOUR1:PULS:AMPL?;DEL? MIN;:SOUR2:MODE?;:TRIG:SOUR?;SLOP?;:INP:RANG?;LOAD?"),
            "1234.500;-2.3;0.050;ASER;EXT;NEG;300;HIGH");
  EXPECT_EQ(send("SOUR1:PULS:FREQ? DEF;:SOUR1:ASER:COUN? MAX;:SOUR1:PULS:RFM?"), "2.50;50;1");
}

TEST_F(PanelInstrumentTest, TraceAndPulseComeFromTheDrawnTrace) {
  // A rectangular pulse of 100 counts over samples 1032..1231 (1 us), "300В" range.
  std::array<std::uint16_t, 4096> samples;
  samples.fill(255);
  for (int i = 1032; i < 1232; ++i) samples[std::size_t(i)] = 355;
  send("TRIG:LEV 20");  // a positive level: the positive peak is searched
  rx->ShowRxBuffer(samples);
  const std::string m = send("MEAS:PULS?");
  const double peak = std::stod(m.substr(0, m.find(',')));
  const double width = std::stod(m.substr(m.find(',') + 1));
  // The filter overshoots at the edges; the flat top is 100 counts x 1.0216 x 1.171875 V.
  EXPECT_GT(peak, 119.7);
  EXPECT_LT(peak, 135.0);
  EXPECT_NEAR(width, 1.0, 0.02);
  const std::string block = send("TRAC:DATA?");
  ASSERT_EQ(block.substr(0, 7), "#516384");
  ASSERT_EQ(block.size(), 7u + 16384u);
  float first = 0;
  std::memcpy(&first, block.data() + 7 + 4 * 1100, 4);  // inside the pulse
  EXPECT_NEAR(first, 100 * 1.171875 * 1.0216, 0.5);
  send("FORM ASC");
  const std::string text = send("TRAC:DATA?");
  EXPECT_EQ(std::count(text.begin(), text.end(), ','), 4095);
  EXPECT_EQ(text.substr(0, 2), "0,");
}

// STATus:DEVice? answers from the report the exchange hands the panel, as values: a real
// exchange over a fake device, whatever the status bar's text says, and nothing once the link
// is gone.
TEST_F(PanelInstrumentTest, DeviceStatusIsTheReportTheExchangeHandsOver) {
  struct Row {
    std::array<std::uint8_t, 18> report;
    const char* answer;
  };
  const Row rows[] = {
      // 20 %, bits 0 and 3 (edge +, 300 V), auto; both outputs pulse; bit 2 clear: divider in.
      {{0x6C, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x33, 0x33, 0xC4, 0x71, 0xCD, 0x03, 0x33, 0x33, 0x00, 0x03, 0xE8},
       "PULS,0.00,2.50000,PULS,-2.30,2.50000,300,AUTO,POS,20,0,1,1000"},
      // Modes 4 and 3; clock, 150 V, edge -, divider out; the -60 dB code, 16 MHz, the smallest
      // amplitude and frequency codes; the largest probe frequency.
      {{0x08, 0x24, 0x34, 0x00, 0x41, 0x89, 0x14, 0x7A, 0xE1, 0x00, 0x00, 0x00, 0x00, 0x20, 0xC4, 0x00, 0xFF, 0xFF},
       "OFF,-59.68,16.00000,SIN,-84.29,0.09999,150,CLOC,NEG,120,0,0,65535"},
      // Mode codes 5-7 are off; a sync code above 2 names no mode.
      {{0x94, 0x39, 0x07, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0xC4, 0x71, 0xCD, 0x03, 0x33, 0x33, 0x00, 0x00, 0x00},
       "OFF,0.00,0.00000,PULS,-2.30,2.50000,300,NONE,POS,-20,0,1,0"},
  };
  std::atomic<std::size_t> current{0};
  auto script = std::make_shared<fake::Script>();
  script->answer = [&rows, &current](std::uint8_t ep, std::uint8_t* payload, std::uint32_t length, std::uint32_t,
                                     int) {
    if (ep == 0x86) std::memcpy(payload, rows[current].report.data(), std::min<std::size_t>(length, 18));
    return 0;
  };
  auto devices = std::make_shared<std::vector<DeviceRecord>>(1, fake::synthesizer("1"));
  LinkPlatform platform;
  platform.makeEnumerator = [devices] { return std::make_unique<fake::Enumerator>(devices); };
  platform.openTransport = fake::opener(script);
  platform.stateFile = dir.filePath("link.ini");
  link = std::make_unique<TLinkForm>(platform, panel.get(), rx.get());
  wireWindows({panel.get(), rx.get(), scenes.get(), link.get()});
  instrument = std::make_unique<PanelInstrument>(PanelInstrument::Windows{panel.get(), rx.get(), scenes.get(), link.get()});
  session = std::make_unique<Session>(*instrument);

  int gate = -1;
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    current = i;
    // Out of the last gate (a gate closed before would keep it there), then held in the
    // status transfer after the next one: the next one's report, this row's, is shown by then.
    ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x86] > gate + 1; }));
    gate = script->transfers[0x86] + 1;
    script->closeGate(0x86, gate);
    const bool held = fake::runUntil([&] { return script->reachedGate() && link->linkUp(); });
    if (!held) script->openGate();  // so that the exchange can end
    ASSERT_TRUE(held) << i;
    EXPECT_EQ(send("STAT:DEV?"), rows[i].answer);
    panel->FooterStatusBar->setPanelText(1, QStringLiteral("Код ошибки 0, отчёт 6C 09 00"));
    EXPECT_EQ(send("STAT:DEV?"), rows[i].answer) << "the status bar's wording is not the answer";
    script->openGate();
  }
  devices->clear();
  link->WMDeviceChange(TLinkForm::DBT_DEVNODES_CHANGED);
  ASSERT_TRUE(fake::runUntil([&] { return !link->linkUp(); }));
  EXPECT_EQ(send("STAT:DEV?"), "NONE,9.91E37,9.91E37,NONE,9.91E37,9.91E37,NONE,NONE,NONE,9.91E37,9.91E37,9.91E37,9.91E37");
}

// The C library's numbers with a decimal comma for the whole process, as on an operator's
// desktop; the locale is made privately (localedef into LOCPATH) when the machine has none.
class RussianCLocale {
 public:
  RussianCLocale() {
    before_ = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8") &&
        QProcess::execute("localedef", {"-i", "ru_RU", "-f", "UTF-8", dir_.filePath("ru_RU.UTF-8")}) == 0) {
      qputenv("LOCPATH", dir_.path().toLocal8Bit());
      std::setlocale(LC_ALL, "ru_RU.UTF-8");
    }
  }
  ~RussianCLocale() {
    std::setlocale(LC_ALL, before_.c_str());
    qunsetenv("LOCPATH");
  }
  bool active() const { return std::strcmp(std::localeconv()->decimal_point, ",") == 0; }

 private:
  QTemporaryDir dir_;
  std::string before_;
};

TEST_F(PanelInstrumentTest, EveryNodeOnBothChannelsSetsAndAnswersInShortAndLongForm) {
  const RussianCLocale locale;
  ASSERT_TRUE(locale.active()) << "no ru_RU locale, and localedef could not make one";
  setAppFormatSettings(FormatSettings::russian());
  // A report of two different channels: 1 off at 2.5 MHz (divider in), 2 on sine at 16 MHz,
  // a probe pulse of 1000 Hz.
  panel->ShowStatusReport({0x6C, 0x09, 0x34, 0xFF, 0xFF, 0xFF, 0x03, 0x33, 0x33, 0xC4, 0x71, 0xCD, 0x14, 0x7A, 0xE1,
                           0x00, 0x03, 0xE8},
                          0);
  // '#' is the channel. The short form sets a and the long form reads it back; the long form
  // sets b and the short form reads it; bad is refused with its error and changes nothing.
  // Without a: a query-only node. a and b differ, and a differs from a fresh panel.
  struct Row {
    const char* shortForm;
    const char* longForm;
    const char* channels;
    const char* a;
    const char* replyA;
    const char* b = nullptr;
    const char* replyB = nullptr;
    const char* bad = nullptr;
    int error = 0;
  };
  const Row rows[] = {
      {"SOUR#:MODE", "SOURCE#:MODE", "12", "ASER", "ASER", "SIN", "SIN", "TRI", -224},
      {"SOUR#:PULS:AMPL", "SOURCE#:PULSE:AMPLITUDE", "12", "-12.3", "-12.3", "MIN", "-60.0", "0.5", -222},
      {"SOUR#:PULS:SIGN", "SOURCE#:PULSE:SIGN", "12", "NEG", "NEG", "POS", "POS", "UP", -224},
      {"SOUR#:PULS:DEL", "SOURCE#:PULSE:DELAY", "12", "0.1 MS", "100.000", "50NS", "0.050", "10 S", -222},
      {"SOUR#:PULS:WIDT", "SOURCE#:PULSE:WIDTH", "12", "5 US", "5.000", "MAX", "320.000", "320.01", -222},
      {"SOUR#:PULS:FREQ", "SOURCE#:PULSE:FREQUENCY", "12", "1.5E6HZ", "1.50", "16", "16.00", "16.01", -222},
      {"SOUR#:PULS:RFM", "SOURCE#:PULSE:RFMODULATION", "12", "OFF", "0", "ON", "1", "2 DB", -131},
      {"SOUR#:PULS:AM", "SOURCE#:PULSE:AM:STATE", "12", "1", "1", "OFF", "0", "MAYBE", -224},
      {"SOUR#:PULS:AM:FREQ", "SOURCE#:PULSE:AM:FREQUENCY", "12", "2.5", "2.50", "0.05 MHZ", "50.00", "101", -222},
      {"SOUR#:PULS:DIV", "SOURCE#:PULSE:DIVIDER", "1", "ON", "1", "OFF", "0", "\"ON\"", -220},
      {"SOUR#:ASER:AMPL", "SOURCE#:ASERIES:AMPLITUDE", "12", "-7.5", "-7.5", "DEF", "-2.3", "-61", -222},
      {"SOUR#:ASER:SIGN", "SOURCE#:ASERIES:SIGN", "12", "NEGATIVE", "NEG", "POSITIVE", "POS", "1", -220},
      {"SOUR#:ASER:DEL", "SOURCE#:ASERIES:DELAY", "12", "80000", "80000.000", "100.2474", "100.245", "0.04", -222},
      {"SOUR#:ASER:WIDT", "SOURCE#:ASERIES:WIDTH", "12", "1.0001", "1.000", "MIN", "0.050", "-1", -222},
      {"SOUR#:ASER:FREQ", "SOURCE#:ASERIES:FREQUENCY", "12", "0.1", "0.10", "8 MHZ", "8.00", "1 DB", -131},
      {"SOUR#:ASER:COUN", "SOURCE#:ASERIES:COUNT", "12", "7.4", "7", "50.4", "50", "50.5", -222},
      {"SOUR#:ASER:PAUS", "SOURCE#:ASERIES:PAUSE", "12", "1", "1.000", "2 US", "2.000", "321", -222},
      {"SOUR#:ASER:ATT", "SOURCE#:ASERIES:ATTENUATION", "12", "-3.5", "-3.5", "MIN", "-10.0", "0.1", -222},
      {"SOUR#:ASER:DIV", "SOURCE#:ASERIES:DIVIDER", "1", "1", "1", "0", "0", "ON,OFF", -108},
      {"SOUR#:FSER:AMPL", "SOURCE#:FSERIES:AMPLITUDE", "12", "-40", "-40.0", "0", "0.0", "LOUD", -224},
      {"SOUR#:FSER:SIGN", "SOURCE#:FSERIES:SIGN", "12", "NEG", "NEG", "POS", "POS"},
      {"SOUR#:FSER:DEL", "SOURCE#:FSERIES:DELAY", "12", "12.345", "12.345", "DEF", "100.245", "\"5\"", -220},
      {"SOUR#:FSER:WIDT", "SOURCE#:FSERIES:WIDTH", "12", "2.5", "2.500", "320", "320.000"},
      {"SOUR#:FSER:FREQ", "SOURCE#:FSERIES:FREQUENCY", "12", "16", "16.00", "MIN", "0.10"},
      {"SOUR#:FSER:COUN", "SOURCE#:FSERIES:COUNT", "12", "10.5", "11", "#H1", "1", "0", -222},
      {"SOUR#:FSER:PAUS", "SOURCE#:FSERIES:PAUSE", "12", "300", "300.000", "MAX", "320.000"},
      {"SOUR#:FSER:STEP", "SOURCE#:FSERIES:STEP", "12", "1.25", "1.25", "MIN", "0.00", "2.01", -222},
      {"SOUR#:FSER:DIV", "SOURCE#:FSERIES:DIVIDER", "1", "ON", "1", "OFF", "0"},
      {"SOUR#:SIN:AMPL", "SOURCE#:SINUSOID:AMPLITUDE", "12", "-0.1", "-0.1", "-60", "-60.0"},
      {"SOUR#:SIN:SIGN", "SOURCE#:SINUSOID:SIGN", "12", "NEG", "NEG", "POS", "POS"},
      {"SOUR#:SIN:RFM", "SOURCE#:SINUSOID:RFMODULATION", "12", "0", "0", "1", "1"},
      {"SOUR#:SIN:FREQ", "SOURCE#:SINUSOID:FREQUENCY", "12", "3.33", "3.33", "100 KHZ", "0.10"},
      {"SOUR#:SIN:AM", "SOURCE#:SINUSOID:AM:STATE", "12", "ON", "1", "OFF", "0"},
      {"SOUR#:SIN:AM:FREQ", "SOURCE#:SINUSOID:AM:FREQUENCY", "12", "99.99", "99.99", "10 HZ", "0.01"},
      {"SOUR#:SIN:DIV", "SOURCE#:SINUSOID:DIVIDER", "1", "ON", "1", "OFF", "0"},
      {"SOUR#:OFF:DIV", "SOURCE#:OFF:DIVIDER", "1", "ON", "1", "OFF", "0"},
      // Calibration needs the channel on its sine page, and covers the other channel meanwhile.
      {"SOUR#:MODE SIN;SIN:CAL", "SOURCE#:MODE SINUSOID;SINUSOID:CALIBRATION", "12", "ON", "1", "OFF", "0", "2 V",
       -131},
      {"TRIG:SOUR", "TRIGGER:SOURCE", "1", "EXT", "EXT", "CLOCK", "CLOC", "MANUAL", -224},
      {"TRIG:SLOP", "TRIGGER:SLOPE", "1", "POS", "POS", "NEGATIVE", "NEG"},
      {"TRIG:LEV", "TRIGGER:LEVEL", "1", "120.4", "120", "-40PCT", "-40", "121", -222},
      {"TRIG:CLOC:PER", "TRIGGER:CLOCK:PERIOD", "1", "1 S", "1000000.0", "20", "20.0", "9.9", -222},
      {"INP:RANG", "INPUT:RANGE", "1", "150", "150", "MIN", "50", "100", -224},
      {"INP:LOAD", "INPUT:LOAD", "1", "50", "50", "HIGH", "HIGH", "75", -224},
      {"DISP:COMM", "DISPLAY:COMMENT", "1", "'Стенд 1'", "\"Стенд 1\"", "\"a\"\"b\"", "\"a\"\"b\"", "\"a\tb\"", -224},
      {"SCEN:COMM", "SCENE:COMMENT", "1", "'Поверка'", "\"Поверка\"", "\"x,y\"", "\"x,y\"", "5", -220},
      {"FORM", "FORMAT:DATA", "1", "ASC", "ASC", "REAL,32", "REAL,32", "REAL,64", -224},
      {"*ESE", "*ESE", "1", "255", "255", "0", "0", "256", -222},
      {"*SRE", "*SRE", "1", "255", "191", "16", "16", "-1", -222},
      {"STAT:OPER:ENAB", "STATUS:OPERATION:ENABLE", "1", "2", "2", "0", "0", "65536", -222},
      {"STAT:QUES:ENAB", "STATUS:QUESTIONABLE:ENABLE", "1", "512", "512", "32767", "32767", "1 DB", -131},
      // No link here: the device's report is not known, the settings wait for a transfer, and
      // nothing has been drawn.
      {"STAT:DEV", "STATUS:DEVICE", "1", nullptr,
       "NONE,9.91E37,9.91E37,NONE,9.91E37,9.91E37,NONE,NONE,NONE,9.91E37,9.91E37,9.91E37,9.91E37"},
      {"STAT:OPER:COND", "STATUS:OPERATION:CONDITION", "1", nullptr, "2"},
      {"STAT:QUES:COND", "STATUS:QUESTIONABLE:CONDITION", "1", nullptr, "512"},
      {"MEAS:PULS", "MEASURE:PULSE", "1", nullptr, "9.91E37,9.91E37"},
      {"SYST:VERS", "SYSTEM:VERSION", "1", nullptr, "1999.0"},
      {"SYST:ERR:COUN", "SYSTEM:ERROR:COUNT", "1", nullptr, "0"},
  };
  for (const Row& r : rows) {
    for (const char* c = r.channels; *c; ++c) {
      auto header = [c](const char* form) { return QString(form).replace('#', QChar(*c)).toStdString(); };
      const std::string shortForm = header(r.shortForm), longForm = header(r.longForm);
      if (r.a) {
        send(shortForm + " " + r.a);
        EXPECT_EQ(send(longForm + "?"), r.replyA) << shortForm << " " << r.a;
        send(longForm + " " + r.b);
        EXPECT_EQ(send(shortForm + "?"), r.replyB) << longForm << " " << r.b;
      } else {
        EXPECT_EQ(send(shortForm + "?"), r.replyA) << shortForm;
        EXPECT_EQ(send(longForm + "?"), r.replyA) << longForm;
      }
      EXPECT_EQ(send("SYST:ERR:ALL?"), "0,\"No error\"") << shortForm;
      if (r.bad) {
        send(shortForm + " " + r.bad);
        EXPECT_EQ(error(), r.error) << shortForm << " " << r.bad;
        EXPECT_EQ(send(shortForm + "?"), r.replyB) << shortForm << " " << r.bad;
      }
    }
  }
}

}  // namespace
