// Binary/hex field: value texts, the typing rules per format, and the range check on leaving.

#include "widgets/bin_hex_edit.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <limits>
#include <ostream>
#include <vector>

#include "widgets/dialogs.h"
#include "widgets/feedback.h"

static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

constexpr qint32 kMin = std::numeric_limits<qint32>::min();
constexpr qint32 kMax = std::numeric_limits<qint32>::max();

struct Message {
  QString caption, text;
};

class RecordingDialogs final : public Dialogs {
 public:
  explicit RecordingDialogs(std::vector<Message>* log) : log_(log) {}
  void information(QWidget*, const QString& c, const QString& t) override { log_->push_back({c, t}); }
  void warning(QWidget*, const QString& c, const QString& t) override { log_->push_back({c, t}); }
  bool warningYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool confirmYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool informationYesNo(QWidget*, const QString&, const QString&) override { return false; }
  QString openFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString saveFile(QWidget*, const FileDialogRequest&) override { return {}; }

 private:
  std::vector<Message>* log_;
};

struct HexForm {
  QWidget window;
  TBinHexEdit* field = new TBinHexEdit;
  QLineEdit* other = new QLineEdit;

  explicit HexForm(BaseFormat format = BaseFormat::HexaDecimal) {
    field->setBaseFormat(format);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(field);
    layout->addWidget(other);
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus(Qt::OtherFocusReason);
  }
};

class BinHexEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setBeepHandlerForTests([this] { ++beeps; });
    installDialogs(std::make_unique<RecordingDialogs>(&messages));
  }
  void TearDown() override {
    installDialogs(nullptr);
    setBeepHandlerForTests({});
  }
  int beeps = 0;
  std::vector<Message> messages;
};

TEST_F(BinHexEditTest, ValueTextsInEachFormat) {
  struct Case {
    qint32 v;
    const char* hex;
    const char* bin;
  };
  const Case cases[] = {
      {0, "$00000000", "0"},
      {5, "$00000005", "101"},
      {-1, "$FFFFFFFF", "11111111111111111111111111111111"},
      {kMin, "$80000000", "10000000000000000000000000000000"},
      {kMax, "$7FFFFFFF", "1111111111111111111111111111111"},
      {-256, "$FFFFFF00", "11111111111111111111111100000000"},
  };
  TBinHexEdit e;
  EXPECT_EQ(e.text(), "$00000000");
  for (const Case& c : cases) {
    e.setBaseFormat(BaseFormat::HexaDecimal);
    e.setAsInteger(c.v);
    EXPECT_EQ(e.text(), c.hex);
    e.setBaseFormat(BaseFormat::Binary);
    EXPECT_EQ(e.text(), c.bin);
    e.setBaseFormat(BaseFormat::Number);
    EXPECT_EQ(e.text(), QString::number(c.v));
    EXPECT_EQ(e.asInteger(), c.v);
    EXPECT_EQ(e.asHex(), c.hex);
    EXPECT_EQ(e.asBin(), c.bin);
  }
}

TEST_F(BinHexEditTest, TextReadInTheCurrentFormat) {
  const QString ones32(32, u'1');
  struct Case {
    BaseFormat format;
    QString text;
    qint32 v;
  };
  const Case cases[] = {
      {BaseFormat::Binary, "101", 5},
      {BaseFormat::Binary, "1012", 0},
      {BaseFormat::Binary, "", 0},
      {BaseFormat::Binary, "$FF", 0},
      {BaseFormat::Binary, "1" + QString(32, u'0'), 0},  // the 33rd digit from the right is ignored
      {BaseFormat::Binary, "0" + ones32, -1},
      {BaseFormat::Binary, "1" + QString(31, u'0'), kMin},
      {BaseFormat::HexaDecimal, "$ff", 255},
      {BaseFormat::HexaDecimal, "$A", 10},
      {BaseFormat::HexaDecimal, "12", 12},  // no "$": decimal
      {BaseFormat::HexaDecimal, "$", 0},
      {BaseFormat::HexaDecimal, "$123456789", 0},
      {BaseFormat::Number, "-2147483648", kMin},
      {BaseFormat::Number, "2147483648", 0},
      {BaseFormat::Number, "$FFFFFFFF", -1},
      {BaseFormat::Number, "-", 0},
      {BaseFormat::Number, "1 2", 0},
  };
  TBinHexEdit e;
  for (const Case& c : cases) {
    e.setBaseFormat(c.format);
    e.setText(c.text);
    EXPECT_EQ(e.asInteger(), c.v) << c.text.toStdString();
  }
}

TEST_F(BinHexEditTest, SettersChangeTheValueOnlyWhenTheyReadOne) {
  TBinHexEdit e;
  e.setAsHex("$1F");
  EXPECT_EQ(e.text(), "$0000001F");
  e.setAsHex("-3");
  EXPECT_EQ(e.asInteger(), -3);
  for (const char* bad : {"", "$", "xyz", "2147483648", "$123456789"}) {
    e.setAsHex(bad);
    EXPECT_EQ(e.asInteger(), -3) << bad;
  }
  e.setAsBin("110");
  EXPECT_EQ(e.text(), "$00000006");
  e.setAsBin("12");  // not binary: reads as 0
  EXPECT_EQ(e.text(), "$00000000");

  // An equal value leaves a differently written text alone; setAsInteger normalises it.
  e.setText("$6");
  e.setAsBin("110");
  EXPECT_EQ(e.text(), "$6");
  e.setAsInteger(6);
  EXPECT_EQ(e.text(), "$00000006");
}

