// The receive view's window, trace, sliders, pages, zoom and scrolling.

#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <cmath>

#include "rx_test_support.h"
#include "support/recording_dialogs.h"

namespace {

using rxtest::View;

// What the form-state walker stores, depth first in creation order.
void storedControls(const QObject* o, QStringList& out) {
  for (const QObject* c : o->children()) {
    if (qobject_cast<const QLineEdit*>(c) || qobject_cast<const QCheckBox*>(c) ||
        qobject_cast<const QSlider*>(c) || qobject_cast<const TRadioGroup*>(c) ||
        qobject_cast<const TPageControl*>(c))
      out << c->objectName();
    storedControls(c, out);
  }
}

QString storedValue(const QObject* c) {
  if (auto* s = qobject_cast<const TIntSpinEdit*>(c)) return QString::number(s->value());
  if (auto* e = qobject_cast<const QLineEdit*>(c)) return e->text();
  if (auto* b = qobject_cast<const QCheckBox*>(c)) return b->isChecked() ? "1" : "0";
  if (auto* s = qobject_cast<const QSlider*>(c)) return QString::number(s->value());
  if (auto* g = qobject_cast<const TRadioGroup*>(c)) return QString::number(g->itemIndex());
  if (auto* p = qobject_cast<const TPageControl*>(c)) return QString::number(p->activePageIndex());
  return "?";
}

TEST(RxView, StoredControlsInSectionOrderWithDesignValues) {
  View v(false);
  const QStringList expected = {
      "DrawCheckBox=1",     "WidthTrackBar=48",        "RangeRadioGroup=0",
      "R50CheckBox=0",      "MesuarePageControl=2",    "ChooseMarkerRadioGroup=0",
      "A1_Edit=  ??? В",    "T1_Edit=  ??? мкс",       "A2_Edit=  ??? В",
      "T2_Edit=  ??? мкс",  "DA_Edit=  ??? В",         "DT_Edit=  ??? мкс",
      "LevelPBSpinEdit=50", "MaxCheckBox=1",           "MaxSignalEdit=  ??? В",
      "WidthCheckBox=1",    "WidthSignalEdit=??? мкс", "VertTrackBar=0",
  };
  QStringList names;
  storedControls(v.form.get(), names);
  QStringList got;
  for (const QString& n : names) got << n + "=" + storedValue(v->findChild<QObject*>(n));
  EXPECT_EQ(got, expected);
  // The order holds whatever page is shown (a tab widget reorders its pages when they change).
  for (int page : {0, 1, 2}) {
    v->MesuarePageControl->setActivePageIndex(page);
    QStringList again;
    storedControls(v.form.get(), again);
    EXPECT_EQ(again, names) << page;
  }
  EXPECT_EQ(v->objectName(), "RxDrawForm");
  EXPECT_EQ(v->MesuarePageControl->pageCaption(0), "Маркеры");
  EXPECT_EQ(v->MesuarePageControl->pageCaption(1), "Импульс");
  EXPECT_EQ(v->MesuarePageControl->pageCaption(2), "Zoom");
  EXPECT_EQ(v->VertTrackBar->minimum(), -40);
  EXPECT_EQ(v->VertTrackBar->maximum(), 40);
  EXPECT_EQ(v->LevelPBSpinEdit->minValue(), 1);
  EXPECT_EQ(v->LevelPBSpinEdit->maxValue(), 99);
  EXPECT_EQ(v->Timer->interval(), 50);
  EXPECT_EQ(v.chart()->axisTitle(ChartAxis::Left), "В");
  EXPECT_EQ(v.chart()->axisTitle(ChartAxis::Bottom), "мкс");
  EXPECT_EQ(v.chart()->axisLabel(ChartAxis::Bottom, 1234.5), QStringLiteral("1\u00A0234,5"));
}

TEST(RxView, PlacedBesideThePanelAndLoadsItsSectionBeforeTheTraceExists) {
  int seriesPointsAtLoad = -1;
  TRxDrawForm::loadOwnSection = [&](QWidget* w) {
    auto* f = static_cast<TRxDrawForm*>(w);
    seriesPointsAtLoad = f->Series1->count();
    f->WidthTrackBar->setValue(0);  // no redraw yet: the window is still being made
    f->RangeRadioGroup->setItemIndex(2);
  };
  View v(false);
  TRxDrawForm::loadOwnSection = nullptr;
  EXPECT_EQ(seriesPointsAtLoad, 0);
  EXPECT_EQ(v->pos(),
            QPoint(rxtest::panel().x() + rxtest::panel().frameGeometry().width() + 2, rxtest::panel().y()));
  EXPECT_EQ(v->rangeCode(), 3);
  EXPECT_EQ(v->voltsPerCount(), 50.0 / 256);  // the zoom reset at the end of creation
  // Not redrawn: the start-up trace runs from 0 in 5 ns steps.
  EXPECT_EQ(v.traceX(0), 0);
  EXPECT_EQ(v.traceX(4095), 4095 * 0.005);
  v->WidthTrackBar->setValue(1);  // now it redraws
  EXPECT_DOUBLE_EQ(v.traceX(0), -0.16);
}

TEST(RxView, TraceScaleOffsetAndAxesByRange) {
  struct Case {
    int range, count, offset;
    double point0, smoothed, axis;
  };
  const double g = 1.0216;
  const Case cases[] = {
      {0, 255, 7, -7, -7, 304.6875},                        // flat: -offset everywhere
      {0, 355, 0, 117.1875, 100 * g * 1.171875, 304.6875},  // 119.72 V, point 0 unsmoothed
      {1, 355, 0, 58.59375, 100 * g * 0.5859375, 152.34375},
      {2, 355, 0, 58.59375, 100 * g * 0.5859375, 50.78125},  // "50В": 3 k per count
      {2, 355, -3, 61.59375, 100 * g * 0.5859375 + 3, 50.78125},
  };
  for (const Case& c : cases) {
    View v;
    v->RangeRadioGroup->setItemIndex(c.range);
    v->VertTrackBar->setValue(c.offset);
    v.show(rxtest::flat(c.count));
    EXPECT_DOUBLE_EQ(v.traceY(0), c.point0) << c.count;
    for (int i = 1; i < 48; ++i) ASSERT_NEAR(v.traceY(i), c.smoothed, 1e-9) << i;
    for (ChartAxis a : {ChartAxis::Left, ChartAxis::Right}) {
      EXPECT_EQ(v.chart()->axisMinimum(a), -c.axis);
      EXPECT_EQ(v.chart()->axisMaximum(a), c.axis);
    }
  }
}

TEST(RxView, WidthSliderEndsAndSyncArrow) {
  struct Case {
    int width, sync, range;
    double lastShown, end, arrowX, arrowY;
  };
  const Case cases[] = {
      {0, 10, 0, 0.075, 0.08, -0.075, 10 * 2 * 1.171875},
      {99, 10, 0, 19.875, 19.88, -0.57, 10 * 2 * 1.171875},
      {48, -10, 2, 9.675, 9.68, -0.315, -10 * 2 * 0.1953125 * 3},
  };
  for (const Case& c : cases) {
    View v;
    rxtest::setSyncLevel(c.sync);
    v->RangeRadioGroup->setItemIndex(c.range);
    v->WidthTrackBar->setValue(c.width);
    v.show(rxtest::buffer([](int n) { return 255 + n / 40; }));  // a slow ramp: every end differs
    const int length = c.width * 40 + 48;
    EXPECT_NEAR(v.traceX(length - 1), c.lastShown, 1e-12);
    for (int j = length; j < rx::kSamples; ++j) {
      ASSERT_NEAR(v.traceX(j), c.end, 1e-12) << j;
      ASSERT_EQ(v.traceY(j), v.traceY(length - 1)) << j;
    }
    EXPECT_NEAR(v->Series3->x(0), c.arrowX, 1e-12);
    EXPECT_DOUBLE_EQ(v->Series3->y(0), c.arrowY);
    EXPECT_TRUE(v->Series3->active());  // shown after every redraw, whatever the page
    // The time axis covers the trace and the arrow.
    EXPECT_NEAR(v.chart()->axisMaximum(ChartAxis::Bottom), c.end, 1e-12);
    EXPECT_NEAR(v.chart()->axisMinimum(ChartAxis::Bottom), std::min(-0.16, c.arrowX), 1e-12);
  }
  rxtest::setSyncLevel(0);
}

TEST(RxView, ChangesShowOnlyAtTheNextRedraw) {
  View v;
  v.show(rxtest::flat(355));
  const double before = v.traceY(10);
  v->VertTrackBar->setValue(10);
  v->RangeRadioGroup->setItemIndex(1);
  EXPECT_EQ(v.traceY(10), before);
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 304.6875);
  EXPECT_EQ(v->rangeCode(), 1);  // the packet has it at once
  v.show(rxtest::flat(355));
  EXPECT_NEAR(v.traceY(10), 100 * 1.0216 * 0.5859375 - 10, 1e-9);

