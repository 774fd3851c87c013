// Markers placed with the mouse, their averaged read-outs, and the pulse measurement on
// generated buffers.

#include <QCheckBox>
#include <QLineEdit>
#include <cmath>
#include <random>

#include "rx_test_support.h"
#include "widgets/radio_group.h"

namespace {

using rxtest::View;

void press(const View& v, QPointF p, Qt::MouseButton b, Qt::KeyboardModifiers m = {}) {
  rxtest::mouse(v.chart(), QEvent::MouseButtonPress, p, b, b, m);
  rxtest::mouse(v.chart(), QEvent::MouseButtonRelease, p, b, Qt::NoButton, m);
}
void drag(const View& v, QPointF p, Qt::MouseButtons held, Qt::KeyboardModifiers m = {}) {
  rxtest::mouse(v.chart(), QEvent::MouseMove, p, Qt::NoButton, held, m);
}

TEST(RxMarkers, SnapTowardZeroAndRussianTimeText) {
  View v;
  v.page(0);
  // A narrow time range, so that one pixel is far less than a sample.
  v.chart()->setAxisRange(ChartAxis::Bottom, 1.2, 1.3);
  v.chart()->replotNow();
  press(v, v.pixel(1.2376, 20), Qt::LeftButton);
  EXPECT_NEAR(v->Series5->x(0), 1.235, 1e-12);
  EXPECT_NEAR(v->Series5->y(0), 20, 1e-9);
  EXPECT_EQ(v->T1_Edit->text(), " 1,235 мкс");
  EXPECT_EQ(v->DT_Edit->text(), " 1,215 мкс");  // marker 2 still at 0.02
}

TEST(RxMarkers, OnlyExactlyTheLeftButtonMovesTheSelectedMarker) {
  struct Case {
    int page, marker;
    bool isPress;
    Qt::MouseButtons buttons;
    Qt::KeyboardModifiers mods;
    bool moves;
  };
  const Case cases[] = {
      {0, 0, true, Qt::LeftButton, {}, true},
      {0, 1, true, Qt::LeftButton, {}, true},
      {0, -1, true, Qt::LeftButton, {}, false},  // no marker selected
      {0, 0, true, Qt::LeftButton, Qt::ShiftModifier, false},
      {0, 0, true, Qt::RightButton, {}, false},
      {0, 0, false, Qt::LeftButton, {}, true},
      {0, 0, false, Qt::LeftButton | Qt::RightButton, {}, false},
      {0, 0, false, Qt::LeftButton, Qt::ControlModifier, false},
      {0, 0, false, Qt::LeftButton, Qt::AltModifier, false},
      {0, 0, false, Qt::LeftButton, Qt::KeypadModifier, true},
      {1, 0, true, Qt::LeftButton, {}, false},  // a click off the markers page does nothing
      {2, 0, true, Qt::LeftButton, {}, false},
      {1, 0, false, Qt::LeftButton, {}, true},  // but a drag moves the hidden marker
      {2, 1, false, Qt::LeftButton, {}, true},
  };
  for (const Case& c : cases) {
    View v;
    v.show(rxtest::flat(255));
    v.page(c.page);
    v->ChooseMarkerRadioGroup->setItemIndex(c.marker);
    const QPointF target = v.pixel(3, 40);
    if (c.isPress) {
      const Qt::MouseButton b = c.buttons == Qt::RightButton ? Qt::RightButton : Qt::LeftButton;
      rxtest::mouse(v.chart(), QEvent::MouseButtonPress, target, b, c.buttons, c.mods);
      rxtest::mouse(v.chart(), QEvent::MouseButtonRelease, target, b, Qt::NoButton, c.mods);
      v->PopupMenu->hide();
    } else {
      drag(v, target, c.buttons, c.mods);
    }
    const bool m1 = std::abs(v->Series5->x(0) - 3) < 0.01 && std::abs(v->Series7->x(0) - 3) < 0.01;
    const bool m2 = std::abs(v->Series8->x(0) - 3) < 0.01 && std::abs(v->Series10->x(0) - 3) < 0.01;
    EXPECT_EQ(m1, c.moves && c.marker == 0)
        << c.page << " " << c.marker << " " << int(c.buttons) << " " << int(c.mods);
    EXPECT_EQ(m2, c.moves && c.marker == 1) << c.page << " " << c.marker << " " << int(c.buttons);
  }
}

TEST(RxMarkers, ClampedToTheTraceAndTheAxes) {
  View v;
  v.show(rxtest::flat(255));
  v.page(0);
  struct Case {
    double t, volts;
    double x, handleY;
  };
  const Case cases[] = {
      {-0.1, 0, 0, 0},            // left of time 0
      {5.001, 400, 5, 304.6875},  // above the axis top
      {5.001, -400, 5, -304.6875},
      {9.6775, 0, 9.675, 0},  // the last shown point
      {9.9, 0, 9.68, 0},      // right of the trace end: the axis ends there
  };
  for (const Case& c : cases) {
    drag(v, v.pixel(c.t, c.volts), Qt::LeftButton);
    EXPECT_NEAR(v->Series5->x(0), c.x, 1e-9) << c.t;
    EXPECT_NEAR(v->Series5->y(0), c.handleY, 0.5) << c.volts;
    // The vertical line spans the whole axis.
    EXPECT_EQ(v->Series6->y(0), 304.6875);
    EXPECT_EQ(v->Series6->y(1), -304.6875);
    EXPECT_EQ(v->Series6->x(1), v->Series5->x(0));
  }
}

TEST(RxMarkers, ReadoutSettlesWithinSixteenTicks) {
  View v;
  v.page(0);
  v.show(rxtest::flat(355));  // 119.72 V on every shown point
  drag(v, v.pixel(1.001, 0), Qt::LeftButton);
  // One reading of 119.72 among fifteen zeros of the start.
  EXPECT_EQ(v->A1_Edit->text(), "  7,5 B");
  for (int tick = 2; tick <= 16; ++tick) {
    v->TimerTimer();
    if (tick == 15) {
      EXPECT_EQ(v->A1_Edit->text(), "  112 B");
    }
  }
  EXPECT_EQ(v->A1_Edit->text(), "  120 B");
  EXPECT_EQ(v->A2_Edit->text(), "  120 B");  // marker 2 reads the trace at 0.02 us
  EXPECT_EQ(v->DA_Edit->text(), "  0,0 B");
  EXPECT_EQ(v->T1_Edit->text(), " 1,000 мкс");
  EXPECT_EQ(v->T2_Edit->text(), " 0,020 мкс");
  EXPECT_NEAR(v->Series7->y(0), 119.71875, 1e-9);
}

TEST(RxMarkers, PulledToTheTraceEndAndBeyondItAfterScrolling) {
  View v;
  v.page(0);
  v->WidthTrackBar->setValue(99);
  v.show(rxtest::buffer([](int n) { return 255 + n / 20; }));
  v->ChooseMarkerRadioGroup->setItemIndex(1);
  drag(v, v.pixel(15.001, 0), Qt::LeftButton);
  ASSERT_NEAR(v->Series8->x(0), 15, 1e-9);
  v->WidthTrackBar->setValue(0);  // the trace now ends at 0.08 us
  for (TChartSeries* s : {v->Series8, v->Series9, v->Series10})
    for (int i = 0; i < s->count(); ++i) EXPECT_NEAR(s->x(i), 0.08, 1e-12);
  EXPECT_EQ(v->Series5->x(0), 0);  // marker 1 was left of the end

  // Scrolled far right, a marker can stand beyond the last trace point: it reads the last one.
  v.chart()->setAxisRange(ChartAxis::Bottom, 0, 30);
  v.chart()->replotNow();
  drag(v, v.pixel(25.001, 0), Qt::LeftButton);
  EXPECT_EQ(v->T2_Edit->text(), " 25,000 мкс");
  EXPECT_EQ(v->Series10->y(0), v.traceY(4095));
  EXPECT_TRUE(std::isfinite(v->Series10->y(0)));
}

// Synthetic pulses: 200 counts over 0 V, 20-sample ramps, 30 samples on top, so the
// 50 % width is 50 samples = 0.25 us; Gaussian noise of 1.5 counts from a seeded generator.
TEST(RxPulse, MeasuresPositiveAndNegativePulses) {
  struct Case {
    int sync;
    double counts;
    int markLength;
  };
  const Case cases[] = {{10, 200, 6}, {-10, -200, -23}};
  for (const Case& c : cases) {
    View v;
    rxtest::setSyncLevel(c.sync);
    v.page(1);  // design width: points up to sample 2000 are shown
    std::mt19937 rng(1234);
    for (int cycle = 0; cycle < 12; ++cycle) v.show(rxtest::pulse(900, 20, 30, c.counts, 1.5, rng));
    const double peak = c.counts * 1.0216 * 1.171875;
    EXPECT_NEAR(v->Series2->y(0), peak, 4) << c.sync;
    EXPECT_EQ(v->Series2->marksArrowLength(), c.markLength);
    EXPECT_EQ(v->Series2->valueFormat(), "#00 В");
    EXPECT_TRUE(v->Series2->active());
    EXPECT_EQ(v->MaxSignalEdit->text(), rx::voltageText(v->Series2->y(0), FormatSettings::russian()));
    // The peak lies on the top, which the filter moves 5.5 samples early: samples 920-949
    // are drawn at (n - 64 - 5.5) * 0.005.
    EXPECT_GT(v->Series2->x(0), (920 - 70) * 0.005);
    EXPECT_LT(v->Series2->x(0), (950 - 69) * 0.005);

    const double level = v->Series2->y(0) / 2;
    for (int a = 0; a < 2; ++a) {
      EXPECT_DOUBLE_EQ(v->Series4->startY(a), level);
      EXPECT_DOUBLE_EQ(v->Series4->y(a), level);
    }
    const double width = v->Series4->x(1) - v->Series4->x(0);
    EXPECT_NEAR(width, 0.25, 0.005) << c.sync;
    EXPECT_EQ(v->WidthSignalEdit->text(), rx::pulseWidthText(width, FormatSettings::russian()));
    // The crossings lie on the ramps: 10 samples into each.
    EXPECT_NEAR(v->Series4->x(0), (910 - 69.5) * 0.005, 0.005);
  }
  rxtest::setSyncLevel(0);
}

// Hand-made traces written straight into the trace series (trace point i lies at
// (i - 32) * 0.005 us), measured eight times so that the averages hold only this trace.
TEST(RxPulse, LevelsSearchBoundsAndCrossingsOnHandMadeTraces) {
  struct Case {
    const char* name;
    int sync, level;
    std::vector<std::pair<int, double>> points;  // the rest of the trace is 0
    double peakTime, peak;
    const char* peakText;
    const char* markFormat;
    int markLength;
    double arrowLevel, left, right;
    const char* widthText;
  };
  const Case cases[] = {
      // Positive, 30 %: the peak on the first searched point (10), a larger value just before
      // it and a tie later. Level 30. Right: 60 -> 20 crosses 30 at 0.75 of a sample after
      // point 12. Left: the trace is beyond the level down to point 0, the walk stops at point
      // 1 and points 1 and 2 are equal, so no fraction: the crossing is point 2.
      {"positive, 30 %, peak on the first searched point",
       30,
       30,
       {{0, 90}, {1, 90}, {2, 90}, {3, 90}, {4, 90}, {5, 90}, {6, 90}, {7, 90}, {8, 90}, {9, 120},
        {10, 100}, {11, 80}, {12, 60}, {13, 20}, {500, 100}},
       -0.11,
       100,
       "  100 B",
       "#00 В",
       6,
       30,
       -0.15,
       -0.1 + 0.00375,
       "  0,054 мкс"},
      // Negative, 80 %: the peak on the last searched point (4086 = 4096 - 10), a larger value
      // just after it. Level -40. Right: 60 -> 39 crosses 40 at 20/21 of a sample after 4087
      // (the walk goes by magnitude). Left: 41 -> 30 crosses at 1/11 of a sample before 4083.
      {"negative, 80 %, peak on the last searched point",
       -40,
       80,
       {{4080, -10}, {4081, -20}, {4082, -30}, {4083, -41}, {4084, -44}, {4085, -45}, {4086, -50},
        {4087, -60}, {4088, -39}, {4089, -39}, {4095, -39}},
       20.27,
       -50,
       "  -50,0 B",
       "#0.0 В",
       -23,
       -40,
       20.255 - 0.005 / 11,
       20.275 + 0.005 * 20 / 21,
       "  0,025 мкс"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    View v;
    rxtest::setSyncLevel(c.sync);
    v->LevelPBSpinEdit->setValue(c.level);
    v.page(1);
    for (int i = 0; i < rx::kSamples; ++i) v->Series1->setXY(i, (i - 32) * 0.005, 0);
    for (const auto& [i, y] : c.points) v->Series1->setXY(i, (i - 32) * 0.005, y);
    for (int k = 0; k < 8; ++k) v->MeasurePulse();

    EXPECT_NEAR(v->Series2->x(0), c.peakTime, 1e-12);
    EXPECT_NEAR(v->Series2->y(0), c.peak, 1e-12);
    EXPECT_EQ(v->MaxSignalEdit->text(), c.peakText);
    EXPECT_EQ(v->Series2->valueFormat(), c.markFormat);
    EXPECT_EQ(v->Series2->marksArrowLength(), c.markLength);
    for (int a = 0; a < 2; ++a) {
      EXPECT_NEAR(v->Series4->startX(a), c.peakTime, 1e-12);
      EXPECT_NEAR(v->Series4->startY(a), c.arrowLevel, 1e-12);
      EXPECT_NEAR(v->Series4->y(a), c.arrowLevel, 1e-12);
    }
    EXPECT_NEAR(v->Series4->x(0), c.left, 1e-9);
    EXPECT_NEAR(v->Series4->x(1), c.right, 1e-9);
    EXPECT_EQ(v->WidthSignalEdit->text(), c.widthText);
  }
  rxtest::setSyncLevel(0);
}

TEST(RxPulse, ZeroPeakAtPointTwenty) {
  struct Case {
    int sync, count;
    const char* width;
  };
  // Nothing beyond 0 in the searched direction: a peak of 0 at point 20 (-0.06 us).
  const Case cases[] = {{10, 255, "  0,000 мкс"}, {10, 200, nullptr}, {-10, 300, nullptr}, {0, 355, nullptr}};
  for (const Case& c : cases) {
    View v;
    rxtest::setSyncLevel(c.sync);
    v.page(1);
    for (int cycle = 0; cycle < 8; ++cycle) v.show(rxtest::flat(c.count));
    EXPECT_NEAR(v->Series2->x(0), -0.06, 1e-12) << c.count;
    EXPECT_EQ(v->Series2->y(0), 0);
    EXPECT_EQ(v->MaxSignalEdit->text(), "  0,0 B");
    EXPECT_EQ(v->Series2->valueFormat(), "#0.0 В");
    EXPECT_TRUE(std::isfinite(v->Series4->x(0)) && std::isfinite(v->Series4->x(1)));
    if (c.width) {
      EXPECT_EQ(v->WidthSignalEdit->text(), c.width);
    }
  }
  rxtest::setSyncLevel(0);
}

TEST(RxPulse, CheckBoxesHideTheMarks) {
  View v;
  rxtest::setSyncLevel(10);
  v.page(1);
  v->MaxCheckBox->setChecked(false);
  v->WidthCheckBox->setChecked(false);
  std::mt19937 rng(5);
  v.show(rxtest::pulse(900, 20, 30, 200, 0, rng));
  EXPECT_FALSE(v->Series2->active());
  EXPECT_FALSE(v->Series2->marksVisible());
  EXPECT_FALSE(v->Series4->active());
  EXPECT_FALSE(v->Series4->arrowHeadsVisible());
  EXPECT_EQ(v->MaxSignalEdit->text(), "  ??? В");
  EXPECT_EQ(v->WidthSignalEdit->text(), "??? мкс");
  EXPECT_EQ(v->MaxSignalEdit->palette().color(QPalette::Text), QColor(128, 128, 128));
  EXPECT_TRUE(v->MaxSignalEdit->font().bold());
  v->MaxCheckBox->setChecked(true);
  v->WidthCheckBox->setChecked(true);
  EXPECT_EQ(v->WidthSignalEdit->palette().color(QPalette::Text), QColor(Qt::black));
  v.show(rxtest::pulse(900, 20, 30, 200, 0, rng));
  EXPECT_TRUE(v->Series2->active() && v->Series2->marksVisible());
  EXPECT_TRUE(v->Series4->active() && v->Series4->arrowHeadsVisible());
  EXPECT_NE(v->MaxSignalEdit->text(), "  ??? В");
  rxtest::setSyncLevel(0);
}

TEST(RxPulse, AnyBufferGivesFiniteReadouts) {
  // Random counts over the whole 16-bit range, saturated and flat buffers, on every page.
  std::mt19937 rng(99);
  std::uniform_int_distribution<int> any(0, 65535);
  View v;
  v->WidthTrackBar->setValue(99);
  int cycle = 0;
  for (int sync : {50, -50}) {
    rxtest::setSyncLevel(sync);
    for (int page : {1, 0, 2}) {
      v.page(page);
      for (int k = 0; k < 10; ++k, ++cycle) {
        const int kind = cycle % 4;
        v.show(rxtest::buffer([&](int) { return kind == 0 ? 65535 : kind == 1 ? 0 : any(rng); }));
        v->TimerTimer();
      }
      for (int i = 0; i < rx::kSamples; ++i) ASSERT_TRUE(std::isfinite(v.traceY(i))) << i;
      for (QLineEdit* e :
           {v->A1_Edit, v->A2_Edit, v->DA_Edit, v->T1_Edit, v->MaxSignalEdit, v->WidthSignalEdit})
        EXPECT_FALSE(e->text().contains("nan", Qt::CaseInsensitive) ||
                     e->text().contains("inf", Qt::CaseInsensitive))
            << e->text().toStdString();
      for (TChartSeries* s : {v->Series2, v->Series4})
        EXPECT_TRUE(std::isfinite(s->x(0)) && std::isfinite(s->y(0)));
    }
  }
  rxtest::setSyncLevel(0);
}

}  // namespace
