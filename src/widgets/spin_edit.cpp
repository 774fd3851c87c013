#include "widgets/spin_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <limits>

#include "base/number_text.h"
#include "widgets/feedback.h"
#include "widgets/spin_button.h"

using namespace entryfield;

namespace entryfield {

bool clickDefaultButton(QLineEdit* field, bool autoSelect) {
  QWidget* window = field->window();
  QPushButton* defaultButton = nullptr;
  for (QPushButton* b : window->findChildren<QPushButton*>(Qt::FindDirectChildrenOnly)) {
    if (b->isDefault() && b->isVisible() && b->isEnabled()) {
      defaultButton = b;
      break;
    }
  }
  if (!defaultButton) return false;

  // The selection as the operator left it; the caret may sit at either end of it.
  const int selStart = field->selectionStart();
  const int selLength = field->selectionLength();
  const int caret = field->cursorPosition();

  QPointer<QLineEdit> guard(field);
  defaultButton->setFocus(Qt::OtherFocusReason);
  defaultButton->click();
  if (!guard) return true;  // the button closed the window
  field->setFocus(Qt::OtherFocusReason);
  if (autoSelect)
    field->selectAll();
  else if (selLength > 0 && caret == selStart)
    field->setSelection(selStart + selLength, -selLength);
  else if (selLength > 0)
    field->setSelection(selStart, selLength);
  else
    field->setCursorPosition(caret);
  return true;
}

bool isFieldFocusChange(Qt::FocusReason reason) {
  return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason;
}

bool isEditingShortcut(const QKeyEvent* e) {
  static constexpr QKeySequence::StandardKey kEditing[] = {QKeySequence::Undo,
                                                           QKeySequence::Redo,
                                                           QKeySequence::Cut,
                                                           QKeySequence::Paste,
                                                           QKeySequence::DeleteEndOfWord,
                                                           QKeySequence::DeleteStartOfWord,
                                                           QKeySequence::DeleteEndOfLine,
                                                           QKeySequence::DeleteCompleteLine};
  return std::any_of(std::begin(kEditing), std::end(kEditing), [e](auto k) { return e->matches(k); });
}

bool isViewingKey(const QKeyEvent* e) {
  static constexpr QKeySequence::StandardKey kViewing[] = {
      QKeySequence::Copy,
      QKeySequence::SelectAll,
      QKeySequence::MoveToNextChar,
      QKeySequence::MoveToPreviousChar,
      QKeySequence::MoveToNextWord,
      QKeySequence::MoveToPreviousWord,
      QKeySequence::MoveToStartOfLine,
      QKeySequence::MoveToEndOfLine,
      QKeySequence::MoveToStartOfBlock,
      QKeySequence::MoveToEndOfBlock,
      QKeySequence::MoveToStartOfDocument,
      QKeySequence::MoveToEndOfDocument,
      QKeySequence::SelectNextChar,
      QKeySequence::SelectPreviousChar,
      QKeySequence::SelectNextWord,
      QKeySequence::SelectPreviousWord,
      QKeySequence::SelectStartOfLine,
      QKeySequence::SelectEndOfLine,
      QKeySequence::SelectStartOfBlock,
      QKeySequence::SelectEndOfBlock,
      QKeySequence::SelectStartOfDocument,
      QKeySequence::SelectEndOfDocument,
  };
  return std::any_of(std::begin(kViewing), std::end(kViewing), [e](auto k) { return e->matches(k); });
}

void AutoSelectOnEntry::beforeFocusIn(const QLineEdit* field) {
  caret_ = field->cursorPosition();
  anchor_ = caret_;
  if (field->hasSelectedText())
    anchor_ = caret_ == field->selectionStart() ? field->selectionEnd() : field->selectionStart();
}

void AutoSelectOnEntry::focusIn(QLineEdit* field, Qt::FocusReason reason, bool autoSelect) {
  selectOnPress_ = false;
  if (!isFieldFocusChange(reason)) return;
  if (!autoSelect) {
    if (anchor_ == caret_)
      field->setCursorPosition(caret_);
    else
      field->setSelection(anchor_, caret_ - anchor_);
    return;
  }
  field->selectAll();
  selectOnPress_ = reason == Qt::MouseFocusReason;
}

void AutoSelectOnEntry::mousePressed(QLineEdit* field) {
  if (!selectOnPress_) return;
  selectOnPress_ = false;
  field->selectAll();
}

QString fieldMenuText(const char* qtText, QKeySequence::StandardKey key) {
  const QString text = QCoreApplication::translate("QLineEdit", qtText);
  const QString keys = QKeySequence(key).toString(QKeySequence::NativeText);
  return keys.isEmpty() ? text : text + u'\t' + keys;
}

void execFieldMenu(QLineEdit* field, const QPoint& globalPos, const FieldMenuActions& actions) {
  const bool editable = !field->isReadOnly() && actions.canEdit;
  const bool selected = field->hasSelectedText();

  QMenu menu(field);
  QAction* cut = menu.addAction(fieldMenuText("Cu&t", QKeySequence::Cut));
  cut->setEnabled(editable && selected);
  QObject::connect(cut, &QAction::triggered, field, [field, &actions] {
    if (actions.cut)
      actions.cut();
    else
      field->cut();
  });
  QAction* copy = menu.addAction(fieldMenuText("&Copy", QKeySequence::Copy));
  copy->setEnabled(selected);
  QObject::connect(copy, &QAction::triggered, field, &QLineEdit::copy);
  QAction* paste = menu.addAction(fieldMenuText("&Paste", QKeySequence::Paste));
  paste->setEnabled(editable && !QGuiApplication::clipboard()->text().isEmpty());
  QObject::connect(paste, &QAction::triggered, field, [field, &actions] {
    if (actions.paste)
      actions.paste();
    else
      field->paste();
  });
  menu.addSeparator();
  QAction* all = menu.addAction(fieldMenuText("Select All", QKeySequence::SelectAll));
  all->setEnabled(!field->text().isEmpty());
  QObject::connect(all, &QAction::triggered, field, &QLineEdit::selectAll);
  menu.exec(globalPos);
}

}  // namespace entryfield

