// What only a real X11 session has: the primary selection a middle click pastes, and the
// X11 key scheme (Ctrl+D deletes, Ctrl+K cuts to the end). Skipped on other platforms; the
// suite runs them under Xvfb with a window manager.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QRegularExpression>
#include <QTest>
#include <QVBoxLayout>
#include <functional>

#include "widgets/bin_hex_edit.h"
#include "widgets/feedback.h"
#include "widgets/int_spin_edit.h"

namespace {

class X11Session : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "needs an X11 display";
    setBeepHandlerForTests([this] { ++beeps; });
    layout = new QVBoxLayout(&window);
  }
  void TearDown() override { setBeepHandlerForTests({}); }

  template <class Field>
  Field* add() {
    auto* f = new Field;
    layout->addWidget(f);
    return f;
  }
  bool showWindow() {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
  }
  // A middle click in the middle of the field; returns the caret the press placed.
  static int middleClick(QLineEdit* field, const QString& selection) {
    QGuiApplication::clipboard()->setText(selection, QClipboard::Selection);
    const QPoint at = field->rect().center();
    QTest::mousePress(field, Qt::MiddleButton, {}, at);
    const int caret = field->cursorPosition();
    QTest::mouseRelease(field, Qt::MiddleButton, {}, at);
    return caret;
  }

  QWidget window;
  QVBoxLayout* layout = nullptr;
  int beeps = 0;
};

TEST_F(X11Session, StepOnlyFieldIgnoresSelectionPasteAndTheX11EditingKeys) {
  auto* level = add<TIntSpinEdit>();
  level->setMaxValue(120);
  level->setMinValue(-120);
  level->setEditorEnabled(false);
  ASSERT_TRUE(showWindow());
  level->setFocus();
  struct Case {
    const char* what;
    std::function<void()> act;
  };
  const Case cases[] = {
      {"middle click", [&] { middleClick(level, "95"); }},
      {"Ctrl+D", [&] { QTest::keyClick(level, Qt::Key_D, Qt::ControlModifier); }},
      {"Ctrl+K", [&] { QTest::keyClick(level, Qt::Key_K, Qt::ControlModifier); }},
  };
  for (const Case& c : cases) {
    level->setValue(-20);
    level->setCursorPosition(1);
    c.act();
    EXPECT_EQ(level->text(), "-20") << c.what;
  }
  QTest::keyClick(level, Qt::Key_Up);
  EXPECT_EQ(level->text(), "-19");
}

// A middle click pastes at the caret its press placed, through the same rules as Ctrl+V.
TEST_F(X11Session, BinHexSelectionPasteFollowsTheTypingRules) {
  struct Case {
    BaseFormat format;
    const char* text;
    const char* selection;
    const char* shape;  // what any result must look like
  };
  const Case cases[] = {
      {BaseFormat::HexaDecimal, "$0000006C", "dfxyz", "^\\$[0-9A-F]{8}$"},
      {BaseFormat::Binary, "101", "1a1 0", "^[01]+$"},
      {BaseFormat::Number, "12", "3x-4 ", "^-?[0-9]+$"},
  };
  auto* field = add<TBinHexEdit>();
  auto* twin = add<TBinHexEdit>();  // the same paste through Ctrl+V's path
  ASSERT_TRUE(showWindow());
  for (const Case& c : cases) {
    for (TBinHexEdit* f : {field, twin}) {
      f->setBaseFormat(c.format);
      f->setText(c.text);
    }
    field->setFocus();
    const int caret = middleClick(field, c.selection);
    twin->setCursorPosition(caret);
    twin->pasteText(c.selection);
    EXPECT_EQ(field->text(), twin->text()) << c.text << " + " << c.selection;
    EXPECT_TRUE(QRegularExpression(c.shape).match(field->text()).hasMatch()) << field->text().toStdString();
  }
}

}  // namespace
