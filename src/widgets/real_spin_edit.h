#pragma once
// The real-number field with a spin button: stepping by the button halves and the Up/Down
// keys, accelerating while the steps follow each other closely, and an optional grid
// minValue + k * increment the value is kept on.

#include "widgets/real_edit.h"

class SpinButton;

class TRealSpinEdit : public TRealEdit {
  Q_OBJECT
 public:
  // Steps closer together than this accelerate.
  static constexpr qint64 kAccelerationMs = 201;

  explicit TRealSpinEdit(QWidget* parent = nullptr);

  // Accepted only if it differs and, with limits, is not larger than maxValue - minValue.
  // Resets the step; with roundValues the value goes onto the new grid.
  long double increment() const { return increment_; }
  void setIncrement(long double v);
  bool roundValues() const { return roundValues_; }
  void setRoundValues(bool on) { roundValues_ = on; }
  bool wrap() const { return wrap_; }
  void setWrap(bool on) { wrap_ = on; }
  // False: only stepping changes the value; typing, deleting, cut and paste are ignored.
  bool editorEnabled() const { return editorEnabled_; }
  void setEditorEnabled(bool on) { editorEnabled_ = on; }

  // The way every window sets up its fields: maxValue, minValue, decimals, increment,
  // roundValues, maxLength in this order, then Thousands, centred, no wrap.
  void configure(long double minValue, long double maxValue, int decimals, long double increment,
                 bool roundValues, int maxLength);

  // One step up (+1) or down (-1), as the button halves and the arrow keys do.
  void stepBy(int direction);
  // The step the next accelerated step starts from (read-only, for diagnostics and tests).
  long double currentStep() const { return step_; }

  SpinButton* spinButton() const { return button_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool event(QEvent* e) override;

  bool editable() const override { return editorEnabled_ && TRealEdit::editable(); }
  void aboutToLeave() override;
  void keyReleased() override { resetStep(); }

 private:
  void resetStep();
  void roundOntoGrid();
  void placeButton();

  SpinButton* button_ = nullptr;
  long double increment_ = 1;
  bool roundValues_ = false;
  bool wrap_ = false;
  bool editorEnabled_ = true;
  // Step state: the current step, the steps repeated in quick succession, the last one's time.
  long double step_ = 1;
  int repeats_ = 0;
  qint64 lastStepMs_ = 0;
  bool stepped_ = false;
};
