// Integer spin fields driven with real key and mouse events on a shown window.

#include "widgets/int_spin_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>
#include <QVBoxLayout>
#include <functional>

#include "base/number_text.h"
#include "widgets/bin_hex_edit.h"
#include "widgets/feedback.h"
#include "widgets/spin_button.h"

namespace {

// A window holding the field and a second field to leave to.
struct IntForm {
  QWidget window;
  TIntSpinEdit* field = new TIntSpinEdit;
  QLineEdit* other = new QLineEdit;

  IntForm(int min, int max) {
    field->setMaxValue(max);
    field->setMinValue(min);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    layout->addWidget(other);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus(Qt::OtherFocusReason);
  }
  void type(const QString& keys) {
    field->selectAll();
    QTest::keyClicks(field, keys);
  }
  void leave() { QTest::keyClick(field, Qt::Key_Tab); }
  void clickButtonHalf(int half) {
    SpinButton* b = field->spinButton();
    const QPoint at(b->width() / 2, half > 0 ? 2 : b->height() - 3);
    QTest::mouseClick(b, Qt::LeftButton, {}, at);
  }
};

class IntSpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = appFormatSettings();
    setBeepHandlerForTests([this] { ++beeps; });
  }
  void TearDown() override {
    setBeepHandlerForTests({});
    setAppFormatSettings(saved_);
  }
  int beeps = 0;

 private:
  FormatSettings saved_;
};

TEST_F(IntSpinEditTest, LeavingWritesBackTheClampedValue) {
  struct Case {
    int min, max;
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {1, 50, "0", "1"},          {1, 50, "77", "50"}, {1, 50, "25", "25"}, {-120, 120, "-130", "-120"},
      {-120, 120, "+7", "+7"},     // in range: the text is left as typed
      {0, 0, "123456", "123456"},  // equal limits do not clamp
      {5, 5, "9", "9"},
  };
  for (const Case& c : cases) {
    IntForm f(c.min, c.max);
    f.type(c.typed);
    EXPECT_EQ(f.field->text(), c.typed) << "kept until the field is left";
    EXPECT_EQ(f.field->value(), QString(c.shown).toInt()) << c.typed;  // but read clamped at once
    f.leave();
    EXPECT_TRUE(f.other->hasFocus());
    EXPECT_EQ(f.field->text(), c.shown) << c.min << ".." << c.max << " typed " << c.typed;
  }
  EXPECT_EQ(beeps, 0);
}

TEST_F(IntSpinEditTest, TextThatIsNoIntegerReadsAsMinimum) {
  IntForm f(1, 50);
  for (const char* text : {"", "abc", "1,5", "1.5", "-", "99999999999", "12a"}) {
    f.field->setText(text);
    EXPECT_EQ(f.field->value(), 1) << text;
    f.leave();  // the minimum needs no clamping, so the text stays
    EXPECT_EQ(f.field->text(), text);
    f.field->setFocus();
  }
  f.field->setText("+7");
  EXPECT_EQ(f.field->value(), 7);
}

TEST_F(IntSpinEditTest, TypedCharactersFollowTheDecimalSeparatorOfTheSettings) {
  struct Case {
    FormatSettings fs;
    const char* keys;
    const char* text;
    int beeps;
  };
  const Case cases[] = {
      {FormatSettings::russian(), "1,5", "1,5", 0}, {FormatSettings::russian(), "1.5", "15", 1},
      {FormatSettings::point(), "1.5", "1.5", 0},   {FormatSettings::point(), "1,5", "15", 1},
      {FormatSettings::point(), "-+7", "-+7", 0},   {FormatSettings::point(), "a 5x", "5", 3},
  };
  for (const Case& c : cases) {
    setAppFormatSettings(c.fs);
    IntForm f(0, 100);
    beeps = 0;
    f.type(c.keys);
    EXPECT_EQ(f.field->text(), c.text) << c.keys;
    EXPECT_EQ(beeps, c.beeps) << c.keys;
  }
}

