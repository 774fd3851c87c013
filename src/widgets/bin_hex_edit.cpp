#include "widgets/bin_hex_edit.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "widgets/dialogs.h"
#include "widgets/feedback.h"

using namespace entryfield;

namespace {

bool isDecimalDigit(QChar c) { return c >= u'0' && c <= u'9'; }

int hexDigitValue(QChar c) {
  if (isDecimalDigit(c)) return c.unicode() - u'0';
  if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c.unicode() - u'a' + 10;
  return -1;
}

}  // namespace

TBinHexEdit::TBinHexEdit(QWidget* parent) : QLineEdit(parent) {
  // Dropped text and an input method's commits would bypass the typing rules.
  setAcceptDrops(false);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setAlignment(Qt::AlignCenter);
  setText(formatHex(0));
}

QString TBinHexEdit::version() const { return QStringLiteral("1.0"); }

// ---------------------------------------------------------------------------------------------------------
// Texts of a value

QString TBinHexEdit::formatHex(qint32 v) {
  return u'$' + QStringLiteral("%1").arg(quint32(v), 8, 16, QChar(u'0')).toUpper();
}

QString TBinHexEdit::formatBinary(qint32 v) {
  // The unsigned view gives exactly the wanted forms: no leading zeros for a non-negative
  // value, all 32 digits for a negative one.
  return QString::number(quint32(v), 2);
}

qint32 TBinHexEdit::parseBinary(QStringView text) {
  if (text.isEmpty()) return 0;
  if (!std::all_of(text.begin(), text.end(), [](QChar c) { return c == u'0' || c == u'1'; })) return 0;
  quint32 bits = 0;
  for (QChar c : text.right(kBinaryDigits)) bits = (bits << 1) | (c == u'1' ? 1u : 0u);
  return qint32(bits);
}

std::optional<qint32> TBinHexEdit::parseInteger(QStringView text) {
  if (text.startsWith(u'$')) {
    const QStringView digits = text.mid(1);
    if (digits.isEmpty()) return std::nullopt;
    quint64 v = 0;
    for (QChar c : digits) {
      const int d = hexDigitValue(c);
      if (d < 0) return std::nullopt;
      v = v * 16 + quint64(d);
      if (v > std::numeric_limits<quint32>::max()) return std::nullopt;
    }
    return qint32(quint32(v));
  }
  bool negative = false;
  if (text.startsWith(u'-') || text.startsWith(u'+')) {
    negative = text.front() == u'-';
    text = text.mid(1);
  }
  if (text.isEmpty()) return std::nullopt;
  qint64 v = 0;
  for (QChar c : text) {
    if (!isDecimalDigit(c)) return std::nullopt;
    v = v * 10 + (c.unicode() - u'0');
    if (v > qint64(std::numeric_limits<qint32>::max()) + 1) return std::nullopt;
  }
  if (negative) v = -v;
  if (v < std::numeric_limits<qint32>::min() || v > std::numeric_limits<qint32>::max()) return std::nullopt;
  return qint32(v);
}

QString TBinHexEdit::format(qint32 v) const {
  switch (format_) {
    case BaseFormat::Number:
      return formatNumber(v);
    case BaseFormat::Binary:
      return formatBinary(v);
    case BaseFormat::HexaDecimal:
      break;
  }
  return formatHex(v);
}

qint32 TBinHexEdit::read(const QString& text) const {
  if (format_ == BaseFormat::Binary) return parseBinary(text);
  return parseInteger(text).value_or(0);
}

// ---------------------------------------------------------------------------------------------------------
// Properties

qint32 TBinHexEdit::asInteger() const { return read(text()); }

void TBinHexEdit::setAsInteger(qint32 v) {
  const QString t = format(v);
  if (t != text()) setText(t);
}

void TBinHexEdit::setAsBin(const QString& text) {
  const qint32 v = parseBinary(text);
  if (v != asInteger()) setAsInteger(v);
}

