// TRealEdit driven by real key, mouse and focus events in a shown window, in both separator
// settings. Texts are written with '.' for the decimal and '_' for the thousands separator,
// '|' for the caret and [..] for a selection (the caret at its end).

#include "widgets/real_edit.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLibraryInfo>
#include <QMenu>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTranslator>
#include <QVBoxLayout>
#include <memory>

#include "widgets/feedback.h"
#include "widgets/field_window_fixture.h"

namespace {

using NF = NumberFormat;

class RealEditKeys : public FieldWindowTest<TRealEdit> {
 protected:
  void setState(const char* neutral) {
    QString s = tx(neutral);
    const auto open = s.indexOf(u'[');
    if (open >= 0) {
      s.remove(open, 1);
      const auto close = s.indexOf(u']');
      s.remove(close, 1);
      field->setText(s);
      field->setSelection(int(open), int(close - open));
    } else {
      const auto caret = s.indexOf(u'|');
      s.remove(caret, 1);
      field->setText(s);
      field->setCursorPosition(int(caret));
    }
  }
  QString state() const { return field->text().insert(field->cursorPosition(), u'|'); }
  // '<' Backspace, '>' Delete, '.' the decimal separator.
  void press(const char* keys) {
    for (const char* k = keys; *k; ++k) {
      if (*k == '<')
        QTest::keyClick(field, Qt::Key_Backspace);
      else if (*k == '>')
        QTest::keyClick(field, Qt::Key_Delete);
      else
        QTest::keyClick(field, *k == '.' ? GetParam().decimalSeparator.toLatin1() : *k);
    }
  }

};

struct KeyCase {
  NF format;
  int decimals;
  int maxLength;
  const char* before;
  const char* keys;
  const char* after;
  int beeps;
};

TEST_P(RealEditKeys, InputAndDeletionRules) {
  const KeyCase cases[] = {
      // character input
      {NF::Standard, -1, 0, "[12.5]", "7", "7|", 0},
      {NF::Thousands, 1, 5, "[0.0]", "5", "5|.0", 0},
      {NF::Standard, -1, 0, "12|.5", "-", "-12|.5", 0},
      {NF::Standard, -1, 0, "-12.5|", "-", "12.5|", 0},
      {NF::Standard, -1, 0, "[12]", "-5", "-5|", 0},
      {NF::Scientific, -1, 0, "1.5E3|", "-", "1.5E-3|", 0},
      {NF::Scientific, -1, 0, "1.5E-3|", "-", "1.5E3|", 0},
      {NF::Standard, -1, 0, "|-5", "3", "-3|5", 0},
      {NF::Standard, -1, 0, "1|2.5", ".3", "12.3|5", 0},
      {NF::Standard, -1, 0, "1|2E3", ".", "12.|E3", 0},
      {NF::Standard, 2, 0, "1|23", ".", "1.|23", 0},
      {NF::Standard, -1, 0, "1|2E-5", "e", "12E-|5", 0},
      {NF::Standard, -1, 0, "12|", "E", "12E|", 0},
      {NF::Standard, -1, 0, "-0|.5", "7", "-7|.5", 0},
      {NF::Standard, -1, 0, "1E0|", "3", "1E3|", 0},
      {NF::Standard, -1, 0, "1E493|", "32", "1E4932|", 1},
      {NF::Thousands, 3, 11, "100.|245", "9", "100.9|45", 0},
      {NF::Thousands, 3, 11, "100.245|", "9", "100.245|", 1},
      {NF::Standard, 3, 0, "1.2|", "3", "1.23|", 0},
      {NF::Standard, -1, 0, "12|", "a +", "12|", 3},
      {NF::Standard, -1, 4, "12|", "3456", "1234|", 2},
      {NF::Standard, 1, 3, "1.|2", "5", "1.5|", 0},
      // deletion
      {NF::Standard, 3, 0, "100.2|45", "<", "100.|450", 0},
      {NF::Standard, 3, 0, "100.|245", ">", "100.|450", 0},
      {NF::Standard, -1, 0, "1.2|5", "<", "1.|5", 0},
      {NF::Standard, 3, 0, "100.|245", "<", "10|.245", 0},
      {NF::Standard, -1, 0, "-|5", "<", "|5", 0},
      {NF::Standard, -1, 0, "-|", "<", "|0", 0},
      {NF::Standard, -1, 0, "5|.25", "<", "0|.25", 0},
      {NF::Standard, -1, 0, "|5E3", ">", "0|E3", 0},
      {NF::Standard, -1, 0, "12|3", "<", "1|3", 0},
      {NF::Scientific, -1, 0, "5E3|", "<", "5E|0", 0},
      {NF::Standard, -1, 0, "5E3|", "<", "5E|", 0},
      {NF::Standard, -1, 0, "|12", "<", "|12", 0},
      {NF::Standard, -1, 0, "12|", ">", "12|", 0},
      {NF::Standard, 3, 0, "100.[24]5", "<", "100.|500", 0},
      {NF::Standard, -1, 0, "1[2.3]4", ">", "1|.4", 0},
      {NF::Thousands, 1, 0, "[-12.5]", ">", "0|.0", 0},
  };
  for (const KeyCase& c : cases) {
    field->setNumberFormat(c.format);
    field->setMaxLength(0);
    field->setDecimals(c.decimals);
    field->setMaxLength(c.maxLength);
    setState(c.before);
    beeps = 0;
    press(c.keys);
    EXPECT_EQ(state(), tx(c.after)) << c.before << " + " << c.keys;
    EXPECT_EQ(beeps, c.beeps) << c.before << " + " << c.keys;
  }
}

TEST_P(RealEditKeys, RegroupsOnKeyRelease) {
  const KeyCase cases[] = {
      {NF::Thousands, 0, 0, "1_234_567|", "8", "12_345_678|", 0},
      {NF::Thousands, 0, 0, "1_234_567|", "<", "123_456|", 0},
      {NF::Thousands, 0, 0, "1_|234_567", "<", "|234_567", 0},
      {NF::Thousands, 0, 0, "1|_234_567", "9", "19|_234_567", 0},
      {NF::Thousands, 0, 0, "1_2|34_567", "9", "12_9|34_567", 0},
      {NF::Thousands, 3, 0, "[0.000]", "1234567", "1_234_567|.000", 0},
      {NF::Thousands, 3, 11, "1_234.5|00", "-", "-1_234.5|00", 0},
  };
  for (const KeyCase& c : cases) {
    field->setNumberFormat(c.format);
    field->setMaxLength(0);
    field->setDecimals(c.decimals);
    field->setMaxLength(c.maxLength);
    setState(c.before);
    press(c.keys);
    EXPECT_EQ(state(), tx(c.after)) << c.before << " + " << c.keys;
  }
}

TEST_P(RealEditKeys, ClipboardLeavesSeparatorsOutAndPastesThroughTheRules) {
  QClipboard* clipboard = QGuiApplication::clipboard();
  field->setNumberFormat(NF::Thousands);
  field->setDecimals(3);
  field->setValue(1234567.5L);
  field->selectAll();
  QTest::keyClick(field, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), tx("1234567.500"));