  // "50В" and "Отмена Zoom": the axes change at once, without new data.
  v->RangeRadioGroup->setItemIndex(2);
  v->ZoomUnDoButton->click();
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 50.78125);
  EXPECT_EQ(v->rangeCode(), 3);
  v->RangeRadioGroup->setItemIndex(-1);  // no selection: k kept, code 0
  v->ZoomUnDoButton->click();
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 50.78125);
  EXPECT_EQ(v->rangeCode(), 0);
}

TEST(RxView, DrawCheckBoxOffFreezesTheTraceButTheSliderStillRedraws) {
  View v;
  v.show(rxtest::flat(355));
  const double before = v.traceY(10);
  v->DrawCheckBox->setChecked(false);
  v.show(rxtest::flat(455));
  EXPECT_EQ(v.traceY(10), before);
  EXPECT_NEAR(v->rxData()[10], 102.16, 1e-9) << "RxData keeps the last accepted buffer";

  v.chart()->setAxisRange(ChartAxis::Bottom, 1, 2);  // as a zoom leaves it
  v.chart()->setAxisRange(ChartAxis::Left, -5, 5);
  v.show(rxtest::flat(455));
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 5) << "no data, no redraw: the zoom stays";
  v->WidthTrackBar->setValue(60);
  EXPECT_TRUE(v.chart()->axisAutomatic(ChartAxis::Bottom));
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 304.6875);
  EXPECT_NEAR(v.traceX(60 * 40 + 48), (60 * 40 + 16) * 0.005, 1e-12);
  EXPECT_EQ(v.traceY(10), before);
}