TEST_F(BinHexEditTest, LimitsAreTakenOnlyInOrder) {
  TBinHexEdit e;
  e.setMinValue(5);  // above the maximum 0: refused
  EXPECT_EQ(e.minValue(), 0);
  e.setMaxValue(100);
  e.setMinValue(5);
  EXPECT_EQ(e.minValue(), 5);
  e.setMaxValue(4);
  EXPECT_EQ(e.maxValue(), 100);
  e.setMinValue(101);
  EXPECT_EQ(e.minValue(), 5);
  e.setMaxValue(5);
  e.setMinValue(-7);
  EXPECT_EQ(e.maxValue(), 5);
  EXPECT_EQ(e.minValue(), -7);
}

TEST_F(BinHexEditTest, LeavingChecksTheRangeOnlyWithBothLimitsSet) {
  struct Case {
    qint32 min, max, value;
    bool reported;
  };
  const Case cases[] = {
      {0, 100, 500, false}, {1, 100, 500, true},  {1, 100, 0, true},     {1, 100, 100, false},
      {-10, -1, 0, true},   {-10, -1, -3, false}, {-10, -1, -10, false}, {0, 0, -5, false},
  };
  for (const Case& c : cases) {
    for (bool withHandler : {false, true}) {
      HexForm f;
      f.field->setMinValue(c.min);  // refused while above the maximum
      f.field->setMaxValue(c.max);
      f.field->setMinValue(c.min);
      f.field->setAsInteger(c.value);
      int handled = 0;
      if (withHandler) f.field->setOnInvalidEntry([&] { ++handled; });
      QSignalSpy exited(f.field, &TBinHexEdit::exited);
      messages.clear();

      QTest::keyClick(f.field, Qt::Key_Tab);
      QTest::qWait(0);
      EXPECT_EQ(exited.count(), 1);
      EXPECT_TRUE(f.other->hasFocus());
      EXPECT_EQ(f.field->asInteger(), c.value);
      const bool reported = withHandler ? handled == 1 : messages.size() == 1;
      EXPECT_EQ(reported, c.reported) << c.min << ".." << c.max << " value " << c.value;
      if (withHandler) {
        EXPECT_TRUE(messages.empty());
      }
      if (!withHandler && reported) {
        EXPECT_EQ(messages[0].caption, "Invalid Entry");
        EXPECT_EQ(messages[0].text, "Value out of range!");
      }
    }
  }
}

// Keys typed into a field holding `text` with the caret at `caret` (-1: everything selected).
struct TypingCase {
  BaseFormat format;
  QString text;
  int caret;
  QString keys;
  QString result;
  QString selected;
};

void runTyping(const TypingCase& c) {
  HexForm f(c.format);
  f.field->setText(c.text);
  if (c.caret < 0)
    f.field->selectAll();
  else
    f.field->setCursorPosition(c.caret);
  QTest::keyClicks(f.field, c.keys);
  EXPECT_EQ(f.field->text(), c.result) << c.text.toStdString() << " + " << c.keys.toStdString();
  EXPECT_EQ(f.field->selectedText(), c.selected) << c.text.toStdString() << " + " << c.keys.toStdString();
}

TEST_F(BinHexEditTest, HexTyping) {
  const BaseFormat h = BaseFormat::HexaDecimal;
  const TypingCase cases[] = {
      {h, "$00000012", 3, "$", "$0", "0"},        {h, "$00000012", 3, "$a", "$A", ""},
      {h, "$12", 3, "abcdef", "$12ABCDEF", ""},    // upper-cased, inserted up to 9 characters
      {h, "$12ABCDEF", 9, "7", "$12ABCDEF", ""},   // full, caret at the end: refused
      {h, "$00000000", 1, "f1", "$F1000000", ""},  // full: overwrites
      {h, "$00000000", 0, "9", "$90000000", ""},   // never the "$"
      {h, "$12", 0, "5", "$512", ""},
      {h, "$00000000", -1, "5", "$5", ""},         // the selection goes, the "$" stays
      {h, "$12", 3, "g xZ-", "$12", ""},           // dropped silently
  };
  for (const TypingCase& c : cases) runTyping(c);
  EXPECT_EQ(beeps, 0);
}