TEST_F(IntSpinEditTest, SyncLevelFieldChangesOnlyByStepsWithinItsLimits) {
  IntForm f(-120, 120);
  f.field->setEditorEnabled(false);
  EXPECT_FALSE(f.field->testAttribute(Qt::WA_InputMethodEnabled));
  QApplication::clipboard()->setText("77");

  // Every way QLineEdit knows to change a text; the caret stands inside "-20" for each.
  auto key = [&f](Qt::Key k, Qt::KeyboardModifiers m = {}) {
    return [&f, k, m] { QTest::keyClick(f.field, k, m); };
  };
  auto commit = [&f](const char* text) {
    return [&f, text] {
      QInputMethodEvent e;
      e.setCommitString(text);
      QApplication::sendEvent(f.field, &e);
    };
  };
  struct Case {
    const char* what;
    std::function<void()> act;
    int beeps;
  };
  const Case cases[] = {
      {"digit", key(Qt::Key_5), 1},
      {"minus", key(Qt::Key_Minus), 1},
      {"Backspace", key(Qt::Key_Backspace), 1},
      {"Delete", key(Qt::Key_Delete), 1},
      {"Ctrl+H", key(Qt::Key_H, Qt::ControlModifier), 0},
      {"Ctrl+K", key(Qt::Key_K, Qt::ControlModifier), 0},
      {"Ctrl+U", key(Qt::Key_U, Qt::ControlModifier), 0},
      {"Ctrl+Backspace", key(Qt::Key_Backspace, Qt::ControlModifier), 0},  // a word deletion: silent
      {"Ctrl+V", key(Qt::Key_V, Qt::ControlModifier), 0},
      {"Shift+Insert", key(Qt::Key_Insert, Qt::ShiftModifier), 0},
      {"Ctrl+X", key(Qt::Key_X, Qt::ControlModifier), 0},
      {"Shift+Delete", key(Qt::Key_Delete, Qt::ShiftModifier), 0},
      {"Ctrl+Z", key(Qt::Key_Z, Qt::ControlModifier), 0},
      {"input method", commit("95"), 0},
  };
  for (const Case& c : cases) {
    f.field->setValue(-20);
    f.field->setCursorPosition(1);
    beeps = 0;
    c.act();
    EXPECT_EQ(f.field->text(), "-20") << c.what;
    EXPECT_EQ(beeps, c.beeps) << c.what;
  }
  // Looking is still allowed: caret, selection, copy.
  f.field->setCursorPosition(0);
  QTest::keyClick(f.field, Qt::Key_End, Qt::ShiftModifier);
  EXPECT_EQ(f.field->selectedText(), "-20");
  QTest::keyClick(f.field, Qt::Key_Home);
  QTest::keyClick(f.field, Qt::Key_Right);
  EXPECT_EQ(f.field->cursorPosition(), 1);
  QTest::keyClick(f.field, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(f.field, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), "-20");

  beeps = 0;
  f.field->setValue(0);
  QTest::keyClick(f.field, Qt::Key_Up);
  EXPECT_EQ(f.field->value(), 1);
  QTest::keyClick(f.field, Qt::Key_Down);
  QTest::keyClick(f.field, Qt::Key_Down);
  EXPECT_EQ(f.field->value(), -1);
  f.clickButtonHalf(+1);
  f.clickButtonHalf(+1);
  EXPECT_EQ(f.field->value(), 1);
  f.clickButtonHalf(-1);
  EXPECT_EQ(f.field->value(), 0);

  f.field->setValue(119);
  for (int i = 0; i < 3; ++i) f.clickButtonHalf(+1);
  EXPECT_EQ(f.field->text(), "120");
  f.field->setValue(-119);
  for (int i = 0; i < 3; ++i) QTest::keyClick(f.field, Qt::Key_Down);
  EXPECT_EQ(f.field->text(), "-120");
  EXPECT_EQ(beeps, 0);
}

TEST_F(IntSpinEditTest, StepsAddIncrementAndClamp) {
  struct Case {
    int min, max, increment;
    const char* text;
    int steps;  // positive: Up key presses, negative: Down
    int expected;
  };
  const Case cases[] = {
      {1, 50, 1, "49", 3, 50},
      {1, 50, 1, "2", -3, 1},
      {1, 50, 1, "77", -1, 50},
      {1, 50, 1, "abc", 1, 2},
      {0, 0, 1, "3", -5, -2},
      {0, 100, 7, "95", 1, 100},
      {0, 0, 10, "2147483640", 1, 2147483647},  // unlimited, yet no wrap past int
  };
  for (const Case& c : cases) {
    IntForm f(c.min, c.max);
    f.field->setIncrement(c.increment);
    f.field->setText(c.text);
    for (int i = 0; i < std::abs(c.steps); ++i)
      QTest::keyClick(f.field, c.steps > 0 ? Qt::Key_Up : Qt::Key_Down);
    EXPECT_EQ(f.field->value(), c.expected) << c.text << " " << c.steps;
  }
  EXPECT_EQ(beeps, 0);
}

