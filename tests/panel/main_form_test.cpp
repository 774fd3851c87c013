// The control panel through its real controls: defaults, the packet from what the operator
// sets, the reactions to clicks, and the status display.
#include "panel/main_form.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTest>
#include <memory>

#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "support/recording_dialogs.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "widgets/status_bar.h"

namespace {

using Bytes = std::vector<int>;

class Panel : public ::testing::Test {
 protected:
  void SetUp() override {
    setAppFormatSettings(FormatSettings::russian());
    // The scenario window first: created after the panel it would apply scene 1 to it.
    schema = std::make_unique<TSchemaForm>();
    main = std::make_unique<TMainForm>();
    rx = std::make_unique<TRxDrawForm>();
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
  void type(TRealSpinEdit* f, const QString& text) {
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

TEST_F(Panel, EachModePageSendsItsOwnValues) {
  struct Case {
    int channel, page;
    const char* field;
    const char* typed;
    int offset;  // in the channel block
    Bytes expected;
  } cases[] = {
      {0, 1, "Ch1A_AmplPBSuperSpin", "-60", 4, {0x00, 0x41, 0x89}},
      {0, 1, "Ch1A_LossPBSuperSpin", "-9", 7, {0x5A, 0xD4}},  // 10^(-9/20) * 65535 = 23252.0
      {0, 1, "Ch1A_TimePBSuperSpin", "0,05", 12, {0x00, 0x08}},
      {0, 2, "Ch1F_DfreqPBSuperSpin", "2", 20, {0x02, 0x8F, 0x5C}},
      {0, 2, "Ch1F_PausePBSuperSpin", "320", 14, {0xF9, 0xFE}},
      {0, 3, "Ch1S_FreqPBSuperSpin", "16", 17, {0x14, 0x7A, 0xE1}},
      {0, 3, "Ch1S_AMPBSuperSpin", "100", 24, {0x04, 0x18, 0x93}},
      {1, 0, "Ch2I_DelayPBSuperSpin", "80000", 9, {0xF4, 0x24, 0x00}},
      {1, 0, "Ch2I_TimePBSuperSpin", "0,05", 12, {0x00, 0x0A}},
      {1, 1, "Ch2A_FreqPBSuperSpin", "0,1", 17, {0x00, 0x20, 0xC4}},
      {1, 2, "Ch2F_AmplPBSuperSpin", "0", 4, {0xFF, 0xFF, 0xFF}},
      {1, 3, "Ch2S_AmplPBSuperSpin", "-20", 4, {0x19, 0x99, 0x99}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    clickTab(main->ch[c.channel].pages, c.page);
    ASSERT_EQ(main->ch[c.channel].pages->activePageIndex(), c.page);
    type(find<TRealSpinEdit>(c.field), QString::fromUtf8(c.typed));
    const auto p = packet();
    const int block = c.channel == 0 ? 2 : 29;
    EXPECT_EQ(p[block + 1], c.page);
    EXPECT_EQ(slice(p, block + c.offset, int(c.expected.size())), c.expected);
  }
  // Values stay with their page: channel 1's pulse amplitude and channel 2's A series
  // amplitude were never touched.
  EXPECT_EQ(find<TRealSpinEdit>("Ch1I_AmplPBSuperSpin")->text(), "-2,3");
  EXPECT_EQ(find<TRealSpinEdit>("Ch2A_AmplPBSuperSpin")->text(), "-2,3");
}

TEST_F(Panel, OffPageUsesItsOwnDividerBox) {
  clickTab(main->ch[0].pages, ModeOff);
  main->Ch1S_OffCheckBox->setChecked(true);
  find<QCheckBox>("Ch1I_LossCheckBox")->setChecked(false);
  EXPECT_EQ(slice(packet(), 2, 4), (Bytes{0x00, 0x04, 0x00, 0x01}));
  clickTab(main->ch[0].pages, ModePulse);
  EXPECT_EQ(packet()[2], 0xFF) << "the pulse page's own divider box is unchecked";
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

TEST_F(Panel, ActivationCorrectsAStoredCalibrationOffTheSinePage) {
  auto* cal1 = find<QCheckBox>("Ch1S_RF_To_Ch2_CheckBox");
  // As a state file can leave it: the box checked while channel 1 is on the pulse page.
  cal1->blockSignals(true);
  cal1->setChecked(true);
  cal1->blockSignals(false);
  main->ch[1].pages->setVisible(false);
  main->FormActivate();
  EXPECT_FALSE(cal1->isChecked());
  EXPECT_TRUE(main->ch[1].pages->isVisible());
  EXPECT_TRUE(main->ch[0].pages->isTabHighlighted(ModePulse));
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

TEST_F(Panel, UnreadableFieldTextCountsAsTheFieldMinimum) {
  // Only code or a damaged file can put such a text into a field; the exchange goes on.
  find<TRealSpinEdit>("Ch1I_AmplPBSuperSpin")->setText("abc");
  find<TRealSpinEdit>("Ch1I_DelayPBSuperSpin")->setText("1,2,3");
  const auto p = packet();
  EXPECT_EQ(slice(p, 6, 3), (Bytes{0x00, 0x41, 0x89})) << "-60 dB, not full level";
  EXPECT_EQ(slice(p, 11, 3), (Bytes{0x00, 0x00, 0x0A})) << "0.05 us";
}

TEST_F(Panel, StatusReportFillsTheLabelsAndTheOtherWindows) {
  std::array<std::uint8_t, 32> r{0x6C, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x33, 0x33,
                                 0xC4, 0x71, 0xCD, 0x03, 0x33, 0x33, 0x0A, 0x03, 0xE8};
  main->ShowStatusReport(r, 0x3E5);
  EXPECT_EQ(main->FooterStatusBar->panelText(1),
            "Cod=03E5h, Пакет - 6Ch 09h 00h FFFFFFh 033333h C471CDh 033333h 0Ah 03E8h ");
  EXPECT_EQ(main->Ampl1_Label->text(), "0,00 -20дБ");
  EXPECT_EQ(main->Ampl2_Label->text(), "-2,30 дБ");
  EXPECT_EQ(main->F1_Label->text(), "2,500 00 МГц");
  EXPECT_EQ(main->S2Label->text(), "Авто");
  EXPECT_EQ(main->DAC2_ModeLabel->text(), "Импульс");
  EXPECT_EQ(rx->FZILabel->text(), "1 000 Гц");
  EXPECT_EQ(schema->statusText(), " Запрос 0Ah");

  main->ClearStatusDisplay();
  for (QLabel* l :
       {main->DAC1_ModeLabel, main->Ampl1_Label, main->F1_Label, main->DAC2_ModeLabel, main->Ampl2_Label,
        main->F2_Label, main->S1Label, main->S2Label, main->S3Label, main->S4Label})
    EXPECT_EQ(l->text(), "???") << l->objectName().toStdString();
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
