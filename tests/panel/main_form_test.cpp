// The control panel through its real controls: defaults, the packet from what the operator
// sets, the reactions to clicks, and the status display.
#include "panel/main_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <memory>

#include "remote/panel_instrument.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "support/recording_dialogs.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "widgets/status_bar.h"
#include "shell/program_windows.h"

namespace {

using Bytes = std::vector<int>;

class Panel : public ::testing::Test {
 protected:
  void SetUp() override {
    setAppFormatSettings(FormatSettings::russian());
    // The scenario window first: created after the panel it would apply scene 1 to it.
    schema = std::make_unique<TSchemaForm>();
    main = std::make_unique<TMainForm>();
    rx = std::make_unique<TRxDrawForm>(main.get());
    schema->setWindows(main.get(), rx.get());
    wireWindows({main.get(), rx.get(), schema.get(), nullptr});
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  }
  void TearDown() override {
    schema.reset();
    rx.reset();
    main.reset();
    setAppFormatSettings(FormatSettings::point());
  }

  std::array<std::uint8_t, 64> packet() const {
    std::array<std::uint8_t, 64> p{};
    main->BuildCommandPacket(p);
    return p;
  }
  static Bytes slice(const std::array<std::uint8_t, 64>& a, int from, int n) {
    return Bytes(a.begin() + from, a.begin() + from + n);
  }
  // The operator's click on a tab.
  static void clickTab(TPageControl* pages, int index) {
    QTest::mouseClick(pages->tabBar(), Qt::LeftButton, {}, pages->tabBar()->tabRect(index).center());
  }
  static void click(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
  }
  // Types a value into a field as the operator does and leaves it.
  void type(QLineEdit* f, const QString& text) {
    f->setFocus();
    f->selectAll();
    QTest::keyClicks(f, text);
    main->CommentEdit->setFocus();
    QCoreApplication::processEvents();
  }
  template <class T>
  T* find(const char* name) const {
    T* w = main->findChild<T*>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TRxDrawForm> rx;
  std::unique_ptr<TSchemaForm> schema;
};

}  // namespace

TEST_F(Panel, FreshPanelShowsDefaultsAndSendsTheKnownPacket) {
  EXPECT_EQ(main->windowTitle(), "Синтезатор сигналов QZ418 версия C");
  EXPECT_EQ(main->size(), QSize(703, 671));
  EXPECT_EQ(find<TRealSpinEdit>("Ch1I_AmplPBSuperSpin")->text(), "-2,3");
  EXPECT_EQ(find<TRealSpinEdit>("Ch2A_DelayPBSuperSpin")->text(), "100,245");
  EXPECT_EQ(find<TRealSpinEdit>("TactPBSuperSpin")->text(), QString("1") + QChar(0xA0) + "000,0");
  EXPECT_EQ(find<TIntSpinEdit>("SyncLevelPBSpinEdit")->value(), -20);
  EXPECT_EQ(main->FooterStatusBar->panelText(0), "нет связи !!!");
  EXPECT_EQ(main->S3Label->text(), "???");

  const auto p = packet();
  EXPECT_EQ(slice(p, 0, 2), (Bytes{0x6C, 0x00}));
  EXPECT_EQ(slice(p, 2, 27),
            (Bytes{0xFF, 0x00, 0xFF, 0x01, 0xC4, 0x71, 0xCD, 0xFF, 0xFF, 0x00, 0x4E, 0x51, 0x4E, 0x51,
                   0x00, 0x00, 0x01, 0x03, 0x33, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x7C}));
  EXPECT_EQ(slice(p, 29, 2), (Bytes{0x00, 0x00}));
  EXPECT_EQ(slice(p, 56, 8), (Bytes{0x00, 0x03, 0x0D, 0x40, 0x00, 0x00, 0x00, 0x00}));
}

// Every field of every page of both channels gets its own value, set as the operator sets it;
// then every combination of the two channels' pages must give exactly these bytes. A field
// read from the wrong page or channel, or not read at all, changes some byte. The expected
// blocks are worked out by hand from the conversions (count = t * 200; amplitude word
// 10^(dB/20) * (2^32 - 1), upper three bytes; attenuation 10^(dB/20) * 65535; frequency
// f * 83886.08; AM f * 2684.35456015625; each truncated; series times minus 2).
TEST_F(Panel, EveryChannelPageAndFieldReachesItsBytes) {
  struct Field {
    const char* name;
    const char* typed;  // a number typed into the field, "+"/"-" for the sign, "1"/"0" for a box
  };
  struct Page {
    int channel, page;
    std::vector<Field> fields;
    Bytes block;  // the channel's 27 bytes while this page is active
  };
  const Page pages[] = {
      {0, 0,
       {{"Ch1I_RadioGroup", "-"}, {"Ch1I_LossCheckBox", "1"}, {"Ch1I_AmplPBSuperSpin", "-7,5"},
        {"Ch1I_HFModulationCheckBox", "0"}, {"Ch1I_FreqPBSuperSpin", "3,17"},
        {"Ch1I_DelayPBSuperSpin", "12,345"}, {"Ch1I_TimePBSuperSpin", "1,005"}, {"Ch1I_AMCheckBox", "1"},
        {"Ch1I_AMPBSuperSpin", "12,34"}},
       {0x00, 0x00, 0x00, 0x00, 0x6B, 0xF4, 0x4D, 0xFF, 0xFF, 0x00, 0x09, 0xA5, 0x00, 0xC9,
        0x00, 0x00, 0x01, 0x04, 0x0E, 0xBE, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x81, 0x64}},
      {0, 1,
       {{"Ch1A_RadioGroup", "+"}, {"Ch1A_LossCheckBox", "0"}, {"Ch1A_AmplPBSuperSpin", "-11,1"},
        {"Ch1A_LossPBSuperSpin", "-3,3"}, {"Ch1A_FreqPBSuperSpin", "5,55"}, {"Ch1A_DelayPBSuperSpin", "222,22"},
        {"Ch1A_TimePBSuperSpin", "4,015"}, {"Ch1A_PausePBSuperSpin", "7,5"}, {"Ch1A_CountPBSpinEdit", "37"}},
       // 4.015 us is 802 counts in extended precision (803 exactly), sent as 800.
       {0xFF, 0x01, 0xFF, 0x01, 0x47, 0x53, 0x1F, 0xAF, 0x14, 0x00, 0xAD, 0x9C, 0x03, 0x20,
        0x05, 0xDA, 0x25, 0x07, 0x1A, 0x9F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {0, 2,
       {{"Ch1F_RadioGroup", "-"}, {"Ch1F_LossCheckBox", "1"}, {"Ch1F_AmplPBSuperSpin", "-25,6"},
        {"Ch1F_FreqPBSuperSpin", "0,85"}, {"Ch1F_DfreqPBSuperSpin", "1,23"},
        {"Ch1F_DelayPBSuperSpin", "3333,335"}, {"Ch1F_TimePBSuperSpin", "8,03"},
        {"Ch1F_PausePBSuperSpin", "0,06"}, {"Ch1F_CountPBSpinEdit", "2"}},
       {0x00, 0x02, 0xFF, 0x00, 0x0D, 0x6F, 0x60, 0xFF, 0xFF, 0x0A, 0x2C, 0x2B, 0x06, 0x43,
        0x00, 0x0A, 0x02, 0x01, 0x16, 0x87, 0x01, 0x93, 0x0B, 0x00, 0x00, 0x00, 0x00}},
      {0, 3,
       {{"Ch1S_RadioGroup", "+"}, {"Ch1S_LossCheckBox", "0"}, {"Ch1S_AmplPBSuperSpin", "-44,4"},
        {"Ch1S_HFModulationCheckBox", "1"}, {"Ch1S_FreqPBSuperSpin", "13,07"}, {"Ch1S_AMCheckBox", "0"},
        {"Ch1S_AMPBSuperSpin", "77,77"}},
       {0xFF, 0x03, 0xFF, 0x01, 0x01, 0x8A, 0xE4, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
        0x00, 0x01, 0x01, 0x10, 0xBA, 0xC7, 0x00, 0x00, 0x00, 0x00, 0x03, 0x2F, 0x7A}},
      // The off page has no fields; its divider box lies on the group box.
      {0, 4, {}, {0x00, 0x04, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
                  0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {1, 0,
       {{"Ch2I_RadioGroup", "+"}, {"Ch2I_AmplPBSuperSpin", "-1,2"}, {"Ch2I_HFModulationCheckBox", "1"},
        {"Ch2I_FreqPBSuperSpin", "9,99"}, {"Ch2I_DelayPBSuperSpin", "45678,9"},
        {"Ch2I_TimePBSuperSpin", "319,995"}, {"Ch2I_AMCheckBox", "0"}, {"Ch2I_AMPBSuperSpin", "0,05"}},
       {0x00, 0x00, 0xFF, 0x01, 0xDE, 0xF7, 0x78, 0xFF, 0xFF, 0x8B, 0x66, 0xA4, 0xF9, 0xFF,
        0x00, 0x00, 0x01, 0x0C, 0xC9, 0x85, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x86}},
      {1, 1,
       {{"Ch2A_RadioGroup", "-"}, {"Ch2A_AmplPBSuperSpin", "-33,3"}, {"Ch2A_LossPBSuperSpin", "-9,9"},
        {"Ch2A_FreqPBSuperSpin", "1,11"}, {"Ch2A_DelayPBSuperSpin", "0,055"}, {"Ch2A_TimePBSuperSpin", "250,5"},
        {"Ch2A_PausePBSuperSpin", "99,995"}, {"Ch2A_CountPBSpinEdit", "50"}},
       {0x00, 0x01, 0xFF, 0x00, 0x05, 0x89, 0x5B, 0x51, 0xE3, 0x00, 0x00, 0x0B, 0xC3, 0xB2,
        0x4E, 0x1D, 0x32, 0x01, 0x6B, 0xB9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
      {1, 2,
       {{"Ch2F_RadioGroup", "+"}, {"Ch2F_AmplPBSuperSpin", "-0,7"}, {"Ch2F_FreqPBSuperSpin", "15,5"},
        {"Ch2F_DfreqPBSuperSpin", "0,07"}, {"Ch2F_DelayPBSuperSpin", "79999,995"},
        {"Ch2F_TimePBSuperSpin", "0,125"}, {"Ch2F_PausePBSuperSpin", "160,02"}, {"Ch2F_CountPBSpinEdit", "13"}},
       {0x00, 0x02, 0xFF, 0x01, 0xEC, 0x2D, 0xA4, 0xFF, 0xFF, 0xF4, 0x23, 0xFF, 0x00, 0x17,
        0x7D, 0x02, 0x0D, 0x13, 0xD7, 0x0A, 0x00, 0x16, 0xF0, 0x00, 0x00, 0x00, 0x00}},
      {1, 3,
       {{"Ch2S_RadioGroup", "-"}, {"Ch2S_AmplPBSuperSpin", "-58,8"}, {"Ch2S_HFModulationCheckBox", "0"},
        {"Ch2S_FreqPBSuperSpin", "0,1"}, {"Ch2S_AMCheckBox", "1"}, {"Ch2S_AMPBSuperSpin", "99,99"}},
       {0x00, 0x03, 0x00, 0x00, 0x00, 0x4B, 0x3E, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
        0x00, 0x01, 0x01, 0x00, 0x20, 0xC4, 0x00, 0x00, 0x00, 0xFF, 0x04, 0x18, 0x78}},
      {1, 4, {}, {0x00, 0x04, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00, 0x01,
                  0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
  };

  for (const Page& pg : pages) {
    clickTab(main->ch[pg.channel].pages, pg.page);
    for (const Field& f : pg.fields) {
      SCOPED_TRACE(f.name);
      QWidget* w = find<QWidget>(f.name);
      if (auto* sign = qobject_cast<TRadioGroup*>(w)) {
        QTest::mouseClick(sign->button(QString(f.typed) == "+" ? 0 : 1), Qt::LeftButton);
      } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        if (box->isChecked() != (QString(f.typed) == "1")) click(box);
      } else {
        type(qobject_cast<QLineEdit*>(w), QString::fromUtf8(f.typed));
      }
    }
  }
  main->Ch1S_OffCheckBox->setChecked(true);  // under the pages: only a file or a scene sets it here
  main->SyncLevelPBSpinEdit->setValue(73);
  clickTab(main->SyncPageControl, 1);
  QTest::mouseClick(main->SyncPolarRadioGroup->button(1), Qt::LeftButton);
  clickTab(main->SyncPageControl, 2);
  type(main->TactPBSuperSpin, "2345,6");
  rx->RangeRadioGroup->setItemIndex(1);
  rx->R50CheckBox->setChecked(true);

  for (int p1 = 0; p1 < 5; ++p1) {
    for (int p2 = 0; p2 < 5; ++p2) {
      SCOPED_TRACE(testing::Message() << "channel 1 page " << p1 << ", channel 2 page " << p2);
      clickTab(main->ch[0].pages, p1);
      clickTab(main->ch[1].pages, p2);
      const int sync = (p1 + p2) % 3;
      clickTab(main->SyncPageControl, sync);
      // Level 73 + 128; positive edge, range "150В" (code 1 in bits 3-4), 50-ohm load.
      Bytes expected{0xC9, 0x29};
      const Bytes& b1 = pages[p1].block;
      const Bytes& b2 = pages[5 + p2].block;
      expected.insert(expected.end(), b1.begin(), b1.end());
      expected.insert(expected.end(), b2.begin(), b2.end());
      // 2345.6 us is 469 120 counts.
      expected.insert(expected.end(), {sync, 0x07, 0x28, 0x80, 0x00, 0x00, 0x00, 0x00});
      EXPECT_EQ(slice(packet(), 0, 64), expected);
    }
  }
}

TEST_F(Panel, ModulationWarningAndGreying) {
  auto* hf = find<QCheckBox>("Ch1I_HFModulationCheckBox");
  auto* am = find<QCheckBox>("Ch1I_AMCheckBox");
  auto* freq = find<TRealSpinEdit>("Ch1I_FreqPBSuperSpin");
  auto* message = find<QLabel>("CH1_Pulse_MessageLabel");
  EXPECT_FALSE(message->isVisible());
  click(hf);
  ASSERT_FALSE(hf->isChecked());
  EXPECT_TRUE(message->isVisible());
  EXPECT_EQ(message->text(), "Не указан вид модуляции. Канал выдает видеоимпульсы!!!");
  EXPECT_EQ(freq->palette().color(QPalette::Text), QColor(128, 128, 128));
  EXPECT_FALSE(freq->font().bold());
  click(am);
  EXPECT_FALSE(message->isVisible());
  EXPECT_TRUE(find<TRealSpinEdit>("Ch1I_AMPBSuperSpin")->font().bold());
  EXPECT_EQ(slice(packet(), 4, 1), Bytes{0x00});
  EXPECT_EQ(packet()[2 + 23], 0xFF);
}

TEST_F(Panel, CalibrationInterlock) {
  auto& ch1 = main->ch[0];
  auto& ch2 = main->ch[1];
  auto* cal1 = find<QCheckBox>("Ch1S_RF_To_Ch2_CheckBox");
  auto* cal2 = find<QCheckBox>("Ch2S_RF_To_Ch1_CheckBox");

  clickTab(ch2.pages, ModeASeries);
  clickTab(ch1.pages, ModeSine);
  click(cal1);
  ASSERT_TRUE(cal1->isChecked());
  EXPECT_EQ(ch2.pages->activePageIndex(), ModeOff);
  EXPECT_FALSE(ch2.pages->isVisible());
  EXPECT_TRUE(ch2.warningLabels.first()->isVisible());
  EXPECT_EQ(packet()[29], 1);
  EXPECT_EQ(packet()[30], ModeOff);

  clickTab(ch1.pages, ModePulse);
  EXPECT_FALSE(cal1->isChecked());
  EXPECT_TRUE(ch2.pages->isVisible());
  EXPECT_EQ(ch2.pages->activePageIndex(), ModeOff) << "leaving calibration leaves the other channel off";
  EXPECT_EQ(packet()[29], 0);

  // The mirror image.
  clickTab(ch2.pages, ModeSine);
  click(cal2);
  EXPECT_FALSE(ch1.pages->isVisible());
  EXPECT_TRUE(main->Ch1S_OffCheckBox->isVisible());
  EXPECT_EQ(packet()[29], 2);
  clickTab(ch2.pages, ModePulse);
  EXPECT_FALSE(cal2->isChecked());
  EXPECT_TRUE(ch1.pages->isVisible());
  EXPECT_EQ(ch1.pages->activePageIndex(), ModeOff);
}

TEST_F(Panel, ActivationAndTabClicksBringTheIndicatorsInLine) {
  // As a state file can leave the panel: boxes set while no reaction ran. The calibration box
  // is checked although channel 1 is not on the sine page.
  const auto quietly = [](QCheckBox* box, bool on) {
    box->blockSignals(true);
    box->setChecked(on);
    box->blockSignals(false);
  };
  auto* cal1 = find<QCheckBox>("Ch1S_RF_To_Ch2_CheckBox");
  auto* pulseMessage = find<QLabel>("CH1_Pulse_MessageLabel");
  auto* sineMessage2 = find<QLabel>("CH2_Sinus_MessageLabel");
  auto* sineFreq2 = find<TRealSpinEdit>("Ch2S_FreqPBSuperSpin");
  quietly(cal1, true);
  main->ch[1].pages->setVisible(false);
  quietly(find<QCheckBox>("Ch1I_HFModulationCheckBox"), false);
  quietly(find<QCheckBox>("Ch2S_HFModulationCheckBox"), false);
  main->ch[0].pages->clearHighlights();
  ASSERT_TRUE(pulseMessage->isHidden());

  // The operator turns to another window and back.
  rx->show();
  rx->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(rx.get()));
  main->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
  EXPECT_FALSE(cal1->isChecked());
  EXPECT_TRUE(main->ch[1].pages->isVisible());
  EXPECT_TRUE(main->ch[0].pages->isTabHighlighted(ModePulse));
  EXPECT_FALSE(pulseMessage->isHidden());
  EXPECT_FALSE(sineMessage2->isHidden());
  EXPECT_EQ(sineFreq2->palette().color(QPalette::Text), QColor(128, 128, 128));

  // A tab click runs the page's indicators too, for every page of the channel.
  quietly(find<QCheckBox>("Ch2S_HFModulationCheckBox"), true);
  quietly(find<QCheckBox>("Ch2I_AMCheckBox"), true);
  clickTab(main->ch[1].pages, ModeASeries);
  EXPECT_TRUE(sineMessage2->isHidden());
  EXPECT_TRUE(sineFreq2->font().bold());
  EXPECT_TRUE(find<TRealSpinEdit>("Ch2I_AMPBSuperSpin")->font().bold());
}

TEST_F(Panel, SyncLevelFieldAndSliderCoupling) {
  main->SyncLevelTrackBar->setValue(-95);
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), -95);
  main->SyncLevelPBSpinEdit->setFocus();
  QTest::keyClick(main->SyncLevelPBSpinEdit, Qt::Key_Down);
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), -96);
  EXPECT_EQ(main->SyncLevelTrackBar->value(), -95);
  for (int i = 0; i < 40; ++i) QTest::keyClick(main->SyncLevelPBSpinEdit, Qt::Key_Down);
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), -120);
  EXPECT_EQ(packet()[0], 0x08);
  QTest::keyClicks(main->SyncLevelPBSpinEdit, "5");
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), -120) << "typing is disabled in the level field";
}