TEST(RxView, PagesDecideSeriesTimerAndZoom) {
  struct Case {
    int page;
    bool markers, pulse, zoom;
  };
  const Case cases[] = {
      {0, true, false, false}, {1, false, true, false}, {2, false, false, true}, {-1, false, false, false}};
  View v;
  for (const Case& c : cases) {
    v.page(c.page);
    for (TChartSeries* s : {v->Series5, v->Series6, v->Series7, v->Series8, v->Series9, v->Series10})
      EXPECT_EQ(s->active(), c.markers) << c.page;
    for (TChartSeries* s : {v->Series2, v->Series3, v->Series4}) EXPECT_EQ(s->active(), c.pulse) << c.page;
    EXPECT_EQ(v->Timer->isActive(), c.markers) << c.page;
    EXPECT_EQ(v.chart()->zoomAllowed(), c.zoom) << c.page;
    for (int t = 0; t < 3; ++t) EXPECT_EQ(v->MesuarePageControl->isTabHighlighted(t), t == c.page) << c.page;
  }
}

TEST(RxView, RubberBandZoomOnlyOnTheZoomPageAndUndoneByTheNextBuffer) {
  View v;
  v.show(rxtest::flat(300));
  for (int page : {0, 1, 2}) {
    v.page(page);
    const QPointF a = v.pixel(2, 100), b = v.pixel(6, -100);
    rxtest::mouse(v.chart(), QEvent::MouseButtonPress, a, Qt::LeftButton, Qt::LeftButton);
    rxtest::mouse(v.chart(), QEvent::MouseMove, b, Qt::NoButton, Qt::LeftButton);
    rxtest::mouse(v.chart(), QEvent::MouseButtonRelease, b, Qt::LeftButton, Qt::NoButton);
    const bool zoomed = page == 2;
    EXPECT_EQ(v.chart()->zoomAnimating(), zoomed) << page;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !v.chart()->zoomAnimating(); }, 2000));
    EXPECT_EQ(v.chart()->axisAutomatic(ChartAxis::Bottom), !zoomed) << page;
    if (zoomed) {
      EXPECT_NEAR(v.chart()->axisMinimum(ChartAxis::Bottom), 2, 0.05);
      EXPECT_NEAR(v.chart()->axisMaximum(ChartAxis::Bottom), 6, 0.05);
      EXPECT_NEAR(v.chart()->axisMaximum(ChartAxis::Left), 100, 3);
    }
  }
  v.show(rxtest::flat(300));  // the next exchange cycle restores the standard scale
  EXPECT_TRUE(v.chart()->axisAutomatic(ChartAxis::Bottom));
  EXPECT_EQ(v.chart()->axisMaximum(ChartAxis::Left), 304.6875);
}

