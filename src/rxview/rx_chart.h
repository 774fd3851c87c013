#pragma once
// The receive view's chart: a thin layer over QCustomPlot with just what the view uses.
// Series hold their points for their whole life and have the values replaced in place by
// index; series are switched active (shown) and inactive; four axes, each with a set range
// or automatic (covering what the active series hold); pixel to value conversion;
// rubber-band zoom with the left button (when allowed) and scrolling with the right one;
// mouse-down and mouse-move notices; the chart as a bitmap.
//
// Painting is coalesced: every change asks for one replot on the next turn of the event
// loop, replotNow() draws at once and drops that request. A hidden chart does not draw at
// all; it draws once when it is shown again.

#include <QColor>
#include <QPointF>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <vector>

class QCPAxis;
class QCPCurve;
class QCPGraph;
class QCPItemLine;
class QCPItemText;
class QCustomPlot;
class QMenu;
class QMouseEvent;
class QRubberBand;
class TChart;
class QCPGraphData;
class QCPCurveData;

enum class ChartAxis { Left, Right, Top, Bottom };

class TChartSeries {
 public:
  enum class Kind {
    FastLine,       // many points in time order, a plain line
    Line,           // a line through the points, with point markers and optional value marks
    HorizBarArrow,  // per point a horizontal bar from x = 0 to the point, an arrow head at its end
    Arrow,          // per point an arrow from its start to its end
    Point,          // point markers only, with optional value marks
  };
  enum class Marker { None, Square, SmallSquare, SmallDot, Diamond };

  Kind kind() const { return kind_; }
  int count() const;

  // Point i; for arrows and bars the end of arrow i.
  double x(int i) const;
  double y(int i) const;
  void setX(int i, double x);
  void setY(int i, double y);
  void setXY(int i, double x, double y);
  void add(double x, double y);
  // Arrow series: the start of arrow i.
  double startX(int i) const;
  double startY(int i) const;
  void setArrow(int i, double x0, double y0, double x1, double y1);
  void addArrow(double x0, double y0, double x1, double y1);

  bool active() const { return active_; }
  void setActive(bool on);
  // Asks the chart for a replot.
  void repaint();

  QColor color() const { return color_; }
  void setColor(const QColor& c);
  void setMarker(Marker m);

  // Value marks: the y of each point as text in a picture format (base/number_text.h),
  // arrowLength pixels above the point (negative: below).
  void setValueFormat(const QString& picture);
  const QString& valueFormat() const { return valueFormat_; }
  void setMarksVisible(bool on);
  bool marksVisible() const { return marksVisible_; }
  void setMarksArrowLength(int pixels);
  int marksArrowLength() const { return marksArrowLength_; }
  QString markText(int i) const;

  // Arrow heads of arrow and bar series.
  void setArrowHeadsVisible(bool on);
  bool arrowHeadsVisible() const { return arrowHeads_; }

 private:
  friend class TChart;
  TChartSeries(TChart* chart, Kind kind);
  struct Segment {
    double x0, y0, x1, y1;
    QCPItemLine* item;
  };
  struct Mark {
    QCPItemLine* connector;
    QCPItemText* text;
  };
  void changed();
  void updatePointers();  // after the number of points changed
  void syncItems();       // arrows, bars and marks follow the stored values
  void extendRange(bool horizontal, double& lo, double& hi) const;

  TChart* chart_;
  Kind kind_;
  QCPGraph* graph_ = nullptr;            // FastLine
  QCPCurve* curve_ = nullptr;            // Line, Point
  QCPGraphData* graphPoints_ = nullptr;  // the graph's own storage: values change in place
  QCPCurveData* curvePoints_ = nullptr;
  std::vector<Segment> segments_;  // HorizBarArrow, Arrow
  std::vector<Mark> marks_;
  bool active_ = true;
  QColor color_ = Qt::black;
  QString valueFormat_;
  bool marksVisible_ = false;
  int marksArrowLength_ = 8;
  bool arrowHeads_ = true;
};

class TChart : public QWidget {
  Q_OBJECT
 public:
  explicit TChart(QWidget* parent = nullptr);
  ~TChart() override;

  // The chart owns its series.
  TChartSeries* addSeries(TChartSeries::Kind kind);
  int seriesCount() const { return int(series_.size()); }
  TChartSeries* series(int i) const { return series_[i].get(); }

