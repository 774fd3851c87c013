#include "rxview/rx_track_bar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <algorithm>

TTrackBar::TTrackBar(Qt::Orientation orientation, QWidget* parent) : QSlider(orientation, parent) {}

void TTrackBar::setSelection(int start, int end) {
  selStart_ = start;
  selEnd_ = end;
  update();
}

void TTrackBar::paintEvent(QPaintEvent* e) {
  QSlider::paintEvent(e);
  if (selStart_ > selEnd_) return;
  QStyleOptionSlider opt;
  initStyleOption(&opt);
  const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
  const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
  const bool horizontal = orientation() == Qt::Horizontal;
  const int handleLength = horizontal ? handle.width() : handle.height();
  const int span = (horizontal ? groove.width() : groove.height()) - handleLength;
  auto centre = [&](int value) {
    return (horizontal ? groove.left() : groove.top()) + handleLength / 2 +
           QStyle::sliderPositionFromValue(minimum(), maximum(), value, span, opt.upsideDown);
  };
  int a = centre(selStart_);
  int b = centre(selEnd_);
  if (a > b) std::swap(a, b);
  QPainter p(this);
  p.setPen(QPen(palette().color(QPalette::Highlight), 2));
  // Beside the groove, kept inside the slider however narrow the style makes it.
  if (horizontal) {
    const int y = std::min(groove.bottom() + 3, height() - 2);
    p.drawLine(a - 1, y, b + 1, y);
  } else {
    const int x = std::min(groove.right() + 3, width() - 2);
    p.drawLine(x, a - 1, x, b + 1);
  }
}