TEST(RxView, RightDragScrollsOnAnyPageAndARightClickOpensTheMenu) {
  View v;
  v.show(rxtest::flat(300));
  v.page(0);
  const double min0 = v.chart()->axisMinimum(ChartAxis::Bottom);
  const double max0 = v.chart()->axisMaximum(ChartAxis::Bottom);
  const double top0 = v.chart()->axisMaximum(ChartAxis::Left);
  const QPointF a = v.pixel(5, 0);
  const QPointF b = v.pixel(3, 50);  // drag left and up: later times and lower values come in
  rxtest::mouse(v.chart(), QEvent::MouseButtonPress, a, Qt::RightButton, Qt::RightButton);
  rxtest::mouse(v.chart(), QEvent::MouseMove, b, Qt::NoButton, Qt::RightButton);
  rxtest::mouse(v.chart(), QEvent::MouseButtonRelease, b, Qt::RightButton, Qt::NoButton);
  EXPECT_NEAR(v.chart()->axisMinimum(ChartAxis::Bottom), min0 + 2, 0.05);
  EXPECT_NEAR(v.chart()->axisMaximum(ChartAxis::Bottom), max0 + 2, 0.05);
  EXPECT_NEAR(v.chart()->axisMaximum(ChartAxis::Left), top0 - 50, 3);
  EXPECT_FALSE(v->PopupMenu->isVisible());

  rxtest::mouse(v.chart(), QEvent::MouseButtonPress, a, Qt::RightButton, Qt::RightButton);
  rxtest::mouse(v.chart(), QEvent::MouseButtonRelease, a, Qt::RightButton, Qt::NoButton);
  EXPECT_TRUE(v->PopupMenu->isVisible());
  QStringList items;
  for (QAction* act : v->PopupMenu->actions()) items << (act->isSeparator() ? "-" : act->text());
  EXPECT_EQ(items, QStringList({"Сохранить картинку", "-", "в буфер обмена", "в граф. файл (*.bmp)",
                                "в текстовый файл"}));
  v->PopupMenu->hide();
}

TEST(RxView, HelpAndLoadBox) {
  ScopedRecordingDialogs d;
  View v(false);
  v->HelpBitBtn->click();
  ASSERT_EQ(d->calls.size(), 1u);
  EXPECT_EQ(d->calls[0].text,
            "Извините, справочная система еще не разработана.\rЧитайте руководство по эксплуатации "
            "QZ418.\rВ принципе должно быть и так все понятно.");
  for (bool on : {true, false}) {
    v->R50CheckBox->setChecked(on);
    EXPECT_EQ(v->load50Ohm(), on);
    EXPECT_TRUE(v->R50CheckBox->font().bold());
    EXPECT_EQ(v->R50CheckBox->palette().color(QPalette::WindowText),
              on ? QColor(Qt::black) : QColor(128, 128, 128));
  }
}

}  // namespace
