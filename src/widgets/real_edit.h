#pragma once
// The real-number entry field: the value lives only in the text, every key goes through the
// field's own input rules (real_text_format.h), and the limits are enforced only when the
// operator leaves the field (and, in TRealSpinEdit, when stepping).

#include <QLineEdit>
#include <functional>

#include "widgets/real_text_format.h"

class QMenu;

class TRealEdit : public QLineEdit {
  Q_OBJECT
 public:
  explicit TRealEdit(QWidget* parent = nullptr);

  // The value every reader sees (the packet, the remote queries, the files, the scenes):
  // the text read with the application's separators. A value the operator is still typing is
  // kept within the limits, so it is never sent beyond them; the text itself stays as typed
  // until the field is left. A value set from code reads as set. Text that is no number reads as minValue (0 without limits). Without
  // limits, a number beyond the extended range reads as the largest finite value of its
  // sign. Setting formats the text and does not check the limits.
  long double value() const;
  void setValue(long double v);

  // Both 0: no limits. maxValue is accepted only if it differs and is not below minValue,
  // minValue only if it differs and is not above maxValue: set maxValue first.
  long double minValue() const { return min_; }
  void setMinValue(long double v);
  long double maxValue() const { return max_; }
  void setMaxValue(long double v);
  bool hasLimits() const { return min_ != 0 || max_ != 0; }

  // kFreeDecimals (-1) or 0..14; above 14 becomes 14, below -1 becomes -1, and with
  // maxLength() > 0 at most maxLength() - 2. Reformats the text.
  int decimals() const { return decimals_; }
  void setDecimals(int d);

  NumberFormat numberFormat() const { return format_; }
  void setNumberFormat(NumberFormat f);

  // Replaces the built-in reaction to a value outside the limits (clamp, beep, focus back).
  // An empty function restores the built-in reaction.
  const std::function<void()>& onInvalidEntry() const { return onInvalidEntry_; }
  void setOnInvalidEntry(std::function<void()> handler) { onInvalidEntry_ = std::move(handler); }

  static QString version() { return QStringLiteral("1.0"); }

  // Entering the field selects the whole text.
  bool autoSelect() const { return autoSelect_; }
  void setAutoSelect(bool on) { autoSelect_ = on; }

  // Hides QLineEdit's: 0 means no limit, and it bounds what the operator types only; a value
  // set from code is never cut (QLineEdit would cut it).
  int maxLength() const { return maxLength_; }
  void setMaxLength(int n) { maxLength_ = n < 0 ? 0 : n; }

  // The alignment is QLineEdit's, right by default; readOnly too.

  QSize sizeHint() const override;

  // The field's context menu (cut, copy, paste, delete, select all through the field's rules);
  // the caller owns it.
  QMenu* createContextMenu();

 public slots:
  // These hide QLineEdit's: copy and cut leave the thousands separators out, cut deletes by
  // the deletion rules, paste types the clipboard text character by character.
  void copy() const;
  void cut();
  void paste();

 signals:
  // The operator left the field with a value within the limits (textChanged is the change event).
  void exited();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;
  void changeEvent(QEvent* e) override;

  // Whether the operator may change the text by typing, deleting, cutting and pasting.
  virtual bool editable() const { return !isReadOnly(); }
  // Leaving the field, before the text is formatted again and the limits are checked.
  virtual void aboutToLeave() {}
  // Any key released (auto-repeat excluded).
  virtual void keyReleased() {}

  // Out-of-range reaction: onInvalidEntry, or clamp to the violated limit, beep and focus back.
  void invalidEntry();
  bool outsideLimits(long double v) const;
  // The text's number as read, +-infinity for one beyond the extended range.
  long double textValue() const;
  // The text's number as typed, which leaving the field and stepping work from: beyond the
  // limits as typed, a number beyond the extended range as the limit it violates (the
  // largest finite values without limits), text that is no number as 0 (see realTextValue).
  long double typedValue() const;
  FieldRules rules() const;

 private:
  FieldEdit currentEdit() const;
  void applyEdit(const FieldEdit& e);
  void typeText(QStringView text);
  void deleteSelected();
  void enterPressed();
  void updateMinimumHeight();

  long double min_ = 0;
  long double max_ = 0;
  int decimals_ = kFreeDecimals;
  NumberFormat format_ = NumberFormat::Standard;
  int maxLength_ = 0;
  bool autoSelect_ = true;
  bool inside_ = false;            // entered and not left yet (a popup does not leave)
  bool selectAllOnPress_ = false;  // entered by a mouse click: its press selects all again
  bool leaving_ = false;           // inside focusOutEvent: focus can only be taken back later
  std::function<void()> onInvalidEntry_;
};