void TBinHexEdit::setAsHex(const QString& text) {
  const std::optional<qint32> v = parseInteger(text);
  if (v && *v != asInteger()) setAsInteger(*v);
}

void TBinHexEdit::setBaseFormat(BaseFormat f) {
  const qint32 v = asInteger();
  format_ = f;
  setAsInteger(v);
}

void TBinHexEdit::setMinValue(qint32 v) {
  if (v != min_ && v <= max_) min_ = v;
}

void TBinHexEdit::setMaxValue(qint32 v) {
  if (v != max_ && v >= min_) max_ = v;
}

// ---------------------------------------------------------------------------------------------------------
// Typing

void TBinHexEdit::resetToZero() {
  const QString t = format_ == BaseFormat::HexaDecimal ? QStringLiteral("$0") : QStringLiteral("0");
  setText(t);
  setSelection(t.size() - 1, 1);
}

// After each key: an emptied text becomes zero again, and a hexadecimal text that lost its
// "$" (Backspace, cut) gets it back, cut to the nine characters typing allows.
void TBinHexEdit::repairText() {
  if (isReadOnly()) return;
  const QString t = text();
  if (t.isEmpty()) {
    resetToZero();
  } else if (format_ == BaseFormat::HexaDecimal && !t.startsWith(u'$')) {
    const int caret = cursorPosition();
    setText((u'$' + t).left(kHexTextLength));
    setCursorPosition(std::min(caret + 1, kHexTextLength));
  }
}

// One hexadecimal or binary digit: replaces the selection, is inserted while the text is
// shorter than maxLength, and overwrites the next character once it is full. A leading "$"
// is never replaced or typed in front of.
void TBinHexEdit::typeDigit(QChar c, int maxLength, int firstEditable) {
  QString t = text();
  int pos = cursorPosition();
  if (hasSelectedText()) {
    const int start = std::max(selectionStart(), firstEditable);
    const int end = selectionStart() + selectionLength();
    if (end > start) t.remove(start, end - start);
    pos = start;
  }
  pos = std::max(pos, firstEditable);
  if (t.size() < maxLength)
    t.insert(pos, c);
  else if (pos < maxLength && pos < t.size())
    t[pos] = c;
  else
    return;
  setText(t);
  setCursorPosition(pos + 1);
}

// Decimal: "-" toggles the sign; a digit goes in only while the number stays an int32.
void TBinHexEdit::typeNumberChar(QChar c) {
  QString t = text();
  int pos = cursorPosition();
  auto fits = [](const QString& s) { return s.isEmpty() || s == u"-" || parseInteger(s).has_value(); };
  if (c == u'-') {
    if (t.startsWith(u'-')) {
      t.remove(0, 1);
      pos = std::max(0, pos - 1);
    } else {
      t.prepend(u'-');
      ++pos;
    }
    if (!fits(t)) return;  // -2147483648 has no positive counterpart
    setText(t);
    setCursorPosition(pos);
    return;
  }
  if (!isDecimalDigit(c)) return;
  if (hasSelectedText()) {
    t.remove(selectionStart(), selectionLength());
    pos = selectionStart();
  }
  pos = std::max(pos, t.startsWith(u'-') ? 1 : 0);
  t.insert(pos, c);
  if (!fits(t)) return;
  setText(t);
  setCursorPosition(pos + 1);
}

void TBinHexEdit::typeChar(QChar c) {
  switch (format_) {
    case BaseFormat::HexaDecimal:
      if (c == u'$') {
        resetToZero();
      } else if (hexDigitValue(c) >= 0) {
        const int first = text().startsWith(u'$') ? 1 : 0;
        typeDigit(c.toUpper(), kHexTextLength, first);
      }
      return;
    case BaseFormat::Binary:
      if (c == u'0' || c == u'1') typeDigit(c, kBinaryDigits, 0);
      return;
    case BaseFormat::Number:
      typeNumberChar(c);
      return;
  }
}

void TBinHexEdit::pasteText(const QString& text) {
  if (isReadOnly()) return;
  if (hasSelectedText()) del();
  for (QChar c : text) typeChar(c);
  repairText();
}

