#include "widgets/spin_button.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>

#include "widgets/feedback.h"

SpinButton::SpinButton(QWidget* parent) : QWidget(parent) {
  setObjectName(QString());
  setFocusPolicy(Qt::NoFocus);
  setCursor(Qt::ArrowCursor);
  resize(15, 17);
  // A coarse timer may fire up to 5 % early (a first repeat at 380 ms).
  repeatTimer_.setTimerType(Qt::PreciseTimer);
  repeatTimer_.setSingleShot(true);
  connect(&repeatTimer_, &QTimer::timeout, this, &SpinButton::repeat);
}

void SpinButton::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int h = height() / 2;
  const QRect up(0, 0, width(), h);
  const QRect down(0, h, width(), height() - h);
  for (int half : {1, -1}) {
    QStyleOptionButton opt;
    opt.initFrom(this);
    opt.rect = half > 0 ? up : down;
    // The application's palette, not the field's: a field whose text colour changes gets a new
    // palette each time, and the style caches its bevels under the palette's key, so every new
    // palette would leave new pixmaps in the cache for as long as the program runs.
    opt.palette = QApplication::palette(this);
    opt.state |= (pressed_ == half) ? QStyle::State_Sunken : QStyle::State_Raised;
    style()->drawControl(QStyle::CE_PushButtonBevel, &opt, &p, this);
    QStyleOption arrow;
    arrow.initFrom(this);
    arrow.rect = opt.rect.adjusted(3, 2, -3, -2);
    arrow.palette = opt.palette;
    style()->drawPrimitive(half > 0 ? QStyle::PE_IndicatorArrowUp : QStyle::PE_IndicatorArrowDown, &arrow, &p,
                           this);
  }
}

void SpinButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !isEnabled()) return;
  pressed_ = e->position().y() < height() / 2 ? 1 : -1;
  update();
  emit step(pressed_);
  nextStepMs_ = nowMs() + kFirstRepeatMs;
  repeatTimer_.start(kFirstRepeatMs);
}

void SpinButton::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  pressed_ = 0;
  repeatTimer_.stop();
  update();
}

void SpinButton::repeat() {
  if (pressed_ == 0) return;
  const qint64 now = nowMs();
  if (now < nextStepMs_) {  // woken early all the same: wait for the rest
    repeatTimer_.start(int(nextStepMs_ - now));
    return;
  }
  // Counted from now, so a late repeat does not bring the next one closer.
  nextStepMs_ = now + kRepeatMs;
  repeatTimer_.start(kRepeatMs);
  emit step(pressed_);
}