TEST_F(Panel, SyncPageAndInputSettingsReachBytes1And56) {
  clickTab(main->SyncPageControl, 1);
  EXPECT_TRUE(main->SyncPageControl->isTabHighlighted(1));
  main->SyncPolarRadioGroup->setItemIndex(1);
  rx->RangeRadioGroup->setItemIndex(2);
  rx->R50CheckBox->setChecked(true);
  const auto p = packet();
  EXPECT_EQ(p[1], 0x39);
  EXPECT_EQ(p[56], 1);
}

// A field's text beyond its limits while the operator is still typing, or a text no number
// (only code or a damaged file puts one there): the packet and a remote query read the same
// value within the limits, and the text stays until the field is left.
TEST_F(Panel, TextBeyondTheLimitsIsSentAndQueriedWithinThem) {
  PanelInstrument instrument({main.get(), rx.get(), schema.get(), nullptr});
  scpi::Session session(instrument);
  const struct Case {
    int page;
    const char *field, *typed, *text;  // typed: keys into the focused field; null: set as text
    int offset;
    Bytes bytes;
    const char *query, *answer;
  } cases[] = {
      {ModePulse, "Ch1I_AmplPBSuperSpin", "5", "5,0", 6, {0xFF, 0xFF, 0xFF}, "PULS:AMPL", "0.0"},
      {ModeASeries, "Ch1A_CountPBSpinEdit", "77", "77", 18, {0x32}, "ASER:COUN", "50"},
      {ModePulse, "Ch1I_AmplPBSuperSpin", nullptr, "abc", 6, {0x00, 0x41, 0x89}, "PULS:AMPL", "-60.0"},
      {ModePulse, "Ch1I_DelayPBSuperSpin", nullptr, "1,2,3", 11, {0x00, 0x00, 0x0A}, "PULS:DEL", "0.050"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.field + std::string(" ") + c.text);
    clickTab(main->ch[0].pages, c.page);
    auto* f = find<QLineEdit>(c.field);
    if (c.typed) {
      f->setFocus();
      f->selectAll();
      QTest::keyClicks(f, c.typed);
    } else {
      f->setText(c.text);
    }
    EXPECT_EQ(slice(packet(), c.offset, int(c.bytes.size())), c.bytes);
    std::string answer;
    session.receive(std::string("SOUR1:") + c.query + "?\n");
    while (session.run(answer) == scpi::Session::State::Busy) {
    }
    EXPECT_EQ(answer, c.answer + std::string("\n"));
    EXPECT_EQ(f->text(), c.text);
    main->CommentEdit->setFocus();
  }
}

