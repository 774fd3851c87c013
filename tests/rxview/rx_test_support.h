#pragma once
// Receive-view test helpers: generated buffers, a shown view beside a real control panel
// (the view reads the sync level from it), mouse events in chart pixels.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QTest>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "rxview/rx_chart.h"
#include "rxview/rx_draw_form.h"
#include "rxview/rx_track_bar.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"

namespace rxtest {

using Buffer = std::array<std::uint16_t, rx::kSamples>;

inline Buffer buffer(const std::function<double(int)>& sample) {
  Buffer b{};
  for (int n = 0; n < rx::kSamples; ++n) b[n] = std::uint16_t(std::clamp(std::lround(sample(n)), 0L, 65535L));
  return b;
}
inline Buffer flat(int count) {
  return buffer([count](int) { return count; });
}

// A trapezoid pulse of `counts` above 0 V (negative: below) over sample n0: a linear rise over
// `ramp` samples, `top` samples flat, a linear fall; Gaussian noise of `sigma` counts.
inline Buffer pulse(int n0, int ramp, int top, double counts, double sigma, std::mt19937& rng) {
  std::normal_distribution<double> noise(0, sigma);
  return buffer([&](int n) {
    const double t = n - n0;
    double shape = 0;
    if (t >= 0 && t < ramp)
      shape = t / ramp;
    else if (t >= ramp && t < ramp + top)
      shape = 1;
    else if (t >= ramp + top && t < 2 * ramp + top)
      shape = 1 - (t - ramp - top) / ramp;
    return rx::kZeroCount + counts * shape + (sigma > 0 ? noise(rng) : 0);
  });
}

// The control panel, made once: the view reads the sync level from it.
inline TMainForm& panel() {
  static TMainForm* form = new TMainForm;
  return *form;
}
inline void setSyncLevel(int level) { panel().SyncLevelPBSpinEdit->setValue(level); }

struct View {
  std::unique_ptr<TRxDrawForm> form;
  explicit View(bool shown = true) {
    panel();
    setAppFormatSettings(FormatSettings::russian());
    form = std::make_unique<TRxDrawForm>(&panel());
    if (shown) {
      form->show();
      EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
      form->RxBufferChart->replotNow();
    }
  }
  TRxDrawForm* operator->() const { return form.get(); }
  TChart* chart() const { return form->RxBufferChart; }
  // The page as the operator would pick it, with the page reaction.
  void page(int index) const {
    form->MesuarePageControl->setActivePageIndex(index);
    form->MesuarePageControlChange();
    chart()->replotNow();  // as the event loop would before the next mouse event
  }
  void show(const Buffer& b) const { form->ShowRxBuffer(b); }
  double traceY(int i) const { return form->Series1->y(i); }
  double traceX(int i) const { return form->Series1->x(i); }
  // Chart pixel of a value on the bottom and left axes, as last drawn.
  QPointF pixel(double t, double v) const {
    return {chart()->valueToPixel(ChartAxis::Bottom, t), chart()->valueToPixel(ChartAxis::Left, v)};
  }
};

// Sends a mouse event to the plot inside the chart (the chart's own pixels: it fills the chart).
inline void mouse(TChart* chart, QEvent::Type type, QPointF pos, Qt::MouseButton button,
                  Qt::MouseButtons buttons, Qt::KeyboardModifiers mods = {}) {
  QWidget* plot = chart->findChild<QWidget*>();
  const QPointF global = plot->mapToGlobal(pos);
  QMouseEvent e(type, pos, global, button, buttons, mods);
  QApplication::sendEvent(plot, &e);
}

}  // namespace rxtest
