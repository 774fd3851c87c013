#include "widgets/real_edit.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

#include "widgets/feedback.h"
#include "widgets/spin_edit.h"

namespace {

// A popup menu opening or another window taking the activation is no leaving: the field's
// own context menu must not reformat and check it half-way through a paste.
bool isFieldFocusChange(Qt::FocusReason reason) {
  return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

bool isEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }

// Keys left to QLineEdit: they move the caret and the selection only.
bool isNavigationKey(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
      return true;
    default:
      return e->matches(QKeySequence::SelectAll);
  }
}

bool isCharacterKey(const QKeyEvent* e) {
  if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  const QString t = e->text();
  return !t.isEmpty() && t.front().isPrint();
}

}  // namespace

TRealEdit::TRealEdit(QWidget* parent) : QLineEdit(parent) {
  setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Every change of the text goes through the input rules: no drops, no input method.
  setAcceptDrops(false);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  updateMinimumHeight();
  resize(100, sizeHint().height());
  setValue(0);
}

long double TRealEdit::textValue() const { return realTextValue(text(), appFormatSettings()); }

long double TRealEdit::value() const {
  const std::optional<long double> read = parseFieldText(text(), appFormatSettings());
  if (!read) return min_;
  // Only a number the operator is typing is kept within the limits: a value set from code (a
  // scene applies its page's wider limits to the panel on purpose) is what the field shows and
  // what it sends. Setting the text clears the modified flag; leaving the field sets it.
  if (!hasLimits() || !isModified()) return typedValue();
  if (isBelow(*read, min_)) return min_;
  if (isAbove(*read, max_)) return max_;
  return *read;
}

long double TRealEdit::typedValue() const {
  const long double v = textValue();
  if (!std::isinf(v)) return v;
  if (hasLimits()) return v > 0 ? max_ : min_;
  return v > 0 ? std::numeric_limits<long double>::max() : std::numeric_limits<long double>::lowest();
}

void TRealEdit::setValue(long double v) {
  setText(realValueText(v, format_, decimals_, appFormatSettings()));
}

void TRealEdit::setMinValue(long double v) {
  if (v == min_ || v > max_) return;
  min_ = v;
}

void TRealEdit::setMaxValue(long double v) {
  if (v == max_ || v < min_) return;
  max_ = v;
}

void TRealEdit::setDecimals(int d) {
  d = std::clamp(d, kFreeDecimals, kMaxDecimals);
  if (maxLength_ > 0 && d > maxLength_ - 2) d = std::max(maxLength_ - 2, kFreeDecimals);
  const long double v = typedValue();
  decimals_ = d;
  setValue(v);
}

void TRealEdit::setNumberFormat(NumberFormat f) {
  const long double v = typedValue();
  format_ = f;
  setValue(v);
}

QSize TRealEdit::sizeHint() const { return {100, std::max(QLineEdit::sizeHint().height(), minimumHeight())}; }

bool TRealEdit::outsideLimits(long double v) const {
  return hasLimits() && (isBelow(v, min_) || isAbove(v, max_));
}

FieldRules TRealEdit::rules() const { return {format_, decimals_, maxLength_, appFormatSettings()}; }

FieldEdit TRealEdit::currentEdit() const {
  FieldEdit e;
  e.text = text();
  e.moveCaret(cursorPosition());
  if (hasSelectedText()) e.anchor = e.cursor == selectionStart() ? selectionEnd() : selectionStart();
  return e;
}

void TRealEdit::applyEdit(const FieldEdit& e) {
  if (e.text != text()) {
    setText(e.text);
    setModified(true);  // the operator's edit: value() keeps it within the limits
  }
  if (e.hasSelection())
    setSelection(e.anchor, e.cursor - e.anchor);
  else
    setCursorPosition(e.cursor);
}

