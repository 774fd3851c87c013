// TRealSpinEdit with the windows' field settings: stepping and its acceleration on a fake
// clock, the grid, and the limits on leaving, driven by real key and mouse events.

#include "widgets/real_spin_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <memory>

#include "widgets/feedback.h"
#include "widgets/field_window_fixture.h"
#include "widgets/spin_button.h"

namespace {

class RealSpinEditKeys : public FieldWindowTest<TRealSpinEdit> {
 protected:
  void type(QWidget* w, const char* keys) { QTest::keyClicks(w, tx(keys)); }
  void carrier() { field->configure(0.1, 16, 2, 0.01, true, 11); }
  // One step of a held Up key: presses without releases, 100 ms apart.
  void holdUp(int steps) {
    for (int i = 0; i < steps; ++i) {
      now += 100;
      QTest::keyPress(field, Qt::Key_Up);
    }
  }
  static bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i) QTest::qWait(10);
    return done();
  }

};

TEST_P(RealSpinEditKeys, AmplitudeAboveTheLimitIsClampedWithBeepAndKeepsTheFocus) {
  field->configure(-60, 0, 1, 0.1, false, 5);
  QSignalSpy exits(field, &TRealEdit::exited);
  enter();
  type(field, "5");
  EXPECT_EQ(field->text(), tx("5.0"));
  EXPECT_EQ(field->value(), 0) << "read within the limits while typed";
  QTest::keyClick(field, Qt::Key_Tab);
  EXPECT_EQ(field->text(), tx("0.0"));
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(waitUntil([&] { return field->hasFocus(); }));
  EXPECT_EQ(exits.count(), 0);
}

TEST_P(RealSpinEditKeys, DelayIsRoundedToTheGridOnLeaving) {
  field->configure(0.05, 80000, 3, 0.005, true, 11);
  QSignalSpy exits(field, &TRealEdit::exited);
  enter();
  type(field, "100.2473");  // the fourth decimal has no room: one beep
  EXPECT_EQ(field->text(), tx("100.247"));
  other->setFocus();
  EXPECT_EQ(field->text(), tx("100.245"));
  EXPECT_EQ(beeps, 1);
  EXPECT_EQ(exits.count(), 1);
}

TEST_P(RealSpinEditKeys, HeldUpAcceleratesUpToAFifthOfTheRange) {
  carrier();
  field->setValue(0.1);
  QStringList seen;
  for (int i = 0; i < 12; ++i) {
    holdUp(1);
    seen << field->text();
  }
  const char* expected[] = {"0.11", "0.12", "0.13", "0.14", "0.15", "0.16",
                            "0.18", "0.20", "0.23", "0.26", "0.30", "0.34"};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(seen[i], tx(expected[i])) << i;

  field->setWrap(true);  // keeps the value inside, so the step can grow all the way
  long double largest = 0;
  for (int i = 0; i < 700; ++i) {
    holdUp(1);
    largest = std::max(largest, field->currentStep());
  }
  EXPECT_NEAR(double(largest), 3.18, 1e-9);
  QTest::keyRelease(field, Qt::Key_Up);
  EXPECT_NEAR(double(field->currentStep()), 0.01, 1e-12);
  EXPECT_EQ(beeps, 0);
}

TEST_P(RealSpinEditKeys, NearTheTopAnAcceleratedStepFallsBackToOneIncrement) {
  carrier();
  field->setFocus();
  field->setValue(0.1);
  holdUp(12);
  ASSERT_GT(field->currentStep(), 0.03L);
  field->setValue(15.99);
  holdUp(1);
  EXPECT_EQ(field->text(), tx("16.00"));
  EXPECT_EQ(beeps, 0);
  holdUp(1);
  EXPECT_EQ(field->text(), tx("16.00"));
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(field->hasFocus());
}