TEST_F(Panel, StatusReportFillsEveryLabelAndTheOtherWindows) {
  // Every field differs from its neighbour: level -20 %, flags 0x2D (edge +, no divider,
  // "300В", clock generator), modes A series / sine, two amplitudes, two frequencies,
  // scene request 5, probe pulse 12 345 Hz.
  const std::array<std::uint8_t, 32> r{0x94, 0x2D, 0x31, 0x80, 0x00, 0x00, 0x14, 0x7A, 0xE1, 0x19,
                                       0x99, 0x99, 0x00, 0x20, 0xC4, 0x05, 0x30, 0x39, 0x77};
  main->ShowStatusReport(r, 0x1A2B);
  EXPECT_EQ(main->FooterStatusBar->panelText(1),
            "Cod=1A2Bh, Пакет - 94h 2Dh 31h 800000h 147AE1h 199999h 0020C4h 05h 3039h ");
  const std::pair<QLabel*, const char*> labels[] = {
      {main->S4Label, "-20%"},
      {main->S1Label, "300В"},
      {main->S3Label, "+"},
      {main->S2Label, "Тактовый генератор"},
      {main->DAC1_ModeLabel, "А серия"},
      {main->DAC2_ModeLabel, "Синус"},
      {main->Ampl1_Label, "-6,02 дБ"},  // 20 log10(8193 / 16384)
      {main->F1_Label, "16,000 00 МГц"},
      {main->Ampl2_Label, "-20,00 дБ"},  // 20 log10(1639 / 16384)
      {main->F2_Label, "0,099 99 МГц"},
  };
  for (const auto& [label, text] : labels) EXPECT_EQ(label->text(), text) << label->objectName().toStdString();
  EXPECT_EQ(rx->FZILabel->text(), "12 345 Гц");
  EXPECT_EQ(schema->statusText(), " Запрос 05h");

  // The divider suffix of output 1 only; sync and input in their other states.
  std::array<std::uint8_t, 32> r2 = r;
  r2[1] = 0x10;
  main->ShowStatusReport(r2, 0x12345);
  EXPECT_EQ(main->Ampl1_Label->text(), "-6,02 -20дБ");
  EXPECT_EQ(main->Ampl2_Label->text(), "-20,00 дБ");
  EXPECT_EQ(main->S1Label->text(), "150В");
  EXPECT_EQ(main->S3Label->text(), "-");
  EXPECT_EQ(main->S2Label->text(), "Внешняя (от ЗИ)");
  EXPECT_TRUE(main->FooterStatusBar->panelText(1).startsWith("Cod=12345h, "));

  main->ClearStatusDisplay();
  for (const auto& [label, text] : labels) EXPECT_EQ(label->text(), "???") << label->objectName().toStdString();
  EXPECT_EQ(schema->statusText(), " Запрос синтезатора ???");
}