void TRealEdit::typeText(QStringView chars) {
  FieldEdit e = currentEdit();
  const FieldRules r = rules();
  for (const QChar c : chars)
    if (!typeChar(e, c, r)) beep();
  applyEdit(e);
}

// ---------------------------------------------------------------------------------------------------------
// Keys

void TRealEdit::keyPressEvent(QKeyEvent* e) {
  if (e->matches(QKeySequence::Copy)) {
    copy();
    return;
  }
  if (e->matches(QKeySequence::Cut)) {
    cut();
    return;
  }
  if (e->matches(QKeySequence::Paste)) {
    paste();
    return;
  }
  if (isNavigationKey(e)) {
    QLineEdit::keyPressEvent(e);
    return;
  }
  const int key = e->key();
  const bool deletion = key == Qt::Key_Backspace || key == Qt::Key_Delete;
  if (!isEnterKey(key) && !deletion && !isCharacterKey(e)) {
    // Escape, function keys, Ctrl combinations: for the window. QLineEdit's own editing
    // keys (undo, Ctrl+K and the like) would bypass the rules.
    e->ignore();
    return;
  }
  e->accept();
  if (!editable()) return;
  if (isEnterKey(key)) {
    enterPressed();
  } else if (deletion) {
    FieldEdit ed = currentEdit();
    deleteKey(ed, key == Qt::Key_Backspace, rules());
    applyEdit(ed);
  } else {
    typeText(e->text());
  }
}

void TRealEdit::keyReleaseEvent(QKeyEvent* e) {
  QLineEdit::keyReleaseEvent(e);
  // A held key repeats as press/release pairs here; only the real release counts.
  if (e->isAutoRepeat()) return;
  keyReleased();
  if (!editable()) return;
  FieldEdit ed = currentEdit();
  if (regroup(ed, isEnterKey(e->key()) || e->key() == Qt::Key_Space, rules())) applyEdit(ed);
}

// No window of the program has a default button, so in practice Enter beeps.
void TRealEdit::enterPressed() {
  QPushButton* button = nullptr;
  for (QPushButton* b : window()->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    if (b->isDefault()) {
      button = b;
      break;
    }
  }
  if (!button) {
    beep();
    return;
  }
  const FieldEdit saved = currentEdit();
  const QPointer<TRealEdit> self(this);
  button->setFocus(Qt::OtherFocusReason);
  button->click();
  if (!self) return;
  setFocus(Qt::OtherFocusReason);
  if (autoSelect_) {
    selectAll();
    return;
  }
  // Leaving may have reformatted the text: keep the old caret and selection inside it.
  FieldEdit back = saved;
  back.text = text();
  back.cursor = std::min(back.cursor, int(back.text.size()));
  back.anchor = std::min(back.anchor, int(back.text.size()));
  applyEdit(back);
}

// ---------------------------------------------------------------------------------------------------------
// Focus and mouse

// Entering: the first focus since the field was last left. A window's first activation
// enters its focus field; coming back from a popup or another window does not.
void TRealEdit::focusInEvent(QFocusEvent* e) {
  QLineEdit::focusInEvent(e);
  if (inside_) return;
  inside_ = true;
  if (!autoSelect_) {
    deselect();  // QLineEdit selects all on Tab by itself
    return;
  }
  selectAll();
  selectAllOnPress_ = e->reason() == Qt::MouseFocusReason;
}

void TRealEdit::focusOutEvent(QFocusEvent* e) {
  selectAllOnPress_ = false;
  QLineEdit::focusOutEvent(e);
  if (!isFieldFocusChange(e->reason())) return;
  inside_ = false;
  leaving_ = true;
  // A number beyond the extended range lies beyond either limit: it goes straight to the
  // invalid-entry reaction, which shows the limit (rounding it first could move it off).
  if (!std::isinf(textValue()) || !hasLimits()) {
    aboutToLeave();
    setValue(typedValue());
  }
  if (outsideLimits(textValue()))
    invalidEntry();
  else
    emit exited();
  leaving_ = false;
}