TEST_P(RealSpinEditKeys, PauseOrReleaseResetsTheStep) {
  carrier();
  enum Between { Nothing, Release, AutoRepeatRelease };
  struct Case {
    qint64 gapMs;
    Between between;
    double increase;
  };
  const Case cases[] = {
      {200, Nothing, 0.02}, {201, Nothing, 0.01}, {100, Release, 0.01}, {100, AutoRepeatRelease, 0.02}};
  for (const Case& c : cases) {
    now += 1000;
    field->setValue(1);
    holdUp(7);  // the seventh step is the first of 0.02
    ASSERT_EQ(field->text(), tx("1.08"));
    if (c.between == Release) QTest::keyRelease(field, Qt::Key_Up);
    if (c.between == AutoRepeatRelease) {
      QKeyEvent release(QEvent::KeyRelease, Qt::Key_Up, Qt::NoModifier, QString(), true);
      QApplication::sendEvent(field, &release);
    }
    now += c.gapMs - 100;
    holdUp(1);
    EXPECT_NEAR(double(field->value()), 1.08 + c.increase, 1e-9) << c.gapMs << " " << c.between;
  }
}

TEST_P(RealSpinEditKeys, StepsAtTheLimits) {
  carrier();
  struct Case {
    double value;
    int direction;
    bool wrap;
    bool readOnly;
    const char* text;
    int beeps;
  };
  const Case cases[] = {
      {16, 1, true, false, "0.10", 0},    {0.1, -1, true, false, "16.00", 0},
      {0.1, -1, false, false, "0.10", 1}, {0.05, 1, false, false, "0.10", 1},
      {17, -1, false, false, "16.00", 1}, {5, 1, false, true, "5.00", 1},
  };
  for (const Case& c : cases) {
    now += 1000;
    field->setWrap(c.wrap);
    field->setReadOnly(c.readOnly);
    field->setValue(c.value);
    beeps = 0;
    QTest::keyClick(field, c.direction > 0 ? Qt::Key_Up : Qt::Key_Down);
    EXPECT_EQ(field->text(), tx(c.text)) << c.value << " " << c.direction;
    EXPECT_EQ(beeps, c.beeps) << c.value << " " << c.direction;
  }
}

// A number too large for the extended type is still a number beyond a limit: read at once as
// that limit (the packet and a save read the field before it is left) and shown as it with a
// beep on leaving. Text that is no number at all reads as the minimum.
TEST_P(RealSpinEditKeys, NumberBeyondTheExtendedRangeReadsAsTheLimitItViolates) {
  struct Case {
    double min, max;
    int decimals;
    double increment;
    const char* text;
    double read;
    const char* shown;
    const char* keys = nullptr;  // typed over the whole text instead of set
  };
  const Case cases[] = {
      {0.05, 80000, 3, 0.005, "9.000E4932", 80000, "80_000.000", "9E-4932-"},
      {0.05, 80000, 3, 0.005, "9.000E4932", 80000, "80_000.000"},
      {0.05, 80000, 3, 0.005, "-9.000E4932", 0.05, "0.050"},
      {0, 2, 2, 0.01, "9.00E4932", 2, "2.00"},
      {10, 1000000, 1, 0.1, "9.0E4932", 1000000, "1_000_000.0"},
      {10, 1000000, 1, 0.1, "-1E99999", 10, "10.0"},
      {-60, 0, 1, 0.1, "-9.0E4932", -60, "-60.0"},
      {-60, 0, 1, 0.1, "9.0E4932", 0, "0.0"},
      {0.05, 80000, 3, 0.005, "1-2", 0.05, "0.050"},  // no number: 0 on leaving, below the minimum
  };
  for (const Case& c : cases) {
    auto* f = new TRealSpinEdit(window.get());
    f->configure(c.min, c.max, c.decimals, c.increment, true, 11);
    f->show();
    QSignalSpy exits(f, &TRealEdit::exited);
    f->setFocus();
    ASSERT_TRUE(f->hasFocus()) << c.text;
    if (c.keys) {
      f->selectAll();
      QTest::keyClicks(f, tx(c.keys));
      EXPECT_EQ(f->text(), tx(c.text)) << c.keys;
    } else {
      f->setText(tx(c.text));
    }
    EXPECT_DOUBLE_EQ(double(f->value()), c.read) << c.text;
    beeps = 0;
    other->setFocus();
    EXPECT_EQ(f->text(), tx(c.shown)) << c.text;
    EXPECT_EQ(beeps, 1) << c.text;
    EXPECT_EQ(exits.count(), 0) << c.text;
    EXPECT_TRUE(waitUntil([&] { return f->hasFocus(); })) << c.text;
    delete f;
  }
}