void TBinHexEdit::pasteClipboard() { pasteText(QGuiApplication::clipboard()->text()); }

void TBinHexEdit::cutSelection() {
  if (isReadOnly()) return;
  cut();
  repairText();
}

void TBinHexEdit::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    if (!clickDefaultButton(this, autoSelect_)) beep();
    e->accept();
    return;
  }
  if (e->matches(QKeySequence::Copy) || e->matches(QKeySequence::Cut) || key == Qt::Key_Backspace) {
    QLineEdit::keyPressEvent(e);  // ReadOnly is honoured there
    return;
  }
  if (e->matches(QKeySequence::Paste)) {
    pasteClipboard();
    e->accept();
    return;
  }
  if (key == Qt::Key_Delete || e->matches(QKeySequence::Delete)) {  // Ctrl+D in the X11 key scheme
    e->accept();
    if (isReadOnly()) return;
    const bool wholeSelected = hasSelectedText() && selectionLength() == text().size();
    const bool atDollar = !hasSelectedText() && cursorPosition() == 0 && text().startsWith(u'$');
    if (wholeSelected || atDollar)
      resetToZero();
    else
      QLineEdit::keyPressEvent(e);
    return;
  }
  if (isEditingShortcut(e)) {
    e->accept();  // undo and the word/line deletions would bypass the rules
    return;
  }
  const bool command = (e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier);
  const QString t = e->text();
  if (command || t.isEmpty() || !t.front().isPrint()) {
    QLineEdit::keyPressEvent(e);  // caret movement, selection, Escape for a dialog
    return;
  }
  e->accept();
  if (isReadOnly()) return;
  for (QChar c : t) typeChar(c);
}

void TBinHexEdit::keyReleaseEvent(QKeyEvent* e) {
  QLineEdit::keyReleaseEvent(e);
  repairText();
}

void TBinHexEdit::focusInEvent(QFocusEvent* e) {
  autoSelectOnEntry_.beforeFocusIn(this);
  QLineEdit::focusInEvent(e);
  autoSelectOnEntry_.focusIn(this, e->reason(), autoSelect_);
}

void TBinHexEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (!isFieldFocusChange(e->reason())) return;
  emit exited();
  if (min_ == 0 || max_ == 0) return;
  const qint32 v = asInteger();
  if (v >= min_ && v <= max_) return;
  // Reported once the focus change is complete: a message box opened in the middle of it
  // would take the activation from the widget that is just receiving the focus.
  QTimer::singleShot(0, this, [this] {
    if (onInvalidEntry_)
      onInvalidEntry_();
    else
      dialogs().warning(this, QStringLiteral("Invalid Entry"), QStringLiteral("Value out of range!"));
  });
}

void TBinHexEdit::mousePressEvent(QMouseEvent* e) {
  QLineEdit::mousePressEvent(e);
  autoSelectOnEntry_.mousePressed(this);
}

void TBinHexEdit::mouseReleaseEvent(QMouseEvent* e) {
  // A middle click pastes the X11 primary selection at the caret the press placed, through
  // the typing rules like Ctrl+V (QLineEdit would insert it as it is).
  if (e->button() == Qt::MiddleButton) {
    e->accept();
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->supportsSelection() || isReadOnly()) return;
    const QString selection = clipboard->text(QClipboard::Selection);
    deselect();
    pasteText(selection);
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

// Only reached when an input method is forced on: its commits are typed like keys.
void TBinHexEdit::inputMethodEvent(QInputMethodEvent* e) {
  e->accept();
  if (isReadOnly()) return;
  for (QChar c : e->commitString()) typeChar(c);
  repairText();
}

void TBinHexEdit::contextMenuEvent(QContextMenuEvent* e) {
  FieldMenuActions actions;
  actions.cut = [this] { cutSelection(); };
  actions.paste = [this] { pasteClipboard(); };
  execFieldMenu(this, e->globalPos(), actions);
}
