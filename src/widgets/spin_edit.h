#pragma once
// The integer spin field the integer entry fields build on, and the small pieces of
// keyboard and focus handling that every entry field of this folder shares.

#include <QKeySequence>
#include <QLineEdit>
#include <functional>

class QKeyEvent;
class SpinButton;

// Shared by the entry fields of this folder.
namespace entryfield {

// Enter in an entry field: when the field's window has a visible, enabled push button marked
// as default among its direct children (one nested in a group or panel does not count), that
// button gets the focus and is clicked, then the focus returns to
// the field with its selection restored (or everything selected with autoSelect). False
// when the window has no default button; the caller beeps then.
bool clickDefaultButton(QLineEdit* field, bool autoSelect);

// Focus changes that count as the operator leaving (or entering) a field. A popup menu
// opening, or another window taking the activation, does not.
bool isFieldFocusChange(Qt::FocusReason reason);

// Keys that change a field's text without being a character: undo, redo, the word and
// line deletions, cut and paste.
bool isEditingShortcut(const QKeyEvent* e);

// Keys that only move the caret or the selection, copy, or select everything: all a field
// whose text cannot be edited still lets through.
bool isViewingKey(const QKeyEvent* e);

// AutoSelect: entering a field selects the whole text; entered by a mouse click, the
// first press selects everything again (the press itself would have placed the caret).
// Without it the caret and selection stay as they were, although QLineEdit selects all
// on Tab by itself: call beforeFocusIn before QLineEdit::focusInEvent and focusIn after.
class AutoSelectOnEntry {
 public:
  void beforeFocusIn(const QLineEdit* field);
  void focusIn(QLineEdit* field, Qt::FocusReason reason, bool autoSelect);
  void mousePressed(QLineEdit* field);

 private:
  bool selectOnPress_ = false;
  int caret_ = 0;
  int anchor_ = 0;
};

// A context menu entry of a numeric field: Qt's own text for the line edit's menu ("Cu&t",
// "&Copy", "&Paste", "Delete", "Select All"), in the language Qt's translation gives it, then
// a tab and key's shortcut when it has one.
QString fieldMenuText(const char* qtText, QKeySequence::StandardKey key);

// The numeric fields' context menu: cut, copy, paste and select all, with cut and paste
// going through the field's own rules. No undo/redo: the fields rewrite their text
// themselves, and an undo would walk back into texts the rules never allow.
struct FieldMenuActions {
  bool canEdit = true;          // false: cut and paste disabled (besides ReadOnly)
  std::function<void()> cut;    // empty: QLineEdit::cut
  std::function<void()> paste;  // empty: QLineEdit::paste
};
void execFieldMenu(QLineEdit* field, const QPoint& globalPos, const FieldMenuActions& actions);

}  // namespace entryfield

// The platform's integer spin field: a decimal text with a spin button at the right edge
// inside the frame, stepped by the button halves and the Up and Down keys.
class TSpinEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(int value READ value WRITE setValue NOTIFY valueChanged)
  Q_PROPERTY(int minValue READ minValue WRITE setMinValue)
  Q_PROPERTY(int maxValue READ maxValue WRITE setMaxValue)
  Q_PROPERTY(int increment READ increment WRITE setIncrement)
  Q_PROPERTY(bool editorEnabled READ editorEnabled WRITE setEditorEnabled)
  Q_PROPERTY(bool autoSelect READ autoSelect WRITE setAutoSelect)

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  // The text read as a decimal integer and clamped like setValue: the value every reader
  // sees, also while a value beyond the limits is being typed (the text stays as typed until
  // the field is left). Text that is no integer reads as minValue.
  int value() const;
  // Clamped into minValue..maxValue (unless the two are equal), written as decimal text.
  void setValue(int v);

  int minValue() const { return min_; }
  void setMinValue(int v);
  int maxValue() const { return max_; }
  void setMaxValue(int v);
  int increment() const { return increment_; }
  void setIncrement(int v) { increment_ = v; }
  // False: only the button and the arrow keys change the value.
  bool editorEnabled() const { return editorEnabled_; }
  void setEditorEnabled(bool on);
  bool autoSelect() const { return autoSelect_; }
  void setAutoSelect(bool on) { autoSelect_ = on; }

  // One step up (+1) or down (-1) by increment, clamped; a read-only field only beeps.
  void stepBy(int direction);
  int clamp(qint64 v) const;

  SpinButton* spinButton() const { return button_; }

 signals:
  // Whenever value() changes, typing included.
  void valueChanged(int value);

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

  // Enter and Return; the bare spin field just beeps.
  virtual void enterPressed();
  // Digits, signs and the decimal separator (which makes the text no integer, so it reads
  // as minValue; the platform field allowed it all the same).
  bool isAllowedChar(QChar c) const;

 private:
  // The text as typed, before clamping: what leaving the field and stepping work from.
  int typedValue() const;
  void checkValueChange();
  void placeButton();

  SpinButton* button_;
  int min_ = 0;
  int max_ = 0;
  int increment_ = 1;
  bool editorEnabled_ = true;
  bool autoSelect_ = true;
  int lastValue_ = 0;
  entryfield::AutoSelectOnEntry autoSelectOnEntry_;
};