TEST_P(RealSpinEditKeys, SpinButtonHalvesStepAndTakeTheFocus) {
  carrier();
  field->setValue(1);
  other->setFocus();
  SpinButton* button = field->spinButton();
  EXPECT_EQ(button->geometry().right(),
            field->width() - 1 - field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth));
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, 2));
  EXPECT_EQ(field->text(), tx("1.01"));
  EXPECT_TRUE(field->hasFocus());
  QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(button->width() / 2, button->height() - 2));
  EXPECT_EQ(field->text(), tx("1.00"));
}

TEST_P(RealSpinEditKeys, DisabledEditorOnlySteps) {
  carrier();
  field->setEditorEnabled(false);
  field->setValue(1);
  field->setFocus();
  QGuiApplication::clipboard()->setText(QStringLiteral("3"));
  type(field, "5");
  QTest::keyClick(field, Qt::Key_Backspace);
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(field->text(), tx("1.00"));
  EXPECT_EQ(beeps, 0);
  QTest::keyClick(field, Qt::Key_Up);
  EXPECT_EQ(field->text(), tx("1.01"));
}

TEST_P(RealSpinEditKeys, IncrementAcceptance) {
  field->setIncrement(1000);  // no limits: anything
  EXPECT_EQ(field->increment(), 1000);
  field->configure(0, 2, 2, 0.01, true, 11);
  field->setValue(0.7);
  field->setIncrement(3);  // larger than the range
  EXPECT_EQ(field->increment(), (long double)0.01);
  field->setIncrement(0.5);
  EXPECT_EQ(field->text(), tx("0.50"));
  EXPECT_EQ(field->currentStep(), 0.5L);
}

// Every field of the windows, limits given as double literals as the windows do: stepping to
// and leaving at either limit must neither beep nor clamp.
TEST_P(RealSpinEditKeys, WindowFieldsStepAndLeaveCleanlyAtTheirLimits) {
  struct Setup {
    double min, max;
    int decimals;
    double increment;
    bool round;
    int maxLength;
  };
  const Setup setups[] = {
      {-60, 0, 1, 0.1, false, 5},         {-10, 0, 1, 0.1, false, 4},      {0.05, 80000, 3, 0.005, true, 11},
      {0.005, 80000, 3, 0.005, true, 11}, {0.05, 320, 3, 0.005, true, 10}, {0.1, 16, 2, 0.01, true, 11},
      {0.01, 100, 2, 0.01, true, 11},     {0, 2, 2, 0.01, true, 11},       {10, 1000000, 1, 0.1, true, 10},
  };
  for (const Setup& s : setups) {
    auto* f = new TRealSpinEdit(window.get());
    f->configure(s.min, s.max, s.decimals, s.increment, s.round, s.maxLength);
    QSignalSpy exits(f, &TRealEdit::exited);
    f->show();
    beeps = 0;
    for (double limit : {s.min, s.max}) {
      now += 1000;
      f->setValue(limit);
      f->setFocus();
      const int inward = limit == s.min ? 1 : -1;
      QTest::keyClick(f, inward > 0 ? Qt::Key_Up : Qt::Key_Down);
      EXPECT_NEAR(double(f->value()), limit + inward * s.increment, 1e-9) << s.min << " " << s.max;
      QTest::keyClick(f, inward > 0 ? Qt::Key_Down : Qt::Key_Up);
      other->setFocus();
      EXPECT_NEAR(double(f->value()), limit, 1e-9) << s.min << " " << s.max;
    }
    EXPECT_EQ(beeps, 0) << s.min << " " << s.max;
    EXPECT_EQ(exits.count(), 2);
    EXPECT_EQ(f->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
  }
}

INSTANTIATE_TEST_SUITE_P(RealLocales, RealSpinEditKeys,
                         ::testing::Values(FormatSettings::russian(), FormatSettings::point()),
                         [](const auto& info) {
                           return info.param.decimalSeparator == u',' ? "Russian" : "Point";
                         });

}  // namespace
