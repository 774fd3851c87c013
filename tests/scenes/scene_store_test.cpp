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
  EXPECT_EQ(keysOf(first, "ScenaForm_3").size(), 82) << "a scene's section is rewritten whole";

  // Everything overwritten by the load: the reloaded scenes write the same bytes.
  for (int n = 1; n <= 9; ++n) setSceneVariant(n, 9 - n);
  schema->CommentEdit->setText("другой");
  ASSERT_TRUE(schema->LoadScenario(file));
  EXPECT_EQ(schema->CommentEdit->text(), "Поверка");
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray second = readFile(file);
  EXPECT_EQ(QString::fromLatin1(second).split('\n'), QString::fromLatin1(first).split('\n'));
}

// One scene's section as operators' Scenes.ini files hold it, byte for byte: keys in this
// order, every value from its own field, reals with the regional decimal comma, the name in
// cp1251, CR LF line ends. Every value differs from its neighbours, so a key written from
// another field shows.
TEST_F(SceneStore, ASceneSectionByteForByte) {
  const char* const golden[] = {
      "Top=0",
      "Left=0",
      "Width=703",
      "Height=671",
      "CommentEdit=\xCF\xF0\xEE\xE2\xE5\xF0\xEA\xE0 1",  // "Проверка 1" in cp1251
      "Ch1_PageControl=2",
      "Ch1I_RadioGroup=1",
      "Ch1I_LossCheckBox=1",
      "Ch1I_AmplPBSuperSpin=-1,1",
      "Ch1I_HFModulationCheckBox=0",
      "Ch1I_FreqPBSuperSpin=0,11",
      "Ch1I_DelayPBSuperSpin=0,005",
      "Ch1I_TimePBSuperSpin=1,015",
      "Ch1I_AMCheckBox=1",
      "Ch1I_AMPBSuperSpin=0,02",
      "Ch1A_RadioGroup=0",
      "Ch1A_LossCheckBox=0",
      "Ch1A_AmplPBSuperSpin=-2,2",
      "Ch1A_LossPBSuperSpin=-0,5",
      "Ch1A_FreqPBSuperSpin=1,22",
      "Ch1A_DelayPBSuperSpin=2,025",
      "Ch1A_TimePBSuperSpin=3,035",
      "Ch1A_PausePBSuperSpin=4,045",
      "Ch1A_CountPBSpinEdit=1",
      "Ch1F_RadioGroup=1",
      "Ch1F_LossCheckBox=1",
      "Ch1F_AmplPBSuperSpin=-3,3",
      "Ch1F_FreqPBSuperSpin=2,33",
      "Ch1F_DfreqPBSuperSpin=0,01",
      "Ch1F_DelayPBSuperSpin=5,055",
      "Ch1F_TimePBSuperSpin=6,065",
      "Ch1F_PausePBSuperSpin=7,075",
      "Ch1F_CountPBSpinEdit=50",
      "Ch1S_RadioGroup=0",
      "Ch1S_LossCheckBox=0",
      "Ch1S_AmplPBSuperSpin=-4,4",
      "Ch1S_HFModulationCheckBox=1",
      "Ch1S_FreqPBSuperSpin=3,44",
      "Ch1S_AMCheckBox=0",
      "Ch1S_AMPBSuperSpin=3,03",
      "Ch1S_RF_To_Ch2_CheckBox=0",
      "Ch2_PageControl=4",
      "Ch2I_RadioGroup=0",
      "Ch2I_AmplPBSuperSpin=-5,5",
      "Ch2I_HFModulationCheckBox=1",
      "Ch2I_FreqPBSuperSpin=4,55",
      "Ch2I_DelayPBSuperSpin=8,085",
      "Ch2I_TimePBSuperSpin=9,095",
      "Ch2I_AMCheckBox=0",
      "Ch2I_AMPBSuperSpin=14,04",
      "Ch2A_RadioGroup=1",
      "Ch2A_AmplPBSuperSpin=-6,6",
      "Ch2A_LossPBSuperSpin=-9,5",
      "Ch2A_FreqPBSuperSpin=5,66",
      "Ch2A_DelayPBSuperSpin=10,105",
      "Ch2A_TimePBSuperSpin=11,115",
      "Ch2A_PausePBSuperSpin=12,125",
      "Ch2A_CountPBSpinEdit=17",
      "Ch2F_RadioGroup=0",
      "Ch2F_AmplPBSuperSpin=-7,7",
      "Ch2F_FreqPBSuperSpin=6,77",
      "Ch2F_DfreqPBSuperSpin=1,99",
      "Ch2F_DelayPBSuperSpin=13,135",
      "Ch2F_TimePBSuperSpin=14,145",
      "Ch2F_PausePBSuperSpin=15,155",
      "Ch2F_CountPBSpinEdit=23",
      "Ch2S_RadioGroup=1",
      "Ch2S_AmplPBSuperSpin=-8,8",
      "Ch2S_HFModulationCheckBox=0",
      "Ch2S_FreqPBSuperSpin=7,88",
      "Ch2S_AMCheckBox=1",
      "Ch2S_AMPBSuperSpin=55,05",
      "Ch2S_RF_To_Ch1_CheckBox=1",
      "SyncPageControl=2",
      "TactPBSuperSpin=12345,6",
      "SyncPolarRadioGroup=1",
      "SyncLevelPBSpinEdit=117",
      "SyncLevelTrackBar=-93",
      "RangeRadioGroup=2",
      "R50CheckBox=1",
      "Wisible=0",
      "Enabled=1",
  };
  setAppFormatSettings(FormatSettings::russian());
  start();
  TScenaForm* scene = schema->scene(3);
  for (const char* line : golden) {
    const QByteArray l(line);
    const QString key = QString::fromLatin1(l.left(l.indexOf('=')));
    const QByteArray value = l.mid(l.indexOf('=') + 1);
    QWidget* w = key == "CommentEdit" ? scene->CommentEdit : scene->field(key);
    if (!w) continue;  // the window keys
    if (auto* p = qobject_cast<TPageControl*>(w)) p->setActivePageIndex(value.toInt());
    else if (auto* r = qobject_cast<TRadioGroup*>(w)) r->setItemIndex(value.toInt());
    else if (auto* c = qobject_cast<QCheckBox*>(w)) c->setChecked(value == "1");
    else if (auto* f = qobject_cast<TSpinEdit*>(w)) f->setValue(value.toInt());
    else if (auto* sl = qobject_cast<QSlider*>(w)) sl->setValue(value.toInt());
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(key == "CommentEdit" ? "Проверка 1" : value);
  }
  const QString file = dir.filePath("golden.qzc");
  ASSERT_TRUE(schema->SaveScenario(file));
  const QByteArray bytes = readFile(file);
  const qsizetype from = bytes.indexOf("[ScenaForm_2]\r\n");
  const qsizetype to = bytes.indexOf("[ScenaForm_3]");
  ASSERT_TRUE(from >= 0 && to > from);
  QByteArray expected = "[ScenaForm_2]\r\n";
  for (const char* line : golden) expected += QByteArray(line) + "\r\n";
  EXPECT_EQ(bytes.mid(from, to - from), expected);
  setAppFormatSettings(FormatSettings::point());
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
  EXPECT_TRUE(d->calls[1].text.startsWith("'abc' is not a valid floating point value\r")) << d->calls[1].text.toStdString();
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
