#include "widgets/real_spin_edit.h"

#include <QKeyEvent>
#include <QStyle>
#include <algorithm>
#include <cmath>

#include "widgets/feedback.h"
#include "widgets/spin_button.h"

TRealSpinEdit::TRealSpinEdit(QWidget* parent) : TRealEdit(parent) {
  button_ = new SpinButton(this);
  // The text stops short of the button.
  setTextMargins(0, 0, button_->sizeHint().width(), 0);
  connect(button_, &SpinButton::step, this, [this](int direction) {
    // Pressing the button is entering the field, like clicking into it: the field takes the
    // focus first (which may make the previous field exit).
    if (!hasFocus() && focusPolicy() != Qt::NoFocus) setFocus(Qt::OtherFocusReason);
    stepBy(direction);
  });
  placeButton();
}

void TRealSpinEdit::setIncrement(long double v) {
  if (v == increment_) return;
  if (hasLimits() && v > maxValue() - minValue()) return;
  increment_ = v;
  step_ = v;
  if (roundValues_) roundOntoGrid();
}

void TRealSpinEdit::configure(long double minValue, long double maxValue, int decimals, long double increment,
                              bool roundValues, int maxLength) {
  setMaxValue(maxValue);
  setMinValue(minValue);
  setDecimals(decimals);
  setIncrement(increment);
  setRoundValues(roundValues);
  setMaxLength(maxLength);
  setNumberFormat(NumberFormat::Thousands);
  setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  setWrap(false);
}

void TRealSpinEdit::resetStep() {
  step_ = increment_;
  repeats_ = 0;
}

void TRealSpinEdit::roundOntoGrid() {
  setValue(roundToGrid(typedValue(), minValue(), maxValue(), increment_, hasLimits()));
}

void TRealSpinEdit::stepBy(int direction) {
  if (isReadOnly()) {
    beep();
    return;
  }
  // Acceleration: each second step in quick succession after the fourth adds one increment,
  // until the step reaches a fifth of the range (no limits: no acceleration).
  const qint64 now = nowMs();
  if (stepped_ && now - lastStepMs_ < kAccelerationMs) {
    if (isBelow(step_, (maxValue() - minValue()) / 5)) {
      ++repeats_;
      if (repeats_ > 4 && repeats_ % 2 == 0) step_ += increment_;
    }
  } else {
    resetStep();
  }
  lastStepMs_ = now;
  stepped_ = true;

  const long double v = typedValue();
  const bool limits = hasLimits();
  const long double scale = std::max(std::fabs(v), std::fabs(step_));
  if (direction > 0) {
    if (limits && isBelow(v, minValue())) {
      invalidEntry();
    } else if (!limits || !isAbove(v + step_, maxValue(), scale)) {
      setValue(v + step_);
    } else if (wrap_) {
      setValue(minValue());
    } else if (!isAbove(v + increment_, maxValue(), scale)) {
      // Near the top an accelerated step falls back to one increment.
      step_ = increment_;
      setValue(v + increment_);
    } else {
      invalidEntry();  // within the limits already: only the beep
    }
  } else {
    if (limits && isAbove(v, maxValue())) {
      invalidEntry();
    } else if (!limits || !isBelow(v - step_, minValue(), scale)) {
      setValue(v - step_);
    } else if (wrap_) {
      setValue(maxValue());
    } else if (!isBelow(v - increment_, minValue(), scale)) {
      step_ = increment_;
      setValue(v - increment_);
    } else {
      invalidEntry();
    }
  }
  if (roundValues_) roundOntoGrid();
}

void TRealSpinEdit::aboutToLeave() {
  // Only with roundValues, also for a field without limits (none of the windows has one):
  // a field that does not ask for the grid keeps what was typed.
  if (roundValues_ && !outsideLimits(typedValue())) roundOntoGrid();
}

void TRealSpinEdit::keyPressEvent(QKeyEvent* e) {
  if ((e->key() == Qt::Key_Up || e->key() == Qt::Key_Down) &&
      !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    stepBy(e->key() == Qt::Key_Up ? 1 : -1);
    return;
  }
  TRealEdit::keyPressEvent(e);
}

void TRealSpinEdit::resizeEvent(QResizeEvent* e) {
  TRealEdit::resizeEvent(e);
  placeButton();
}

bool TRealSpinEdit::event(QEvent* e) {
  // The field's cursor applies to its button as well.
  if (e->type() == QEvent::CursorChange && button_) button_->setCursor(cursor());
  return TRealEdit::event(e);
}

// Right edge inside the frame, full height.
void TRealSpinEdit::placeButton() {
  const int frame = hasFrame() ? style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this) : 0;
  const int w = button_->sizeHint().width();
  button_->setGeometry(width() - frame - w, frame, w, height() - 2 * frame);
}
