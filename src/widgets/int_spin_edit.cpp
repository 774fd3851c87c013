#include "widgets/int_spin_edit.h"

#include "widgets/feedback.h"
#include "widgets/spin_button.h"

TIntSpinEdit::TIntSpinEdit(QWidget* parent) : TSpinEdit(parent) {
  setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void TIntSpinEdit::setFieldCursor(const QCursor& cursor) {
  setCursor(cursor);
  spinButton()->setCursor(cursor);
}

QString TIntSpinEdit::version() const { return QStringLiteral("1.0"); }

void TIntSpinEdit::enterPressed() {
  if (!entryfield::clickDefaultButton(this, autoSelect())) beep();
}