  setState("1_23[4_5]67.500");
  QTest::keyClick(field, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), u"45");
  EXPECT_EQ(field->text(), tx("12_367.500"));

  // Blanks between the digit groups are no allowed character: one beep each.
  clipboard->setText(tx("1 234 567.25"));
  field->selectAll();
  beeps = 0;
  QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field->text(), tx("1_234_567.250"));
  EXPECT_EQ(beeps, 2);

  // The context menu's paste goes the same way.
  clipboard->setText(QStringLiteral("9x"));
  field->selectAll();
  beeps = 0;
  std::unique_ptr<QMenu> menu(field->createContextMenu());
  menu->findChild<QAction*>(QStringLiteral("edit-paste"))->trigger();
  EXPECT_EQ(field->text(), tx("9.000"));
  EXPECT_EQ(beeps, 1);
}

TEST_P(RealEditKeys, GarbagePasteLetsOnlyAllowedCharactersThrough) {
  const QString pool = QStringLiteral("0123456789-eE.,;: \t\n\u00A0abcxyz\u0416\u0436\u0415\u4E2D\u6587+");
  QString garbage;
  QRandomGenerator rng(418);
  for (int i = 0; i < 10000; ++i) garbage.append(pool[rng.bounded(int(pool.size()))]);
  for (int maxLength : {0, 11}) {
    field->setNumberFormat(NF::Standard);
    field->setDecimals(-1);
    field->setMaxLength(maxLength);
    field->selectAll();
    QGuiApplication::clipboard()->setText(garbage);
    field->paste();
    const QString allowed = QStringLiteral("0123456789-E") + GetParam().decimalSeparator;
    for (const QChar c : field->text()) EXPECT_TRUE(allowed.contains(c)) << int(c.unicode());
    if (maxLength > 0) {  // the signs are toggled, not typed: they may go beyond
      EXPECT_LE(field->text().size() - field->text().count(u'-'), maxLength);
    }
    EXPECT_TRUE(std::isfinite(field->value()));
  }
}

