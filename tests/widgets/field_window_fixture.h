#pragma once
// A shown window with one entry field and a plain line edit to move the focus to, run in
// the separator settings of the test parameter, with beeps counted and a fake clock.
// Texts in tests are written with '.' for the decimal and '_' for the thousands separator.

#include "base/number_text.h"
#include "widgets/feedback.h"

#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <memory>

template <class Field>
class FieldWindowTest : public ::testing::TestWithParam<FormatSettings> {
 protected:
  void SetUp() override {
    savedSettings = appFormatSettings();
    setAppFormatSettings(GetParam());
    setBeepHandlerForTests([this] { ++beeps; });
    setClockForTests([this] { return now; });
    window = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window.get());
    field = new Field(window.get());
    other = new QLineEdit(window.get());
    layout->addWidget(field);
    layout->addWidget(other);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    other->setFocus();  // each test enters the field itself
  }
  void TearDown() override {
    window.reset();
    setAppFormatSettings(savedSettings);
    setBeepHandlerForTests({});
    setClockForTests({});
  }

  // The neutral text in the settings of the test.
  QString tx(const char* neutral) const {
    QString s = QString::fromUtf8(neutral);
    s.replace(u'.', GetParam().decimalSeparator).replace(u'_', GetParam().thousandSeparator);
    return s;
  }
  // Really entering the field (focus from elsewhere), so that autoSelect applies.
  void enter() {
    other->setFocus();
    field->setFocus(Qt::TabFocusReason);
  }

  FormatSettings savedSettings;
  std::unique_ptr<QWidget> window;
  Field* field = nullptr;
  QLineEdit* other = nullptr;
  int beeps = 0;
  qint64 now = 100000;  // ms, the fake clock
};