  void setAxisVisible(ChartAxis a, bool on);
  void setAxisTitle(ChartAxis a, const QString& title);
  QString axisTitle(ChartAxis a) const;
  // Tick labels in a picture format of base/number_text.h, with the program's separators.
  void setAxisLabelFormat(ChartAxis a, const QString& picture);
  QString axisLabel(ChartAxis a, double value) const;

  // A set range ends automatic mode; automatic follows the active series at every replot.
  void setAxisRange(ChartAxis a, double min, double max);
  void setAxisAutomatic(ChartAxis a, bool on = true);
  bool axisAutomatic(ChartAxis a) const { return axes_[int(a)].automatic; }
  double axisMinimum(ChartAxis a) const;
  double axisMaximum(ChartAxis a) const;

  // A chart pixel (widget coordinates, fractions allowed) as a value of the axis: x for the
  // horizontal axes, y for the vertical ones. As last drawn.
  double pixelToValue(ChartAxis a, double pixel) const;
  double valueToPixel(ChartAxis a, double value) const;
  // The plotting area inside the axes, in chart pixels.
  QRect plotArea() const;

  // Rubber-band zoom with the left button; scrolling with the right one.
  void setZoomAllowed(bool on);
  bool zoomAllowed() const { return zoomAllowed_; }
  void setScrollAllowed(bool on) { scrollAllowed_ = on; }
  bool scrollAllowed() const { return scrollAllowed_; }
  // Zooms into a pixel rectangle as the rubber band does: in five animated steps.
  void zoomTo(const QRectF& pixels);
  bool zoomAnimating() const { return zoomTimer_.isActive(); }
  // Moves the plot by a pixel distance, as a right-button drag does.
  void scrollBy(QPointF pixels);

  // Shown on a right click without dragging and on the menu key.
  void setPopupMenu(QMenu* menu) { popupMenu_ = menu; }
  QMenu* popupMenu() const { return popupMenu_; }

  void requestReplot();
  void replotNow();
  // Holds the replots asked for from now on until releaseReplots(), or at most maxMs: the
  // exchange hands the chart its data while its thread waits, and the painting is to come
  // after the cycle's last hand-over, in the pause between cycles.
  void holdReplots(int maxMs);
  // Ends the hold: a replot asked for meanwhile runs on the next turn of the event loop.
  void releaseReplots();
  // The chart as drawn on screen, at its own size, background included.
  QPixmap toBitmap();

 signals:
  // Any button pressed; buttons holds the state after the press.
  void mouseDown(Qt::MouseButton button, Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                 QPointF pos);
  void mouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPointF pos);

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;
  void showEvent(QShowEvent* e) override;

 private:
  friend class TChartSeries;
  struct Axis {
    bool automatic = false;
    QString labelFormat;
  };
  struct Range {
    double lo, hi;
  };
  QCPAxis* qcpAxis(ChartAxis a) const;
  Range automaticRange(ChartAxis a) const;
  void applyAutomaticRanges();
  void syncForPaint();
  void stopZoomAnimation();
  void zoomStep();
  void pressed(QMouseEvent* e);
  void moved(QMouseEvent* e);
  void released(QMouseEvent* e);

  QCustomPlot* plot_;
  std::vector<std::unique_ptr<TChartSeries>> series_;
  std::array<Axis, 4> axes_;
  bool zoomAllowed_ = false;
  bool scrollAllowed_ = true;
  bool dirty_ = true;
  bool held_ = false;
  QTimer replotTimer_;
  QTimer holdTimer_;
  QMenu* popupMenu_ = nullptr;

  // Rubber band (left button) and scrolling (right button) in progress.
  QRubberBand* rubberBand_ = nullptr;
  bool zooming_ = false;
  QPointF zoomOrigin_;
  bool scrolling_ = false;
  bool scrolled_ = false;
  QPointF scrollOrigin_;
  std::array<Range, 4> scrollStart_{};

  // The zoom animation: five steps from the ranges at its start to the target.
  QTimer zoomTimer_;
  int zoomStepDone_ = 0;
  std::array<Range, 4> zoomFrom_{};
  std::array<Range, 4> zoomTarget_{};
};