TEST_P(RealEditKeys, AutoSelectOnEntryAndOnTheFirstMousePress) {
  field->setValue(12.5L);
  other->setFocus();
  QTest::keyClick(other, Qt::Key_Backtab);
  ASSERT_TRUE(field->hasFocus());
  EXPECT_EQ(field->selectedText(), field->text());

  other->setFocus();
  const QPoint inside(field->width() / 2, field->height() / 2);
  QTest::mouseClick(field, Qt::LeftButton, {}, inside);
  ASSERT_TRUE(field->hasFocus());
  EXPECT_EQ(field->selectedText(), field->text());
  QTest::mouseClick(field, Qt::LeftButton, {}, inside);  // the second press places the caret
  EXPECT_FALSE(field->hasSelectedText());

  field->setAutoSelect(false);
  other->setFocus();
  field->setFocus(Qt::TabFocusReason);
  EXPECT_FALSE(field->hasSelectedText());
}

TEST_P(RealEditKeys, LeavingChecksTheLimits) {
  QSignalSpy exits(field, &TRealEdit::exited);
  field->setMaxValue(10);
  field->setMinValue(-10);
  field->setDecimals(1);
  enter();
  QTest::keyClicks(field, "7");
  other->setFocus();
  EXPECT_EQ(field->text(), tx("7.0"));
  EXPECT_EQ(exits.count(), 1);

  // With a handler only the handler runs: no clamp, no beep, no exit.
  int invalid = 0;
  field->setOnInvalidEntry([&] { ++invalid; });
  enter();
  QTest::keyClicks(field, "12");
  other->setFocus();
  EXPECT_EQ(invalid, 1);
  EXPECT_EQ(field->text(), tx("12.0"));
  EXPECT_EQ(beeps, 0);
  EXPECT_EQ(exits.count(), 1);

  // A popup menu or another window taking the focus is no leaving.
  for (Qt::FocusReason reason : {Qt::PopupFocusReason, Qt::ActiveWindowFocusReason}) {
    QFocusEvent out(QEvent::FocusOut, reason);
    QApplication::sendEvent(field, &out);
  }
  EXPECT_EQ(invalid, 1);
}

TEST_P(RealEditKeys, EnterClicksOnlyADefaultButton) {
  field->setFocus();
  QTest::keyClick(field, Qt::Key_Return);
  EXPECT_EQ(beeps, 1);

  auto* button = new QPushButton(QStringLiteral("OK"), window.get());
  button->setDefault(true);
  button->show();
  QSignalSpy clicks(button, &QPushButton::clicked);
  QTest::keyClick(field, Qt::Key_Enter);
  EXPECT_EQ(clicks.count(), 1);
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(field->hasFocus());
  EXPECT_EQ(field->selectedText(), field->text());
}

TEST_P(RealEditKeys, PropertySettersAcceptance) {
  field->setMinValue(5);  // above the maximum 0: refused
  EXPECT_EQ(field->minValue(), 0);
  field->setMaxValue(10);
  field->setMinValue(5);
  field->setMaxValue(3);   // below the minimum
  field->setMinValue(20);  // above the maximum
  EXPECT_EQ(field->minValue(), 5);
  EXPECT_EQ(field->maxValue(), 10);

  field->setValue(1.25L);
  const std::pair<int, int> decimals[] = {{20, 14}, {-5, -1}, {2, 2}};
  for (auto [set, got] : decimals) {
    field->setDecimals(set);
    EXPECT_EQ(field->decimals(), got);
  }
  EXPECT_EQ(field->text(), tx("1.25"));
  field->setMaxLength(5);
  field->setDecimals(4);
  EXPECT_EQ(field->decimals(), 3);
  EXPECT_EQ(field->text(), tx("1.250"));
  field->setNumberFormat(NF::Scientific);
  EXPECT_EQ(field->text(), tx("1.250E0"));
}

// The program loads Qt's Russian texts at start: the field's context menu speaks them.
TEST(FieldContextMenu, UsesQtsTranslatedTexts) {
  QTranslator russian;
  if (!russian.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    GTEST_SKIP() << "no qtbase_ru";
  QCoreApplication::installTranslator(&russian);
  TRealEdit field;
  std::unique_ptr<QMenu> menu(field.createContextMenu());
  QStringList texts;
  for (const QAction* a : menu->actions())
    if (!a->isSeparator()) texts << a->text().section(u'\t', 0, 0).remove(u'&');
  QCoreApplication::removeTranslator(&russian);
  EXPECT_EQ(texts.join(u'|'), QStringLiteral("Вырезать|Копировать|Вставить|Удалить|Выделить всё"));
}

INSTANTIATE_TEST_SUITE_P(RealLocales, RealEditKeys,
                         ::testing::Values(FormatSettings::russian(), FormatSettings::point()),
                         [](const auto& info) {
                           return info.param.decimalSeparator == u',' ? "Russian" : "Point";
                         });

}  // namespace
