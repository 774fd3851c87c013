// The scenario window: scene requests from the status reports, the selection, the name fields,
// the record buttons and the file dialogs.
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "scenes_support.h"
#include "support/recording_dialogs.h"

using namespace scenetest;

namespace {

class SchemaWindow : public ScenesTest {
 protected:
  void SetUp() override {
    ScenesTest::SetUp();
    start();
    for (int n = 1; n <= 9; ++n) schema->Edit[size_t(n - 1)]->setText(QStringLiteral("S%1").arg(n));
  }
  // One status report carrying the request; the scene applied by it (0: none), told by the name
  // it leaves in the panel's comment field.
  int report(std::uint8_t request) {
    main->CommentEdit->setText("-");
    std::array<std::uint8_t, kStatusReportSize> r{};
    r[15] = request;
    main->ShowStatusReport(r, 0);
    const QString name = main->CommentEdit->text();
    return name == "-" ? 0 : name.mid(1).toInt();
  }
};

}  // namespace

TEST_F(SchemaWindow, SceneRequestsActOnceAfterAZero) {
  struct Case {
    const char* name;
    std::vector<int> requests;
    std::vector<int> applied;
    const char* lastStatus;
  } cases[] = {
      {"held requests act once", {0, 3, 3, 3, 0, 3}, {0, 3, 0, 0, 0, 3}, " Запрос 03h"},
      {"a change without a 0 between", {0, 3, 5}, {0, 3, 0}, " Запрос 05h"},
      {"no 0 before", {12, 4}, {0, 0}, " Запрос 04h"},
      {"10 is scene 9", {10}, {9}, " Запрос 0Ah"},
      {"the first report after start", {7}, {7}, " Запрос 07h"},
      {"11-255 never act", {11, 0, 255}, {0, 0, 0}, " Запрос FFh"},
      {"and block until a 0", {255, 2, 0, 2}, {0, 0, 0, 2}, " Запрос 02h"},
  };
  EXPECT_EQ(schema->statusText(), "1") << "until the first report";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start();  // LastSceneRequest 0 again
    for (int n = 1; n <= 9; ++n) schema->scene(n)->CommentEdit->setText(QStringLiteral("S%1").arg(n));
    std::vector<int> applied;
    for (int request : c.requests) applied.push_back(report(std::uint8_t(request)));
    EXPECT_EQ(applied, c.applied);
    EXPECT_EQ(schema->statusText(), c.lastStatus);
  }
  EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 1);
  EXPECT_EQ(schema->Edit[1]->palette().color(QPalette::Text), QColor(255, 0, 0));
  main->ClearStatusDisplay();
  EXPECT_EQ(schema->statusText(), " Запрос синтезатора ???");
}

TEST_F(SchemaWindow, ARequestedSceneIsInTheSameCyclesPacket) {
  qobject_cast<TPageControl*>(schema->scene(3)->field("Ch1_PageControl"))->setActivePageIndex(ModeFSeries);
  qobject_cast<TSpinEdit*>(schema->scene(3)->field("Ch1F_CountPBSpinEdit"))->setValue(42);
  report(0);
  report(3);
  const PanelSettings s = main->readPanelSettings();
  EXPECT_EQ(s.channel[0].mode, ModeFSeries);
  EXPECT_EQ(s.channel[0].pulseCount, 42);
}

TEST_F(SchemaWindow, SelectionAppliesOnlyOnAChange) {
  QRadioButton* f5 = schema->ScenaRadioGroup->button(4);
  schema->show();
  QTest::mouseClick(f5, Qt::LeftButton);
  EXPECT_EQ(main->windowTitle().right(7), "Сцена 5");
  EXPECT_EQ(schema->Edit[4]->palette().color(QPalette::Text), QColor(255, 0, 0));
  EXPECT_EQ(schema->Edit[0]->palette().color(QPalette::Text), QColor(0, 0, 0));
  main->setWindowTitle("-");
  QTest::mouseClick(f5, Qt::LeftButton);
  EXPECT_EQ(main->windowTitle(), "-") << "the operator's choice of the selected item does nothing";
  report(0);
  report(5);
  EXPECT_EQ(main->windowTitle().right(7), "Сцена 5") << "a request for it applies it again";
}

TEST_F(SchemaWindow, NameFieldsNameTheirScenesAndThePanelComment) {
  schema->ScenaRadioGroup->setItemIndex(4);
  main->setWindowTitle("-");
  schema->Edit[2]->setFocus();
  schema->Edit[2]->selectAll();
  QTest::keyClicks(schema->Edit[2], "Ab");
  EXPECT_EQ(schema->scene(3)->CommentEdit->text(), "Ab");
  EXPECT_EQ(main->CommentEdit->text(), "Ab");
  QTest::keyClick(schema->Edit[2], Qt::Key_Backspace);
  EXPECT_EQ(schema->scene(3)->CommentEdit->text(), "A") << "at every keystroke";
  EXPECT_EQ(main->CommentEdit->text(), "A");
  EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 4);
  EXPECT_EQ(main->windowTitle(), "-") << "nothing applied";
}