TEST_F(BinHexEditTest, BinaryAndNumberTyping) {
  const BaseFormat b = BaseFormat::Binary;
  const BaseFormat n = BaseFormat::Number;
  const QString zeros31(31, u'0');
  const TypingCase cases[] = {
      {b, "10", 2, "0121", "10011", ""},
      {b, "1" + zeros31, 32, "1", "1" + zeros31, ""},              // 32 digits, caret at the end
      {b, "1" + zeros31, 1, "11", "111" + QString(29, u'0'), ""},  // overwrite
      {n, "5", 1, "-", "-5", ""},
      {n, "-5", 2, "-", "5", ""},
      {n, "5", 0, "-7", "-75", ""},  // caret moves with the text
      {n, "214748364", 9, "7", "2147483647", ""},
      {n, "214748364", 9, "8", "214748364", ""},  // past int32: refused
      {n, "-214748364", 10, "8", "-2147483648", ""},
      {n, "-2147483648", 3, "-", "-2147483648", ""},  // no positive counterpart
      {n, "12", -1, "9a+.", "9", ""},
  };
  for (const TypingCase& c : cases) runTyping(c);
  EXPECT_EQ(beeps, 0);
}

TEST_F(BinHexEditTest, DeletionResetsToZeroWithTheDigitSelected) {
  struct Case {
    BaseFormat format;
    QString text;
    int caret;  // -1: everything selected
    Qt::Key key;
    QString result;
    QString selected;
  };
  const BaseFormat h = BaseFormat::HexaDecimal;
  const Case cases[] = {
      {h, "$00000012", 0, Qt::Key_Delete, "$0", "0"},
      {h, "$00000012", -1, Qt::Key_Delete, "$0", "0"},
      {h, "$00000012", -1, Qt::Key_Backspace, "$0", "0"},       // emptied: repaired on release
      {h, "$00000012", 1, Qt::Key_Backspace, "$00000012", ""},  // lost "$" comes back
      {h, "$00000012", 1, Qt::Key_Delete, "$0000012", ""},
      {BaseFormat::Binary, "101", -1, Qt::Key_Delete, "0", "0"},
      {BaseFormat::Number, "-45", -1, Qt::Key_Backspace, "0", "0"},
      {BaseFormat::Number, "-45", 0, Qt::Key_Delete, "45", ""},
  };
  for (const Case& c : cases) {
    HexForm f(c.format);
    f.field->setText(c.text);
    if (c.caret < 0)
      f.field->selectAll();
    else
      f.field->setCursorPosition(c.caret);
    QTest::keyClick(f.field, c.key);
    EXPECT_EQ(f.field->text(), c.result) << c.text.toStdString();
    EXPECT_EQ(f.field->selectedText(), c.selected) << c.text.toStdString();
  }
}

TEST_F(BinHexEditTest, PasteFeedsTheClipboardThroughTheTypingRules) {
  struct Case {
    BaseFormat format;
    QString text;
    QString clipboard;
    QString result;
  };
  const Case cases[] = {
      {BaseFormat::HexaDecimal, "$00000012", "$1f", "$1F"},
      {BaseFormat::HexaDecimal, "$00000012", "zz", "$0"},  // nothing taken, emptied text repaired
      {BaseFormat::Number, "77", "12 34", "1234"},
      {BaseFormat::Binary, "1", "10201", "1001"},
  };
  for (const Case& c : cases) {
    HexForm f(c.format);
    f.field->setText(c.text);
    f.field->selectAll();
    QApplication::clipboard()->setText(c.clipboard);
    QTest::keyClick(f.field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.field->text(), c.result) << c.clipboard.toStdString();
  }
}

// An input method is off; should one commit all the same, its text is typed like keys.
TEST_F(BinHexEditTest, InputMethodCommitsFollowTheTypingRules) {
  struct Case {
    BaseFormat format;
    const char* text;
    const char* commit;
    const char* result;
  };
  const Case cases[] = {
      {BaseFormat::HexaDecimal, "$", "1fzz", "$1F"},
      {BaseFormat::Number, "", "-12x", "-12"},
      {BaseFormat::Binary, "", "1021", "101"},
  };
  for (const Case& c : cases) {
    HexForm f(c.format);
    EXPECT_FALSE(f.field->testAttribute(Qt::WA_InputMethodEnabled));
    f.field->setText(c.text);
    QInputMethodEvent e;
    e.setCommitString(c.commit);
    QApplication::sendEvent(f.field, &e);
    EXPECT_EQ(f.field->text(), c.result) << c.commit;
  }
}

TEST_F(BinHexEditTest, ReadOnlyDropsEveryEdit) {
  HexForm f;
  f.field->setAsInteger(18);
  f.field->setReadOnly(true);
  QApplication::clipboard()->setText("$FF");
  f.field->setCursorPosition(0);
  QTest::keyClicks(f.field, "$1");
  QTest::keyClick(f.field, Qt::Key_Delete);
  f.field->selectAll();
  QTest::keyClick(f.field, Qt::Key_V, Qt::ControlModifier);
  QTest::keyClick(f.field, Qt::Key_Backspace);
  EXPECT_EQ(f.field->text(), "$00000012");
}

TEST_F(BinHexEditTest, EnterWithoutDefaultButtonBeeps) {
  HexForm f;
  QTest::keyClick(f.field, Qt::Key_Return);
  EXPECT_EQ(beeps, 1);
  EXPECT_TRUE(f.field->hasFocus());
  EXPECT_EQ(f.field->text(), "$00000000");
}

}  // namespace