TEST_F(IntSpinEditTest, ReadOnlyStepOnlyBeeps) {
  IntForm f(1, 50);
  f.field->setValue(10);
  f.field->setReadOnly(true);
  QTest::keyClick(f.field, Qt::Key_Up);
  f.clickButtonHalf(-1);
  EXPECT_EQ(f.field->value(), 10);
  EXPECT_EQ(beeps, 2);
}

TEST_F(IntSpinEditTest, ValueChangedOnlyWhenTheValueReallyChanges) {
  IntForm f(1, 50);
  f.field->setValue(5);
  QSignalSpy spy(f.field, &TSpinEdit::valueChanged);
  f.field->setValue(5);
  f.field->setText("05");
  EXPECT_EQ(spy.count(), 0);
  f.type("12");  // "1" then "12"
  ASSERT_EQ(spy.count(), 2);
  EXPECT_EQ(spy.at(1).at(0).toInt(), 12);
  f.field->setText("x");  // reads as the minimum
  f.field->setText("1");
  ASSERT_EQ(spy.count(), 3);
  EXPECT_EQ(spy.at(2).at(0).toInt(), 1);
  QTest::keyClick(f.field, Qt::Key_Up);
  EXPECT_EQ(spy.count(), 4);
}

TEST_F(IntSpinEditTest, EnterClicksTheDefaultButtonOrBeeps) {
  IntForm f(1, 50);
  f.field->setValue(12);
  QTest::keyClick(f.field, Qt::Key_Return);
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(f.field->text(), "12");

  auto* ok = new QPushButton("OK", &f.window);
  f.window.layout()->addWidget(ok);
  ok->setDefault(true);
  ok->show();
  int clicks = 0;
  QObject::connect(ok, &QPushButton::clicked, [&] {
    ++clicks;
    EXPECT_TRUE(ok->hasFocus());
  });
  for (bool autoSelect : {true, false}) {
    f.field->setAutoSelect(autoSelect);
    f.field->setSelection(2, -1);  // "2" selected, caret before it
    QTest::keyClick(f.field, Qt::Key_Enter);
    EXPECT_TRUE(f.field->hasFocus());
    EXPECT_EQ(f.field->selectedText(), autoSelect ? "12" : "2");
    if (!autoSelect) {
      EXPECT_EQ(f.field->cursorPosition(), 1);
    }
  }
  EXPECT_EQ(clicks, 2);
  EXPECT_EQ(beeps, 1);
}

// Both integer fields, TIntSpinEdit and TBinHexEdit, enter and take Enter alike.
struct IntegerFieldKind {
  const char* name;
  std::function<QLineEdit*()> make;
  const char* text;
};
const IntegerFieldKind kIntegerFields[] = {
    {"TIntSpinEdit", [] { return new TIntSpinEdit; }, "42"},
    {"TBinHexEdit", [] { return new TBinHexEdit; }, "$0000002A"},
};

// A shown window with the field, a plain edit after it and, on request, a default button.
struct EntryForm {
  QWidget window;
  QLineEdit* field;
  QLineEdit* other = new QLineEdit;
  EntryForm(const IntegerFieldKind& kind, bool autoSelect) : field(kind.make()) {
    field->setProperty("autoSelect", autoSelect);
    field->setText(kind.text);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    layout->addWidget(other);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    other->setFocus();
  }
};

