// The scene store: the start of the scenes, the scenario file's layout, what a load keeps and
// what it overwrites, damaged files, and which file the exit writes.
#include <QFileInfo>

#include "scenes_support.h"
#include "support/recording_dialogs.h"

using namespace scenetest;

namespace {

const QString kScenarioComment = "Комментарии к сценарию. Например: ПОВЕРКА ЭГ4721";

class SceneStore : public ScenesTest {};

}  // namespace

TEST_F(SceneStore, StartAppliesSceneOneWhateverThePanelHeld) {
  // As a state file can leave the panel: every scene field changed, and the off-page divider on.
  struct Case {
    const char* name;
    bool scenesIni;
  } cases[] = {{"first start, defaults", false}, {"Scenes.ini beside the program", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(scenesPath());
    if (c.scenesIni) {
      start();
      setSceneVariant(1, 1);
      setSceneVariant(2, 2);
      ASSERT_TRUE(schema->SaveScenario(scenesPath()));
      schema.reset();
    }
    setLiveVariant(5);
    main->Ch1S_OffCheckBox->setChecked(true);
    start();
    EXPECT_EQ(differences(1), QStringList());
    EXPECT_TRUE(main->Ch1S_OffCheckBox->isChecked()) << "a scene has no off-page divider";
    EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 0);
    EXPECT_EQ(schema->Edit[0]->palette().color(QPalette::Text), QColor(255, 0, 0));
    EXPECT_EQ(schema->Edit[1]->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(main->windowTitle(), kScenarioComment + " Сцена 1");
    EXPECT_EQ(main->CommentEdit->text(), schema->scene(1)->CommentEdit->text());
    for (int n = 1; n <= 9; ++n)
      EXPECT_EQ(schema->Edit[size_t(n - 1)]->text(), schema->scene(n)->CommentEdit->text());
  }
}

TEST_F(SceneStore, FreshScenesHoldTheirOwnDefaults) {
  start();
  // Where a scene differs from the panel: its pages, its 0.005 minimum, its slider's range.
  const struct {
    const char* field;
    const char* value;
  } expected[] = {
      {"CommentEdit", "Наименование сцены"},
      {"Ch1_PageControl", "3"},
      {"Ch2_PageControl", "1"},
      {"SyncPageControl", "1"},
      {"Ch1I_HFModulationCheckBox", "1"},
      {"Ch2S_AMCheckBox", "0"},
      {"Ch1A_LossPBSuperSpin", "-6"},
      {"Ch2F_DfreqPBSuperSpin", "0.5"},
      {"Ch1A_CountPBSpinEdit", "10"},
      {"TactPBSuperSpin", "1000"},
      {"SyncLevelPBSpinEdit", "-20"},
      {"SyncLevelTrackBar", "-20"},
      {"RangeRadioGroup", "0"},
      {"R50CheckBox", "0"},
      {"Ch2I_DelayPBSuperSpin", "100.245"},
  };
  for (int n = 1; n <= 9; ++n)
    for (const auto& e : expected)
      EXPECT_EQ(valueOf(schema->scene(n)->field(e.field)), e.value) << n << e.field;
  for (const char* name : {"Ch1I_DelayPBSuperSpin", "Ch2A_TimePBSuperSpin", "Ch1F_PausePBSuperSpin"})
    EXPECT_EQ(qobject_cast<TRealSpinEdit*>(schema->scene(5)->field(name))->minValue(), 0.005L) << name;
  auto* slider = qobject_cast<QSlider*>(schema->scene(1)->field("SyncLevelTrackBar"));
  EXPECT_EQ(slider->minimum(), -120);
  EXPECT_EQ(schema->scene(3)->windowTitle(), "Сцена 3");
  EXPECT_FALSE(schema->scene(1)->isVisible());
}

TEST_F(SceneStore, FileHasTenSectionsInOrderAndReloadsToTheSameScenes) {
  start();
  for (int n = 1; n <= 9; ++n) {
    setSceneVariant(n, n);
    schema->Edit[size_t(n - 1)]->setText(schema->scene(n)->CommentEdit->text());  // named in the window
  }
  schema->CommentEdit->setText("Поверка");
  const QString file = dir.filePath("a.qzc");
  writeFile(file, "[Other]\r\nKey=1\r\n[ScenaForm_3]\r\nStale=1\r\n");
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray first = readFile(file);

  EXPECT_EQ(sectionsOf(first),
            (QStringList{"Other", "SchemaForm", "ScenaForm", "ScenaForm_1", "ScenaForm_2", "ScenaForm_3",
                         "ScenaForm_4", "ScenaForm_5", "ScenaForm_6", "ScenaForm_7", "ScenaForm_8"}));
  EXPECT_TRUE(first.startsWith("[Other]\r\nKey=1\r\n")) << "other sections stay as they were";
  EXPECT_EQ(
      keysOf(first, "SchemaForm"),
      (QStringList{"Top", "Left", "Width", "Height", "CommentEdit", "ScenaRadioGroup", "Edit1", "Edit2",
                   "Edit3", "Edit4", "Edit5", "Edit6", "Edit7", "Edit8", "Edit9", "Wisible", "Enabled"}));
  QStringList sceneKeys{"Top", "Left", "Width", "Height"};
  for (const SceneField& f : sceneFields()) sceneKeys << f.name;
  sceneKeys << "Wisible"
            << "Enabled";
  EXPECT_EQ(keysOf(first, "ScenaForm_3"), sceneKeys) << "a scene's section is rewritten whole";
  EXPECT_EQ(sceneKeys.size(), 82);

  // Everything overwritten by the load: the reloaded scenes write the same bytes.
  for (int n = 1; n <= 9; ++n) setSceneVariant(n, 9 - n);
  schema->CommentEdit->setText("другой");
  ASSERT_TRUE(schema->LoadScenario(file));
  EXPECT_EQ(schema->CommentEdit->text(), "Поверка");
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray second = readFile(file);
  EXPECT_EQ(QString::fromLatin1(second).split('\n'), QString::fromLatin1(first).split('\n'));
}

TEST_F(SceneStore, MissingOrDamagedPartsOfAFile) {
  start();
  setSceneVariant(5, 3);
  schema->scene(5)->CommentEdit->setText("Пятая");
  const QString file = dir.filePath("b.qzc");
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray good = readFile(file);

  struct Case {
    const char* name;
    QByteArray bytes;
    std::function<void()> expect;
  };
  const auto field = [this](int n, const char* name) { return valueOf(schema->scene(n)->field(name)); };
  const Case cases[] = {
      {"no SchemaForm section: the comment stays, names come from the scenes",
       [&] {
         IniFile ini(good);
         ini.eraseSection(u"SchemaForm");
         return ini.toBytes();
       }(),
       [&] {
         EXPECT_EQ(schema->CommentEdit->text(), "до загрузки");
         EXPECT_EQ(schema->Edit[4]->text(), "Пятая");
         EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 0);
         EXPECT_EQ(main->windowTitle(), "до загрузки Сцена 1");
       }},
      {"scene 5 without one key keeps that value", withoutKey(good, "ScenaForm_4", "Ch2A_PausePBSuperSpin"),
       [&] {
         EXPECT_EQ(field(5, "Ch2A_PausePBSuperSpin"), "12.25");
         EXPECT_NE(field(5, "Ch2A_AmplPBSuperSpin"), "-2.3") << "the other keys are read";
       }},
      {"values enter within the scene page's limits, which the copy to the panel keeps",
       withValue(withValue(withValue(withValue(good, "ScenaForm", "Ch1A_CountPBSpinEdit", "80"), "ScenaForm",
                                     "Ch1I_DelayPBSuperSpin", "0.01"),
                           "ScenaForm", "Ch1I_RadioGroup", "5"),
                 "ScenaForm", "Ch2_PageControl", "9"),
       [&] {
         EXPECT_EQ(valueOf(live("Ch1A_CountPBSpinEdit")), "50");
         EXPECT_EQ(valueOf(live("Ch1I_DelayPBSuperSpin")), "0.01") << "below the panel's own minimum of 0.05";
         EXPECT_EQ(valueOf(live("Ch1I_RadioGroup")), "1");
         EXPECT_EQ(valueOf(live("Ch2_PageControl")), "4") << "the last page, never none";
       }},
      {"written while the window was hidden", withValue(good, "SchemaForm", "Wisible", "0"),
       [&] { EXPECT_FALSE(schema->isVisible()); }},
      {"a scene marked visible stays hidden", withValue(good, "ScenaForm_2", "Wisible", "1"),
       [&] { EXPECT_FALSE(schema->scene(3)->isVisible()); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    schema->show();
    schema->CommentEdit->setText("до загрузки");
    qobject_cast<TRealSpinEdit*>(schema->scene(5)->field("Ch2A_PausePBSuperSpin"))->setValue(12.25L);
    writeFile(file, c.bytes);
    ScopedRecordingDialogs d;
    EXPECT_TRUE(schema->LoadScenario(file));
    EXPECT_TRUE(d->calls.empty());
    c.expect();
  }
}

TEST_F(SceneStore, AMalformedFloatStopsTheLoadAndLeavesTheProgramUsable) {
  start();
  const QString file = dir.filePath("c.qzc");
  setSceneVariant(2, 4);
  setSceneVariant(4, 4);
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray good = readFile(file);
  writeFile(file, withValue(withValue(good, "ScenaForm_1", "Ch1A_AmplPBSuperSpin", "abc"), "SchemaForm",
                            "ScenaRadioGroup", "5"));
  start();
  schema->ScenaRadioGroup->setItemIndex(6);
  const QString title = schema->windowTitle();
  ScopedRecordingDialogs d;
  d->fileNames.push_back(file);
  schema->OpenFileSpeedButtonClick();

  ASSERT_EQ(d->calls.size(), 2u);
  EXPECT_EQ(d->calls[1].text, "'abc' is not a valid floating point value");
  // Scene 2 is read up to the damaged key: its pulse page from the file, its F series page not.
  EXPECT_EQ(valueOf(schema->scene(2)->field("Ch1I_FreqPBSuperSpin")),
            IniFile(good).value(u"ScenaForm_1", u"Ch1I_FreqPBSuperSpin"));
  EXPECT_EQ(valueOf(schema->scene(2)->field("Ch1F_FreqPBSuperSpin")), "2.5");
  EXPECT_EQ(valueOf(schema->scene(4)->field("TactPBSuperSpin")), "1000") << "scenes after the error are not";
  EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 5) << "the file's selection, no reset to scene 1";
  EXPECT_EQ(schema->windowTitle(), title);

  writeFile(file, good);
  d->fileNames.push_back(file);
  schema->OpenFileSpeedButtonClick();
  EXPECT_EQ(schema->windowTitle(), QFileInfo(file).absoluteFilePath());
  EXPECT_EQ(differences(1), QStringList());
  EXPECT_NE(valueOf(schema->scene(4)->field("TactPBSuperSpin")), "1000");
}

TEST_F(SceneStore, OnlyTheExitWritesAndItWritesScenesIni) {
  writeFile(statePath(),
            withValue(withValue({}, "SchemaForm", "ScenaRadioGroup", "2"), "SchemaForm", "Edit2", "Вторая"));
  const QByteArray state = readFile(statePath());
  start();
  EXPECT_EQ(schema->ScenaRadioGroup->itemIndex(), 2) << "the state file's selection";
  EXPECT_EQ(schema->Edit[1]->text(), "Вторая");
  EXPECT_FALSE(QFileInfo::exists(scenesPath())) << "start writes nothing";

  const QString opened = dir.filePath("opened.qzc");
  ASSERT_TRUE(schema->SaveScenario(opened));
  const QByteArray openedBytes = readFile(opened);
  ScopedRecordingDialogs d;
  d->fileNames.push_back(opened);
  schema->OpenFileSpeedButtonClick();
  d->answers.push_back(true);
  setLiveVariant(2);
  schema->AskCaptureScene(6);
  EXPECT_EQ(readFile(opened), openedBytes) << "recording writes no file";
  EXPECT_FALSE(QFileInfo::exists(scenesPath()));

  schema->StoreScenesOnExit();
  EXPECT_EQ(readFile(opened), openedBytes);
  EXPECT_EQ(readFile(statePath()), state);
  const IniFile written(readFile(scenesPath()));
  EXPECT_EQ(written.value(u"ScenaForm_5", u"TactPBSuperSpin"), valueOf(live("TactPBSuperSpin")));
  EXPECT_EQ(written.value(u"SchemaForm", u"Edit2"), "Наименование сцены") << "the names come from the scenes";
}
