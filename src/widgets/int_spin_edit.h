#pragma once
// Integer field with spin buttons: pulse counts (1..50), the synchronisation level
// (-120..120, stepped only) and the receive view's level (1..99).

#include <QCursor>

#include "widgets/spin_edit.h"

class TIntSpinEdit : public TSpinEdit {
  Q_OBJECT

 public:
  explicit TIntSpinEdit(QWidget* parent = nullptr);

  // The same cursor over the text and over the spin button.
  void setFieldCursor(const QCursor& cursor);
  QCursor fieldCursor() const { return cursor(); }

  QString version() const;

 protected:
  // Clicks the window's default push button and comes back; without one, beeps.
  void enterPressed() override;
};