// ---------------------------------------------------------------------------------------------------------

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(parent), button_(new SpinButton(this)) {
  // Dropped text would bypass the character rules.
  setAcceptDrops(false);
  setTextMargins(0, 0, button_->sizeHint().width(), 0);
  resize(100, sizeHint().height());
  connect(button_, &SpinButton::step, this, &TSpinEdit::stepBy);
  connect(this, &QLineEdit::textChanged, this, &TSpinEdit::checkValueChange);
  lastValue_ = value();
  placeButton();
}

int TSpinEdit::value() const { return clamp(typedValue()); }

int TSpinEdit::typedValue() const {
  bool ok = false;
  const int v = text().toInt(&ok, 10);
  return ok ? v : min_;
}

int TSpinEdit::clamp(qint64 v) const {
  if (max_ != min_) {
    if (v < min_) return min_;
    if (v > max_) return max_;
  }
  return static_cast<int>(
      std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

void TSpinEdit::setValue(int v) {
  const QString t = QString::number(clamp(v));
  if (t != text()) setText(t);
}

void TSpinEdit::setMinValue(int v) {
  min_ = v;
  checkValueChange();  // text that is no integer reads as the minimum
}

void TSpinEdit::setMaxValue(int v) {
  max_ = v;
  checkValueChange();  // the value is clamped into the limits
}

void TSpinEdit::setEditorEnabled(bool on) {
  editorEnabled_ = on;
  // An input method would commit text past the key handling.
  setAttribute(Qt::WA_InputMethodEnabled, on);
}

void TSpinEdit::stepBy(int direction) {
  if (isReadOnly()) {
    beep();
    return;
  }
  setValue(clamp(qint64(typedValue()) + qint64(direction) * increment_));
}

void TSpinEdit::checkValueChange() {
  const int v = value();
  if (v == lastValue_) return;
  lastValue_ = v;
  emit valueChanged(v);
}

bool TSpinEdit::isAllowedChar(QChar c) const {
  return (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == appFormatSettings().decimalSeparator;
}

void TSpinEdit::enterPressed() { beep(); }

void TSpinEdit::keyPressEvent(QKeyEvent* e) {
  const int key = e->key();
  if (key == Qt::Key_Up || key == Qt::Key_Down) {
    stepBy(key == Qt::Key_Up ? 1 : -1);
    e->accept();
    return;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    enterPressed();
    e->accept();
    return;
  }
  // Ctrl+letter is a command, not a character (the platform sends it with its letter as text).
  const bool command = (e->modifiers() & Qt::ControlModifier) && !(e->modifiers() & Qt::AltModifier);
  if (!editorEnabled_) {
    // Only looking at the text is left: caret, selection, copy. Every other key QLineEdit
    // knows edits (Ctrl+D and Ctrl+K delete in the X11 key scheme).
    if (isViewingKey(e)) {
      QLineEdit::keyPressEvent(e);
      return;
    }
    const bool typing =
        !isEditingShortcut(e) && (key == Qt::Key_Backspace || key == Qt::Key_Delete ||
                                  e->matches(QKeySequence::Delete) || e->matches(QKeySequence::Backspace) ||
                                  (!command && !e->text().isEmpty() && e->text().front().isPrint()));
    if (typing) {
      beep();
      e->accept();
      return;
    }
    // Cut, paste, undo and the like are silently ignored, as the platform field did;
    // Escape and the function keys go on to the window.
    e->ignore();
    return;
  }
  if (!command) {
    for (QChar c : e->text()) {
      if (c.isPrint() && !isAllowedChar(c)) {
        beep();
        e->accept();
        return;
      }
    }
  }
  QLineEdit::keyPressEvent(e);
}

void TSpinEdit::focusInEvent(QFocusEvent* e) {
  autoSelectOnEntry_.beforeFocusIn(this);
  QLineEdit::focusInEvent(e);
  autoSelectOnEntry_.focusIn(this, e->reason(), autoSelect_);
}

void TSpinEdit::focusOutEvent(QFocusEvent* e) {
  QLineEdit::focusOutEvent(e);
  if (!isFieldFocusChange(e->reason())) return;
  const int v = typedValue();
  if (clamp(v) != v) setValue(v);
}

void TSpinEdit::mousePressEvent(QMouseEvent* e) {
  QLineEdit::mousePressEvent(e);
  autoSelectOnEntry_.mousePressed(this);
}

void TSpinEdit::mouseReleaseEvent(QMouseEvent* e) {
  // QLineEdit pastes the X11 primary selection on a middle click.
  if (e->button() == Qt::MiddleButton && !editorEnabled_) {
    e->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(e);
}

void TSpinEdit::inputMethodEvent(QInputMethodEvent* e) {
  if (!editorEnabled_) {
    e->ignore();
    return;
  }
  QLineEdit::inputMethodEvent(e);
}

void TSpinEdit::resizeEvent(QResizeEvent* e) {
  QLineEdit::resizeEvent(e);
  placeButton();
}

void TSpinEdit::contextMenuEvent(QContextMenuEvent* e) {
  FieldMenuActions actions;
  actions.canEdit = editorEnabled_;
  execFieldMenu(this, e->globalPos(), actions);
}

void TSpinEdit::placeButton() {
  // Inside the frame, full height, flush with the right edge; the text margin keeps the
  // text from running under it.
  const int frame = hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
  const int w = button_->sizeHint().width();
  button_->setGeometry(width() - frame - w, frame, w, std::max(0, height() - 2 * frame));
}
