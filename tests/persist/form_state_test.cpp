// SaveFormState / LoadFormState on synthetic windows: the receive view's section byte for byte,
// every control kind through a save and a load, the reading rules, the float failure, geometry,
// visibility, and the window's state around a save.

#include "persist/form_state.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QToolButton>
#include <cmath>
#include <cstring>
#include <functional>

#include "base/cp1251.h"
#include "persist/extra_controls.h"
#include "persist/ini_file.h"
#include "persist_support.h"
#include "widgets/bin_hex_edit.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_edit.h"
#include "widgets/real_spin_edit.h"

namespace {

template <typename T>
T* make(QWidget* parent, const char* name) {
  T* w = new T(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QWidget* addPage(QTabWidget* tabs, const char* name) {
  auto* page = new QWidget;
  page->setObjectName(QString::fromLatin1(name));
  tabs->addTab(page, QString::fromLatin1(name));
  return page;
}

QLineEdit* edit(QWidget* parent, const char* name, const char* text) {
  auto* e = make<QLineEdit>(parent, name);
  e->setText(QString::fromUtf8(text));
  return e;
}

// The receive view with its design values, and objects that must not be stored around them.
struct RxDrawForm {
  QWidget window;
  RxDrawForm() {
    window.setObjectName("RxDrawForm");
    window.setGeometry(634, 70, 538, 666);
    make<QLabel>(&window, "Label1")->setText("A");
    make<QCheckBox>(&window, "DrawCheckBox")->setChecked(true);
    auto* width = make<QSlider>(&window, "WidthTrackBar");
    width->setRange(1, 100);
    width->setValue(48);
    auto* range = make<TRadioGroup>(&window, "RangeRadioGroup");
    range->setItems({"300", "150", "50"});
    range->setItemIndex(0);
    make<QCheckBox>(&window, "R50CheckBox");
    make<QPushButton>(&window, "ExportButton");
    make<TRealEdit>(&window, "PlainRealEdit")->setValue(1.5L);
    auto* zoom = make<QToolButton>(&window, "ZoomButton");  // group index 0: a plain button
    zoom->setCheckable(true);
    zoom->setChecked(true);
    zoom->setProperty("groupIndex", 0);
    make<QSpinBox>(&window, "PlainSpinBox");                // its inner line edit is Qt's, not a component
    new QLineEdit(&window);                                 // no name: no component
    auto* dialog = make<QDialog>(&window, "MarkerDialog");  // a window of its own
    edit(dialog, "DialogEdit", "x");

    auto* pages = make<TPageControl>(&window, "MesuarePageControl");
    QWidget* markers = addPage(pages, "MarkersPage");
    QWidget* level = addPage(pages, "LevelPage");
    QWidget* signal = addPage(pages, "SignalPage");
    pages->setActivePageIndex(2);
    auto* choose = make<TRadioGroup>(markers, "ChooseMarkerRadioGroup");
    choose->setItems({"1", "2"});
    choose->setItemIndex(0);
    edit(markers, "A1_Edit", "  ??? В");
    edit(markers, "T1_Edit", "  ??? мкс");
    edit(markers, "A2_Edit", "  ??? В");
    edit(markers, "T2_Edit", "  ??? мкс");
    edit(markers, "DA_Edit", "  ??? В");
    edit(markers, "DT_Edit", "  ??? мкс");
    auto* levelSpin = make<TIntSpinEdit>(level, "LevelPBSpinEdit");
    levelSpin->setMaxValue(99);
    levelSpin->setMinValue(1);
    levelSpin->setValue(50);
    make<QCheckBox>(signal, "MaxCheckBox")->setChecked(true);
    edit(signal, "MaxSignalEdit", "  ??? В");
    make<QCheckBox>(signal, "WidthCheckBox")->setChecked(true);
    edit(signal, "WidthSignalEdit", "??? мкс");
    make<QSlider>(&window, "VertTrackBar")->setRange(-10, 10);
  }
};

// clang-format off
const char* const kRxDrawFormSection =
    "[RxDrawForm]\n"
    "Top=70\n"
    "Left=634\n"
    "Width=538\n"
    "Height=666\n"
    "DrawCheckBox=1\n"
    "WidthTrackBar=48\n"
    "RangeRadioGroup=0\n"
    "R50CheckBox=0\n"
    "MesuarePageControl=2\n"
    "ChooseMarkerRadioGroup=0\n"
    "A1_Edit=  ??? В\n"
    "T1_Edit=  ??? мкс\n"
    "A2_Edit=  ??? В\n"
    "T2_Edit=  ??? мкс\n"
    "DA_Edit=  ??? В\n"
    "DT_Edit=  ??? мкс\n"
    "LevelPBSpinEdit=50\n"
    "MaxCheckBox=1\n"
    "MaxSignalEdit=  ??? В\n"
    "WidthCheckBox=1\n"
    "WidthSignalEdit=??? мкс\n"
    "VertTrackBar=0\n"
    "Wisible=0\n"
    "Enabled=1\n";
// clang-format on

// Source text (UTF-8, LF) as the file holds it: cp1251 with CR LF.
QByteArray fileText(const char* utf8) {
  QString s = QString::fromUtf8(utf8);
  s.replace(u'\n', QStringLiteral("\r\n"));
  return toCp1251(s);
}

class FormStateTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString file = dir.filePath("state.ini");
};

TEST_F(FormStateTest, ReceiveViewSectionByteForByte) {
  TestEnvironment env(FormatSettings::russian());
  RxDrawForm rx;
  ASSERT_TRUE(SaveFormState(file, &rx.window));
  EXPECT_EQ(readBytes(file), fileText(kRxDrawFormSection));

  // The main window's section follows; a float field as a Russian system writes it.
  QWidget main;
  main.setObjectName("MainForm");
  make<TRealSpinEdit>(&main, "Ch1I_AmplPBSuperSpin")->setValue(-2.3L);
  ASSERT_TRUE(SaveFormState(file, &main));
  const QByteArray both = readBytes(file);
  EXPECT_TRUE(both.startsWith(fileText(kRxDrawFormSection)));
  EXPECT_TRUE(both.contains("\r\n[MainForm]\r\nTop=0\r\n"));
  EXPECT_TRUE(both.contains("\r\nCh1I_AmplPBSuperSpin=-2,3\r\nWisible=0\r\n"));
  EXPECT_TRUE(env.warnings.isEmpty());
}

TEST_F(FormStateTest, SavingTwiceGivesTheSameFile) {
  TestEnvironment env;
  RxDrawForm rx;
  ASSERT_TRUE(writeBytes(file, "; kept\r\n[rxdrawform]\r\nGone=1\r\nTop=1\r\n"));
  ASSERT_TRUE(SaveFormState(file, &rx.window));
  const QByteArray first = readBytes(file);
  EXPECT_EQ(first, "; kept\r\n" + fileText(kRxDrawFormSection)) << "stale keys erased with the section";
  ASSERT_TRUE(SaveFormState(file, &rx.window));
  EXPECT_EQ(readBytes(file), first);
}

TEST_F(FormStateTest, AWindowWithoutControlsGetsTheSixKeys) {
  TestEnvironment env;
  QWidget w;
  w.setObjectName("LinkForm");
  w.setGeometry(10, 20, 300, 200);
  ASSERT_TRUE(SaveFormState(file, &w));
  EXPECT_EQ(readBytes(file),
            "[LinkForm]\r\nTop=20\r\nLeft=10\r\nWidth=300\r\nHeight=200\r\nWisible=0\r\nEnabled=1\r\n");
}

// A window with one control of every stored kind, and two sets of values for it.
struct AllKinds {
  QWidget window;
  QLineEdit* edit;
  TSpinEdit* spin;
  TIntSpinEdit* intSpin;
  QCheckBox* check;
  QSlider* slider;
  QToolButton* speed;
  QToolButton* plainButton;
  TRadioGroup* radio;
  TRealSpinEdit* real;
  TTabbedNotebook* notebook;
  TBinHexEdit* binHex;
  TStringGrid* grid;
  TPageControl* pages;

  AllKinds() {
    window.setObjectName("AllKinds");
    window.resize(400, 300);
    edit = make<QLineEdit>(&window, "Edit1");
    spin = make<TSpinEdit>(&window, "Spin1");
    spin->setMaxValue(100);
    intSpin = make<TIntSpinEdit>(&window, "IntSpin1");
    check = make<QCheckBox>(&window, "Check1");
    slider = make<QSlider>(&window, "Slider1");
    slider->setRange(-50, 50);
    speed = make<QToolButton>(&window, "Speed1");
    speed->setCheckable(true);
    speed->setProperty("groupIndex", 3);
    plainButton = make<QToolButton>(&window, "Plain1");
    plainButton->setCheckable(true);
    radio = make<TRadioGroup>(&window, "Radio1");
    radio->setItems({"a", "b", "c"});
    real = make<TRealSpinEdit>(&window, "Real1");
    notebook = make<TTabbedNotebook>(&window, "Notebook1");
    for (const char* p : {"N0", "N1", "N2"}) addPage(notebook, p);
    binHex = make<TBinHexEdit>(&window, "BinHex1");
    grid = make<TStringGrid>(&window, "Grid1");
    pages = make<TPageControl>(&window, "Pages1");
    for (const char* p : {"P0", "P1", "P2"}) addPage(pages, p);
  }

  void setValues(int variant) {
    const bool a = variant == 0;
    window.move(a ? 11 : 90, a ? 22 : 80);
    window.resize(a ? 333 : 350, a ? 244 : 260);
    edit->setText(QString::fromUtf8(a ? "текст '1' " + QByteArray("=x") : "other"));
    spin->setValue(a ? 42 : 3);
    intSpin->setValue(a ? -7 : 9);
    check->setChecked(a);
    slider->setValue(a ? -13 : 20);
    speed->setChecked(a);
    radio->setItemIndex(a ? 2 : -1);
    real->setValue(a ? -2.3L : 7.125L);
    notebook->setPageIndex(a ? 1 : 2);
    binHex->setAsInteger(a ? -5 : 77);
    grid->setColCount(a ? 2 : 4);
    grid->setRowCount(a ? 3 : 1);
    grid->setCells(0, 0, a ? "c0r0" : "x");
    if (a) grid->setCells(1, 2, QString::fromUtf8("ячейка"));
    pages->setActivePageIndex(a ? 1 : -1);
  }

  QStringList describe() const {
    QStringList cells;
    for (int c = 0; c < grid->colCount(); ++c)
      for (int r = 0; r < grid->rowCount(); ++r) cells << grid->cells(c, r);
    return {QString::number(window.x()),
            QString::number(window.y()),
            QString::number(window.width()),
            QString::number(window.height()),
            edit->text(),
            QString::number(spin->value()),
            QString::number(intSpin->value()),
            QString::number(check->isChecked()),
            QString::number(slider->value()),
            QString::number(speed->isChecked()),
            QString::number(radio->itemIndex()),
            real->text(),
            QString::number(notebook->pageIndex()),
            QString::number(binHex->asInteger()),
            QString::number(grid->colCount()),
            QString::number(grid->rowCount()),
            cells.join(u'|'),
            QString::number(pages->activePageIndex())};
  }
};

TEST_F(FormStateTest, EveryControlKindComesBack) {
  for (const FormatSettings& fs : {FormatSettings::point(), FormatSettings::russian()}) {
    TestEnvironment env(fs);
    AllKinds w;
    w.setValues(0);
    const QStringList saved = w.describe();
    ASSERT_TRUE(SaveFormState(file, &w.window));
    w.setValues(1);
    ASSERT_NE(w.describe(), saved);
    ASSERT_TRUE(LoadFormState(file, &w.window));
    EXPECT_EQ(w.describe(), saved);
    EXPECT_TRUE(env.warnings.isEmpty()) << env.warnings.join(u'\n').toStdString();
  }
}

TEST_F(FormStateTest, KeysOfTheRarerControls) {
  TestEnvironment env;
  AllKinds w;
  w.setValues(0);
  w.plainButton->setChecked(true);
  ASSERT_TRUE(SaveFormState(file, &w.window));
  const IniFile ini(readBytes(file));
  const std::pair<const char*, const char*> expected[] = {
      {"Speed1", "1"},
      {"BinHex1AsBin", "11111111111111111111111111111011"},
      {"BinHex1AsHex", "$FFFFFFFB"},
      {"BinHex1AsInteger", "-5"},
      {"Grid1ColCount", "2"},
      {"Grid1RowCount", "3"},
      {"Grid100000000", "c0r0"},
      {"Grid100010002", "ячейка"},
      {"Grid100000002", ""},
      {"Real1", "-2.3"},
  };
  for (const auto& [key, value] : expected)
    EXPECT_EQ(ini.value(u"AllKinds", QString::fromLatin1(key)), QString::fromUtf8(value)) << key;
  EXPECT_FALSE(ini.value(u"AllKinds", u"Plain1")) << "group index 0 is not stored";
  EXPECT_FALSE(ini.value(u"AllKinds", u"Grid100020000")) << "no cells beyond the counts";
}

TEST_F(FormStateTest, ReadingRules) {
  struct Case {
    const char* name;
    const char* lines;  // section body
    std::function<bool(AllKinds&)> holds;
  };
  const Case cases[] = {
      {"blanks around a text dropped", "Edit1=  ??? В  ",
       [](AllKinds& w) { return w.edit->text() == "??? В"; }},
      {"quotes dropped", "Edit1=' q '", [](AllKinds& w) { return w.edit->text() == " q "; }},
      {"0x10 is 16", "Spin1=0x10", [](AllKinds& w) { return w.spin->value() == 16; }},
      {"$1F is 31", "Spin1=$1F", [](AllKinds& w) { return w.spin->value() == 31; }},
      {"abc keeps the value", "Spin1=abc\nSlider1=abc\nRadio1=x",
       [](AllKinds& w) {
         return w.spin->value() == 5 && w.slider->value() == 4 && w.radio->itemIndex() == 1;
       }},
      {"key without case", "spin1=9\nCHECK1=1",
       [](AllKinds& w) { return w.spin->value() == 9 && w.check->isChecked(); }},
      {"any non-zero is true", "Check1=-2\nSpeed1=0x1",
       [](AllKinds& w) { return w.check->isChecked() && w.speed->isChecked(); }},
      {"boolean text that is no number keeps", "Check1=yes",
       [](AllKinds& w) { return !w.check->isChecked(); }},
      {"group index 0 is not read", "Plain1=1", [](AllKinds& w) { return !w.plainButton->isChecked(); }},
      {"radio index below -1 is none", "Radio1=-5", [](AllKinds& w) { return w.radio->itemIndex() == -1; }},
      {"radio index beyond is the last", "Radio1=9", [](AllKinds& w) { return w.radio->itemIndex() == 2; }},
      {"integer wins over bin and hex", "BinHex1AsBin=101\nBinHex1AsHex=$10\nBinHex1AsInteger=7",
       [](AllKinds& w) { return w.binHex->asInteger() == 7; }},
      {"hex after bin", "BinHex1AsBin=101\nBinHex1AsHex=$10",
       [](AllKinds& w) { return w.binHex->asInteger() == 16; }},
      {"bin alone", "BinHex1AsBin=101", [](AllKinds& w) { return w.binHex->asInteger() == 5; }},
      {"grid without counts is 1 x 1, missing cells empty", "",
       [](AllKinds& w) {
         return w.grid->colCount() == 1 && w.grid->rowCount() == 1 && w.grid->cells(0, 0).isEmpty();
       }},
      {"grid cells of the new size",
       "Grid1ColCount=2\nGrid1RowCount=1\nGrid100010000=b\nGrid100000001=beyond",
       [](AllKinds& w) {
         return w.grid->colCount() == 2 && w.grid->cells(1, 0) == "b" && w.grid->cells(0, 0).isEmpty();
       }},
      {"a damaged grid size is bounded", "Grid1ColCount=2000000000\nGrid1RowCount=-4",
       [](AllKinds& w) { return w.grid->colCount() == TStringGrid::kMaxCount && w.grid->rowCount() == 1; }},
      {"float in exponent form", "Real1=1E-6", [](AllKinds& w) { return w.real->value() == 1e-6L; }},
      {"float key missing: value kept", "", [](AllKinds& w) { return w.real->value() == 0.5L; }},
      {"Enabled=0 is not read", "Enabled=0", [](AllKinds& w) { return w.window.isEnabled(); }},
      {"Wisible=1 shows", "Wisible=1", [](AllKinds& w) { return w.window.isVisible(); }},
      {"a later duplicate key is ignored", "Spin1=1\nSpin1=2",
       [](AllKinds& w) { return w.spin->value() == 1; }},
  };
  for (const Case& c : cases) {
    TestEnvironment env;
    AllKinds w;
    w.spin->setValue(5);
    w.slider->setValue(4);
    w.radio->setItemIndex(1);
    w.notebook->setPageIndex(1);
    w.real->setValue(0.5L);
    w.grid->setCells(0, 0, "old");
    ASSERT_TRUE(writeBytes(file, fileText((std::string("[AllKinds]\n") + c.lines + "\n").c_str())));
    EXPECT_TRUE(LoadFormState(file, &w.window)) << c.name;
    EXPECT_TRUE(c.holds(w)) << c.name;
    EXPECT_TRUE(env.warnings.isEmpty()) << c.name;
  }
}

// A damaged file meets controls like the panel's and a scene page's: every value must enter
// within the limits of the control that receives it, and values inside them must not move.
TEST_F(FormStateTest, ValuesEnterWithinTheLimitsOfTheirControl) {
  struct Case {
    const char* line;
    const char* control;
    long double expected;
  };
  const Case cases[] = {
      {"Ampl=-75", "Ampl", -60},
      {"Ampl=5", "Ampl", 0},
      {"Ampl=-12.5", "Ampl", -12.5L},
      {"PanelDelay=0.01", "PanelDelay", 0.05L},  // the panel's delay starts at 0.05
      {"SceneDelay=0.01", "SceneDelay", 0.01L},  // a scene page's at 0.005
      {"SceneDelay=-5", "SceneDelay", 0.005L},
      {"SceneDelay=1E30", "SceneDelay", 80000},
      {"Tact=1000000", "Tact", 1000000},
      {"Tact=1E7", "Tact", 1000000},
      {"Tact=3", "Tact", 10},
      {"Free=-1E30", "Free", -1e30L},  // a field without limits takes anything
      {"Pages=9", "Pages", 4},
      {"Pages=-1", "Pages", 0},
      {"Pages=-2147483648", "Pages", 0},
      {"Pages=2", "Pages", 2},
      {"NoPages=3", "NoPages", -1},
      {"Notebook=7", "Notebook", 2},
      {"Notebook=-3", "Notebook", 0},
      {"Level=120", "Level", 120},
      {"Level=500", "Level", 120},
      {"Level=-2147483648", "Level", -120},
      {"Slider=120", "Slider", 95},
      {"SceneSlider=-120", "SceneSlider", -120},
      {"Radio=-1", "Radio", -1},
      {"Radio=-4", "Radio", -1},
      {"Radio=12", "Radio", 8},
      {"BinHexAsInteger=500", "BinHex", 20},
      {"BinHexAsHex=$1\nBinHexAsInteger=x", "BinHex", 10},
      {"BinHexAsBin=1111", "BinHex", 15},
  };
  for (const Case& c : cases) {
    TestEnvironment env;
    QWidget w;
    w.setObjectName("Form");
    const auto real = [&](const char* name, long double min, long double max, int decimals) {
      auto* e = make<TRealSpinEdit>(&w, name);
      e->configure(min, max, decimals, 0.005L, false, 11);
      e->setValue(min);
      return e;
    };
    real("Ampl", -60, 0, 1);
    real("PanelDelay", 0.05L, 80000, 3);
    real("SceneDelay", 0.005L, 80000, 3);
    real("Tact", 10, 1000000, 1);
    real("Free", 0, 0, -1);
    auto* pages = make<TPageControl>(&w, "Pages");
    for (const char* p : {"P0", "P1", "P2", "P3", "P4"}) addPage(pages, p);
    pages->setActivePageIndex(3);
    make<TPageControl>(&w, "NoPages");
    auto* notebook = make<TTabbedNotebook>(&w, "Notebook");
    for (const char* p : {"N0", "N1", "N2"}) addPage(notebook, p);
    notebook->setPageIndex(1);
    auto* level = make<TIntSpinEdit>(&w, "Level");
    level->setMaxValue(120);
    level->setMinValue(-120);
    make<QSlider>(&w, "Slider")->setRange(-95, 95);
    make<QSlider>(&w, "SceneSlider")->setRange(-120, 120);
    auto* radio = make<TRadioGroup>(&w, "Radio");
    radio->setItems({"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9"});
    radio->setItemIndex(0);
    auto* binHex = make<TBinHexEdit>(&w, "BinHex");
    binHex->setMaxValue(20);
    binHex->setMinValue(10);
    binHex->setAsInteger(12);

    ASSERT_TRUE(writeBytes(file, QByteArray("[Form]\n") + c.line + "\n"));
    EXPECT_TRUE(LoadFormState(file, &w)) << c.line;
    QObject* o = w.findChild<QObject*>(c.control);
    long double got = 0;
    if (auto* e = qobject_cast<TRealEdit*>(o)) got = e->value();
    if (auto* e = qobject_cast<TPageControl*>(o)) got = e->activePageIndex();
    if (auto* e = qobject_cast<TTabbedNotebook*>(o)) got = e->pageIndex();
    if (auto* e = qobject_cast<TSpinEdit*>(o)) got = e->value();
    if (auto* e = qobject_cast<QSlider*>(o)) got = e->value();
    if (auto* e = qobject_cast<TRadioGroup*>(o)) got = e->itemIndex();
    if (auto* e = qobject_cast<TBinHexEdit*>(o)) got = e->asInteger();
    EXPECT_LE(std::fabs(got - c.expected), std::fabs(c.expected) * 1e-12L) << c.line << ": " << double(got);
    EXPECT_TRUE(env.warnings.isEmpty()) << c.line;
  }
}

// The load stops at a float that is no number; the file as it was is kept in the private state
// folder first (the values after the stop were never loaded, and the exit's save writes over
// them), named in the box, once for the same text.
TEST_F(FormStateTest, AFloatThatIsNoNumberStopsTheLoadAndTheFileIsKeptAsItWas) {
  struct Case {
    const char* value;
    const char* message;
  };
  const Case cases[] = {
      {"1,2,3", "'1,2,3' is not a valid floating point value"},
      {"", "'' is not a valid floating point value"},
      {" \"1 000\" ", "'1 000' is not a valid floating point value"},
  };
  const QString kept = qEnvironmentVariable("XDG_STATE_HOME") + "/qz418";
  QStringList copies;
  for (const Case& c : cases) {
    TestEnvironment env(FormatSettings::point());
    QWidget w;
    w.setObjectName("MainForm");
    auto* before = make<QLineEdit>(&w, "Before");
    auto* real = make<TRealSpinEdit>(&w, "Real1");
    real->setValue(4.5L);
    auto* after = make<QLineEdit>(&w, "After");
    const QByteArray text =
        QByteArray("[MainForm]\r\nBefore=new\r\nReal1=") + c.value + "\r\nAfter=new\r\nWisible=1\r\n";
    ASSERT_TRUE(writeBytes(file, text));
    for (int load = 0; load < 2; ++load) {
      EXPECT_FALSE(LoadFormState(file, &w));
      EXPECT_EQ(before->text(), "new") << "controls before it keep their new values";
      EXPECT_EQ(real->value(), 4.5L);
      EXPECT_EQ(after->text(), "") << "the rest is not read";
      EXPECT_FALSE(w.isVisible()) << "nor the visibility";
    }
    ASSERT_EQ(env.warnings.size(), 2);
    EXPECT_EQ(env.warnings[0], env.warnings[1]) << "the same copy for the same text";
    const QString prefix = QString::fromLatin1(c.message) +
                           "\rФайл прочитан не весь; он сохранён как был в " + kept + "/state.ini.";
    ASSERT_TRUE(env.warnings[0].startsWith(prefix)) << env.warnings[0].toStdString();
    const QString copy = env.warnings[0].mid(env.warnings[0].indexOf(kept));
    EXPECT_TRUE(copy.endsWith(".kept"));
    EXPECT_EQ(readBytes(copy), text);
    copies << copy;
  }
  copies.removeDuplicates();
  EXPECT_EQ(copies.size(), 3) << "each text has a copy of its own";
}

TEST_F(FormStateTest, GeometryFixedAndSizeable) {
  TestEnvironment env;
  ASSERT_TRUE(writeBytes(file, "[Form]\r\nTop=40\r\nLeft=30\r\nWidth=321\r\nHeight=234\r\n"));
  QWidget sizeable;
  sizeable.setObjectName("Form");
  sizeable.setGeometry(1, 1, 200, 100);
  ASSERT_TRUE(LoadFormState(file, &sizeable));
  EXPECT_EQ(sizeable.frameGeometry(), QRect(30, 40, 321, 234));

  QWidget fixed;
  fixed.setObjectName("Form");
  fixed.move(1, 1);
  fixed.setFixedSize(200, 100);
  ASSERT_TRUE(LoadFormState(file, &fixed));
  EXPECT_EQ(fixed.frameGeometry(), QRect(30, 40, 200, 100)) << "position restored, never the size";

  // A damaged file cannot make a window of a billion pixels.
  ASSERT_TRUE(
      writeBytes(file, "[Form]\r\nTop=2147483647\r\nLeft=-2147483648\r\nWidth=2147483647\r\nHeight=-5\r\n"));
  ASSERT_TRUE(LoadFormState(file, &sizeable));
  EXPECT_LT(sizeable.width(), 100000);
  EXPECT_LT(sizeable.x(), 10000000);
}

TEST_F(FormStateTest, ShownWindowKeepsItsPlaceThroughSaveAndLoad) {
  TestEnvironment env;
  AllKinds w;
  w.window.show();
  w.window.setGeometry(50, 60, 345, 256);
  ASSERT_TRUE(SaveFormState(file, &w.window));
  const QRect frame = w.window.frameGeometry();
  w.window.setGeometry(100, 120, 300, 200);
  ASSERT_TRUE(LoadFormState(file, &w.window));
  EXPECT_EQ(w.window.frameGeometry(), frame);
  EXPECT_TRUE(w.window.isVisible()) << "Wisible=1 was written";
  EXPECT_EQ(IniFile(readBytes(file)).value(u"AllKinds", u"Wisible"), "1");
}

TEST_F(FormStateTest, WindowIsDisabledWhileSavedAndEventsGoOn) {
  TestEnvironment env;
  AllKinds w;
  w.window.show();
  bool ranDisabled = false;
  QMetaObject::invokeMethod(
      qApp, [&] { ranDisabled = !w.window.isEnabled(); }, Qt::QueuedConnection);
  ASSERT_TRUE(SaveFormState(file, &w.window));
  EXPECT_TRUE(ranDisabled);
  EXPECT_TRUE(w.window.isEnabled());
  EXPECT_EQ(IniFile(readBytes(file)).value(u"AllKinds", u"Enabled"), "1");

  // While loading, an event between controls sees the panel loaded as far as it got.
  w.edit->setText("new");
  w.intSpin->setValue(99);
  ASSERT_TRUE(SaveFormState(file, &w.window));
  w.edit->setText("old");
  w.intSpin->setValue(1);
  QStringList seen;
  bool loading = true;
  std::function<void()> watch = [&] {
    seen << w.edit->text() + u'/' + QString::number(w.intSpin->value());
    if (loading) QMetaObject::invokeMethod(qApp, watch, Qt::QueuedConnection);
  };
  QMetaObject::invokeMethod(qApp, watch, Qt::QueuedConnection);
  const bool loaded = LoadFormState(file, &w.window);
  loading = false;
  QCoreApplication::processEvents();  // the watch still queued must not outlive this test
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(seen.contains("old/1"));
  EXPECT_TRUE(seen.contains("new/1")) << seen.join(u' ').toStdString();
  EXPECT_TRUE(seen.contains("new/99"));
}

// A save never replaces what it cannot write, or could not read first (it would lose the
// sections of the other windows): the error names the file, and the file and the window stay
// as they were.
TEST_F(FormStateTest, AFileThatCannotBeWrittenOrReadIsLeftAlone) {
  const QString folder = dir.filePath("folder.ini");
  ASSERT_TRUE(QDir().mkpath(folder));
  // A socket cannot be opened even by root.
  const QString socketPath = dir.filePath("socket.ini");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  const QByteArray encoded = QFile::encodeName(socketPath);
  ASSERT_LT(size_t(encoded.size()), sizeof addr.sun_path);
  std::memcpy(addr.sun_path, encoded.constData(), size_t(encoded.size()));
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const QString frozen = dir.filePath("frozen.ini");
  ASSERT_TRUE(writeBytes(frozen, "[Other]\r\nA=1\r\n"));
  ASSERT_TRUE(QFile::setPermissions(frozen, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  const QString unreadable = dir.filePath("unreadable.ini");
  ASSERT_TRUE(writeBytes(unreadable, "[Other]\r\nA=1\r\n"));
  ASSERT_TRUE(QFile::setPermissions(unreadable, QFile::WriteOwner));

  // Another user's link in the file's place is not followed, and the box names it.
  const QString link = dir.filePath("link.ini");
  ASSERT_TRUE(QFile::link(dir.filePath("target.ini"), link));
  struct Case {
    QString target;
    bool enabled;
    bool visible;
    QString more = {};
  };
  std::vector<Case> cases{{folder, true, true}, {socketPath, false, false}, {frozen, false, true}};
  if (geteuid() != 0) cases.push_back({unreadable, true, false});  // root reads it anyway
  if (::lchown(QFile::encodeName(link).constData(), 4002, 4002) == 0)
    cases.push_back({link, true, true,
                     "\rСсылка " + link + " принадлежит другому пользователю: программа по ней не пишет"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target.toStdString());
    TestEnvironment env;
    QWidget w;
    w.setObjectName("MainForm");
    w.setEnabled(c.enabled);
    w.setVisible(c.visible);
    struct stat before {};
    ASSERT_EQ(::lstat(QFile::encodeName(c.target).constData(), &before), 0);
    const QByteArray bytes = readBytes(c.target);
    EXPECT_FALSE(SaveFormState(c.target, &w));
    EXPECT_EQ(env.warnings, QStringList{"Unable to write to " + c.target + c.more});
    struct stat after {};
    ASSERT_EQ(::lstat(QFile::encodeName(c.target).constData(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "replaced";
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(readBytes(c.target), bytes);
    EXPECT_EQ(w.isEnabled(), c.enabled);
    EXPECT_EQ(w.isVisible(), c.visible);
  }
  EXPECT_FALSE(QFileInfo::exists(dir.filePath("target.ini"))) << "created through another user's link";
  ::close(sock);
}

TEST_F(FormStateTest, DisabledWindowIsWrittenSoAndStaysSo) {
  TestEnvironment env;
  QWidget w;
  w.setObjectName("SchemaForm");
  w.setEnabled(false);
  ASSERT_TRUE(SaveFormState(file, &w));
  EXPECT_FALSE(w.isEnabled());
  EXPECT_EQ(IniFile(readBytes(file)).value(u"SchemaForm", u"Enabled"), "0");
}

TEST_F(FormStateTest, NullWindowOrMissingFileDoNothing) {
  TestEnvironment env;
  EXPECT_TRUE(SaveFormState(file, nullptr));
  EXPECT_TRUE(LoadFormState(file, nullptr));
  EXPECT_FALSE(QFile::exists(file));
  AllKinds w;
  w.setValues(0);
  // A grid without its counts in the file becomes 1 x 1: start it so.
  w.grid->setColCount(1);
  w.grid->setRowCount(1);
  w.grid->setCells(0, 0, QString());
  const QStringList before = w.describe();
  EXPECT_TRUE(LoadFormState(file, &w.window));
  EXPECT_EQ(w.describe(), before);
  EXPECT_TRUE(env.warnings.isEmpty());
}

}  // namespace