void TRealEdit::invalidEntry() {
  if (onInvalidEntry_) {
    onInvalidEntry_();
    return;
  }
  const long double v = textValue();
  if (hasLimits()) {
    if (isBelow(v, min_))
      setValue(min_);
    else if (isAbove(v, max_))
      setValue(max_);
  }
  beep();
  // Taking the focus back from inside its own focus-out would fight the focus change still
  // in progress: wait for the event loop.
  if (leaving_)
    QTimer::singleShot(0, this, [this] { setFocus(Qt::OtherFocusReason); });
  else
    setFocus(Qt::OtherFocusReason);
}

void TRealEdit::mousePressEvent(QMouseEvent* e) {
  QLineEdit::mousePressEvent(e);
  if (!selectAllOnPress_) return;
  selectAllOnPress_ = false;
  selectAll();
}

void TRealEdit::mouseReleaseEvent(QMouseEvent* e) {
  // QLineEdit would insert the X11 selection on a middle click, past the input rules.
  if (e->button() == Qt::MiddleButton) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (editable() && clipboard->supportsSelection()) typeText(clipboard->text(QClipboard::Selection));
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

void TRealEdit::changeEvent(QEvent* e) {
  QLineEdit::changeEvent(e);
  if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) updateMinimumHeight();
}

// Font height plus the frame and QLineEdit's one-pixel inner margins.
void TRealEdit::updateMinimumHeight() {
  const int frame = hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
  setMinimumHeight(fontMetrics().height() + 2 * frame + 2);
}

// ---------------------------------------------------------------------------------------------------------
// Clipboard and context menu

void TRealEdit::copy() const {
  if (!hasSelectedText()) return;
  QGuiApplication::clipboard()->setText(withoutThousands(selectedText(), appFormatSettings()));
}

void TRealEdit::cut() {
  if (!editable() || !hasSelectedText()) return;
  copy();
  deleteSelected();
}

// The menu actions are followed by no key release: they regroup at once.
void TRealEdit::deleteSelected() {
  if (!editable()) return;
  FieldEdit e = currentEdit();
  const FieldRules r = rules();
  deleteSelection(e, r);
  regroup(e, false, r);
  applyEdit(e);
}

void TRealEdit::paste() {
  if (!editable()) return;
  FieldEdit e = currentEdit();
  const FieldRules r = rules();
  deleteSelection(e, r);
  const QString clip = QGuiApplication::clipboard()->text();
  for (const QChar c : clip)
    if (!typeChar(e, c, r)) beep();
  regroup(e, false, r);
  applyEdit(e);
}

QMenu* TRealEdit::createContextMenu() {
  auto* menu = new QMenu(this);
  const bool selected = hasSelectedText();
  const bool canEdit = editable();
  auto add = [&](const char* qtText, QKeySequence::StandardKey key, const char* name, bool enabled,
                 auto slot) {
    QAction* a = menu->addAction(entryfield::fieldMenuText(qtText, key));
    a->setObjectName(QLatin1String(name));
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, slot);
  };
  add("Cu&t", QKeySequence::Cut, "edit-cut", selected && canEdit, [this] { cut(); });
  add("&Copy", QKeySequence::Copy, "edit-copy", selected, [this] { copy(); });
  add("&Paste", QKeySequence::Paste, "edit-paste", canEdit && !QGuiApplication::clipboard()->text().isEmpty(),
      [this] { paste(); });
  add("Delete", QKeySequence::UnknownKey, "edit-delete", selected && canEdit, [this] { deleteSelected(); });
  menu->addSeparator();
  add("Select All", QKeySequence::SelectAll, "select-all", !text().isEmpty(), [this] { selectAll(); });
  return menu;
}

void TRealEdit::contextMenuEvent(QContextMenuEvent* e) {
  QMenu* menu = createContextMenu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(e->globalPos());
}