TEST_F(Panel, HelpAndAboutBoxes) {
  ScopedRecordingDialogs d;
  QTest::mouseClick(main->HelpBitBtn, Qt::LeftButton);
  QTest::mouseClick(main->InfoBitBtn, Qt::LeftButton);
  ASSERT_EQ(d->calls.size(), 2u);
  EXPECT_EQ(d->calls[0].text,
            "Извините, справочная система еще не разработана.\rЧитайте руководство по эксплуатации QZ418.\r"
            "В принципе должно быть и так все понятно.");
  EXPECT_TRUE(
      d->calls[1].text.startsWith("Программа управления синтезатором сигналов QZ418\rработает в операционных "
                                  "системах WinXP, WinVista.\r\r"));
}

TEST_F(Panel, ButtonsShowTheOtherWindows) {
  QTest::mouseClick(main->VewZIBitBtn, Qt::LeftButton);
  EXPECT_TRUE(rx->isVisible());
  QTest::mouseClick(main->ChemaBitBtn, Qt::LeftButton);
  EXPECT_TRUE(schema->isVisible());
}

TEST_F(Panel, FrequencyCaptionsAndTheCalibrationNoticeFitTheirPlaces) {
  // The frequency rows are indented under their check boxes by position, not by blanks.
  for (const char* page : {"TabSheet1", "TabSheet4", "TabSheet6", "TabSheet9"}) {
    SCOPED_TRACE(page);
    auto* w = find<QWidget>(page);
    QLabel* freq = nullptr;
    QLabel* am = nullptr;
    for (QLabel* l : w->findChildren<QLabel*>()) {
      if (l->text() == "Частота (МГц)") freq = l;
      if (l->text() == "Частота АМ (КГц)") am = l;
    }
    ASSERT_TRUE(freq && am);
    const QCheckBox* hf = w->findChildren<QCheckBox*>(QRegularExpression("HFModulationCheckBox$")).value(0);
    const QCheckBox* amBox = w->findChildren<QCheckBox*>(QRegularExpression("AMCheckBox$")).value(0);
    EXPECT_GT(freq->x(), hf->x());
    EXPECT_GT(am->x(), amBox->x());
    EXPECT_GE(freq->width(), freq->sizeHint().width());
    EXPECT_GE(am->width(), am->sizeHint().width());
  }
  // Every line of both notices keeps clear of its group's frame.
  for (const ChannelControls& c : main->ch) {
    for (const QLabel* l : c.warningLabels) {
      SCOPED_TRACE(l->text().toStdString());
      const int text = QFontMetrics(l->font()).horizontalAdvance(l->text());
      const int left = l->x() + (l->width() - text) / 2;
      EXPECT_GE(left, 8);
      EXPECT_LE(left + text, c.group->width() - 8);
    }
  }
}