TEST_F(SchemaWindow, RecordButtonsAskFirst) {
  setLiveVariant(4);
  const QString before = valueOf(schema->scene(2)->field("TactPBSuperSpin"));
  for (bool yes : {false, true}) {
    ScopedRecordingDialogs d;
    d->answers.push_back(yes);
    schema->SpeedButton[1]->click();
    ASSERT_EQ(d->calls.size(), 1u);
    EXPECT_EQ(d->calls[0].kind, "informationYesNo");
    EXPECT_EQ(d->calls[0].text, "Записать действующие настройки \rсинтезатора в сцену № 2 ?");
    EXPECT_EQ(valueOf(schema->scene(2)->field("TactPBSuperSpin")),
              yes ? valueOf(live("TactPBSuperSpin")) : before);
  }
  EXPECT_EQ(differences(2), QStringList());
  EXPECT_EQ(schema->scene(2)->CommentEdit->text(), "S2");
  EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 0);
}

TEST_F(SchemaWindow, DialogsTitleAndHelp) {
  ScopedRecordingDialogs d;
  const QString missing = dir.filePath("none.qzc");
  const QString saved = dir.filePath("saved.qzc");
  d->fileNames = {"", missing, saved};
  schema->OpenFileSpeedButtonClick();  // cancelled
  EXPECT_EQ(schema->windowTitle(), "Управление сценариями");
  schema->OpenFileSpeedButtonClick();
  EXPECT_EQ(schema->windowTitle(), missing) << "even when nothing was loaded";
  EXPECT_EQ(schema->Edit[3]->text(), "S4");
  schema->SaveFileSpeedButtonClick();
  EXPECT_EQ(schema->windowTitle(), saved);
  EXPECT_TRUE(QFileInfo::exists(saved));
  schema->HelpBitBtn->click();

  ASSERT_EQ(d->fileRequests.size(), 3u);
  const FileDialogRequest& open = d->fileRequests[0];
  EXPECT_EQ(open.title, "Загрузить сценарий из файла ...");
  EXPECT_EQ(d->fileRequests[2].title, "Сохранить сценарий в файл ...");
  EXPECT_EQ(open.initialFolder, fileDialogFolder());
  EXPECT_EQ(d->calls.back().text,
            "Извините, справочная система еще не разработана.\rЧитайте руководство по эксплуатации QZ418.\r"
            "В принципе должно быть и так все понятно.");
}

TEST_F(SchemaWindow, ALevelBeyondTheSliderSurvivesOneApplyAndALoad) {
  // The level field reaches +-120, its slider only +-95; the slider following the field must
  // not write its end back into the field.
  struct Case {
    const char* name;
    int level;
    bool fromFile;
    int slider, byte0;
  } cases[] = {
      {"scene, +120", 120, false, 95, 0xF8},
      {"scene, -120", -120, false, -95, 0x08},
      {"scene, +96", 96, false, 95, 0xE0},
      {"state file, +110", 110, true, 95, 0xEE},
      {"state file, -101", -101, true, -95, 0x1B},
  };
  schema->show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    main->SyncLevelPBSpinEdit->setValue(-20);
    ASSERT_EQ(main->SyncLevelTrackBar->value(), -20);
    if (c.fromFile) {
      const QString file = dir.filePath("panel.ini");
      writeFile(file, withValue({}, "MainForm", "SyncLevelPBSpinEdit", QString::number(c.level)));
      ASSERT_TRUE(LoadFormState(file, main.get()));
    } else {
      // One apply only: the operator's click on another scene.
      const int n = schema->ScenaRadioGroup->itemIndex() == 3 ? 5 : 4;
      qobject_cast<TSpinEdit*>(schema->scene(n)->field("SyncLevelPBSpinEdit"))->setValue(c.level);
      QTest::mouseClick(schema->ScenaRadioGroup->button(n - 1), Qt::LeftButton);
      ASSERT_EQ(main->windowTitle().right(7), QStringLiteral("Сцена %1").arg(n));
    }
    EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), c.level);
    EXPECT_EQ(main->SyncLevelTrackBar->value(), c.slider);
    std::array<std::uint8_t, 64> p{};
    main->BuildCommandPacket(p);
    EXPECT_EQ(p[0], c.byte0);
  }
  // The operator's own slider move still sets the field.
  main->SyncLevelTrackBar->setValue(94);
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), 94);
  main->SyncLevelTrackBar->setValue(95);
  EXPECT_EQ(main->SyncLevelPBSpinEdit->value(), 95);
}