TEST_F(IntSpinEditTest, EnteringSelectsAllOnlyWithAutoSelect) {
  enum Entry { Tab, Backtab, Click };
  for (const IntegerFieldKind& kind : kIntegerFields) {
    for (bool autoSelect : {true, false}) {
      for (Entry entry : {Tab, Backtab, Click}) {
        EntryForm f(kind, autoSelect);
        f.field->setCursorPosition(1);
        const QPoint inside(5, f.field->height() / 2);
        if (entry == Click)
          QTest::mouseClick(f.field, Qt::LeftButton, {}, inside);
        else
          QTest::keyClick(f.other, entry == Tab ? Qt::Key_Tab : Qt::Key_Backtab,
                          entry == Tab ? Qt::NoModifier : Qt::ShiftModifier);
        const std::string what =
            std::string(kind.name) + (autoSelect ? " auto " : " plain ") + "#" + std::to_string(int(entry));
        ASSERT_TRUE(f.field->hasFocus()) << what;
        if (autoSelect) {
          EXPECT_EQ(f.field->selectedText(), kind.text) << what;
          if (entry == Click) {  // only the entering press selects; the next places the caret
            QTest::mouseClick(f.field, Qt::LeftButton, {}, inside);
            EXPECT_EQ(f.field->selectedText(), "") << what;
          }
        } else {
          EXPECT_EQ(f.field->selectedText(), "") << what;
          if (entry != Click) {
            EXPECT_EQ(f.field->cursorPosition(), 1) << what;
          }
        }
      }
    }
  }
}

// Only a default button that is a direct child of the field's window counts; one nested in
// a group of the window is none, so Enter beeps.
TEST_F(IntSpinEditTest, EnterClicksOnlyADefaultButtonOfTheWindowItself) {
  enum Placement { None, Nested, Direct };
  for (const IntegerFieldKind& kind : kIntegerFields) {
    for (Placement placement : {None, Nested, Direct}) {
      EntryForm f(kind, true);
      QPushButton* ok = nullptr;
      if (placement == Direct) {
        ok = new QPushButton("OK", &f.window);
      } else if (placement == Nested) {
        auto* group = new QGroupBox(&f.window);
        f.window.layout()->addWidget(group);
        ok = new QPushButton("OK", group);
        group->show();
      }
      int clicks = 0;
      if (ok) {
        if (placement == Direct) f.window.layout()->addWidget(ok);
        ok->setDefault(true);
        ok->show();
        QObject::connect(ok, &QPushButton::clicked, [&] { ++clicks; });
      }
      f.field->setFocus();
      beeps = 0;
      QTest::keyClick(f.field, Qt::Key_Return);
      EXPECT_EQ(clicks, placement == Direct ? 1 : 0) << kind.name << " " << int(placement);
      EXPECT_EQ(beeps, placement == Direct ? 0 : 1) << kind.name << " " << int(placement);
      EXPECT_TRUE(f.field->hasFocus()) << kind.name << " " << int(placement);
    }
  }
}

// Holding a half repeats on the fields' clock: the first repeat at 400 ms, then one every
// 100 ms, never earlier even when the timer wakes early. The timer is woken by hand.
TEST_F(IntSpinEditTest, HeldButtonRepeatsNeverBeforeItsTime) {
  qint64 now = 1000;
  setClockForTests([&now] { return now; });
  IntForm f(0, 1000);
  f.field->setValue(0);
  SpinButton* b = f.field->spinButton();
  auto* timer = b->findChild<QTimer*>();
  ASSERT_NE(timer, nullptr);
  auto wake = [&](qint64 at) {
    now = at;
    if (!timer->isActive()) return;
    QTimerEvent e(timer->timerId());
    QCoreApplication::sendEvent(timer, &e);
  };
  const QPoint upper(b->width() / 2, 2);
  QTest::mousePress(b, Qt::LeftButton, {}, upper);
  EXPECT_EQ(f.field->value(), 1);  // the press steps at once
  const std::pair<qint64, int> wakes[] = {
      {1384, 1}, {1399, 1}, {1400, 2},  // the first repeat: not a millisecond early
      {1450, 2}, {1499, 2}, {1500, 3},  // then every 100 ms
      {1650, 4},                        // a late one does not bring the next closer
      {1700, 4}, {1750, 5},
  };
  for (const auto& [at, value] : wakes) {
    wake(at);
    EXPECT_EQ(f.field->value(), value) << "at " << at - 1000 << " ms";
  }
  QTest::mouseRelease(b, Qt::LeftButton, {}, upper);
  wake(2000);
  EXPECT_EQ(f.field->value(), 5);  // released: no more steps
  EXPECT_FALSE(timer->isActive());
  setClockForTests({});
}

}  // namespace
