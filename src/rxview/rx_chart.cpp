#include "rxview/rx_chart.h"

#include <qcustomplot.h>

#include <QMenu>
#include <QMouseEvent>
#include <QRubberBand>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/number_text.h"

namespace {

constexpr int kZoomSteps = 5;
constexpr int kZoomStepMs = 20;
constexpr double kMinimumZoomPixels = 16;  // a smaller rectangle is taken for a click

// Tick labels through the program's own picture formats and separators.
class PictureTicker : public QCPAxisTicker {
 public:
  QString picture;

 protected:
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    // Ticks computed as multiples of the step can miss zero by 1e-17; the picture rounds
    // them, and a value that rounds to zero is written without its minus sign.
    return formatFloat(picture, tick, appFormatSettings());
  }
};

bool isHorizontal(ChartAxis a) { return a == ChartAxis::Top || a == ChartAxis::Bottom; }

QCPScatterStyle scatterFor(TChartSeries::Marker m, const QColor& c) {
  switch (m) {
    case TChartSeries::Marker::None:
      return QCPScatterStyle(QCPScatterStyle::ssNone);
    case TChartSeries::Marker::Square:
      return QCPScatterStyle(QCPScatterStyle::ssSquare, c, c, 7);
    case TChartSeries::Marker::SmallSquare:
      return QCPScatterStyle(QCPScatterStyle::ssSquare, c, c, 4);
    case TChartSeries::Marker::SmallDot:
      return QCPScatterStyle(QCPScatterStyle::ssDisc, c, c, 3);
    case TChartSeries::Marker::Diamond:
      return QCPScatterStyle(QCPScatterStyle::ssDiamond, c, c, 11);
  }
  return QCPScatterStyle(QCPScatterStyle::ssNone);
}

}  // namespace

// ---- Series ---------------------------------------------------------------------------------------------

TChartSeries::TChartSeries(TChart* chart, Kind kind) : chart_(chart), kind_(kind) {
  QCustomPlot* plot = chart->plot_;
  switch (kind) {
    case Kind::FastLine:
      graph_ = plot->addGraph(plot->xAxis, plot->yAxis);
      graph_->setLineStyle(QCPGraph::lsLine);
      // A plain line of many points: antialiasing would double the cost of every replot.
      graph_->setAntialiased(false);
      graph_->setPen(QPen(color_));
      break;
    case Kind::Line:
    case Kind::Point:
      curve_ = new QCPCurve(plot->xAxis, plot->yAxis);
      curve_->setLineStyle(kind == Kind::Line ? QCPCurve::lsLine : QCPCurve::lsNone);
      curve_->setPen(QPen(color_));
      break;
    case Kind::HorizBarArrow:
    case Kind::Arrow:
      break;
  }
}

int TChartSeries::count() const {
  if (graph_) return graph_->data()->size();
  if (curve_) return curve_->data()->size();
  return int(segments_.size());
}

double TChartSeries::x(int i) const {
  if (graphPoints_) return graphPoints_[i].key;
  if (curvePoints_) return curvePoints_[i].key;
  return segments_[i].x1;
}

double TChartSeries::y(int i) const {
  if (graphPoints_) return graphPoints_[i].value;
  if (curvePoints_) return curvePoints_[i].value;
  return segments_[i].y1;
}

double TChartSeries::startX(int i) const { return segments_[i].x0; }
double TChartSeries::startY(int i) const { return segments_[i].y0; }

void TChartSeries::setX(int i, double x) { setXY(i, x, y(i)); }
void TChartSeries::setY(int i, double y) { setXY(i, x(i), y); }

void TChartSeries::setXY(int i, double x, double y) {
  if (graphPoints_) {
    // In place: the trace's keys stay in rising order (points beyond the display length
    // share the end time), which the graph relies on.
    graphPoints_[i].key = x;
    graphPoints_[i].value = y;
  } else if (curvePoints_) {
    curvePoints_[i].key = x;
    curvePoints_[i].value = y;
    if (i < int(marks_.size())) syncItems();
  } else {
    Segment& s = segments_[i];
    if (kind_ == Kind::HorizBarArrow) {
      s.x0 = 0;
      s.y0 = y;
    }
    s.x1 = x;
    s.y1 = y;
    syncItems();
  }
  changed();
}

void TChartSeries::add(double x, double y) {
  if (graph_) {
    graph_->data()->add(QCPGraphData(x, y));
  } else if (curve_) {
    curve_->data()->add(QCPCurveData(curve_->data()->size(), x, y));
  } else {
    auto* item = new QCPItemLine(chart_->plot_);
    segments_.push_back({kind_ == Kind::HorizBarArrow ? 0.0 : x, y, x, y, item});
  }
  updatePointers();
  syncItems();
  changed();
}

void TChartSeries::setArrow(int i, double x0, double y0, double x1, double y1) {
  segments_[i] = {x0, y0, x1, y1, segments_[i].item};
  syncItems();
  changed();
}

void TChartSeries::addArrow(double x0, double y0, double x1, double y1) {
  segments_.push_back({x0, y0, x1, y1, new QCPItemLine(chart_->plot_)});
  syncItems();
  changed();
}

void TChartSeries::setActive(bool on) {
  if (active_ == on) return;
  active_ = on;
  if (graph_) graph_->setVisible(on);
  if (curve_) curve_->setVisible(on);
  syncItems();
  changed();
}

void TChartSeries::repaint() { chart_->requestReplot(); }

void TChartSeries::setColor(const QColor& c) {
  color_ = c;
  if (graph_) graph_->setPen(QPen(c));
  if (curve_) {
    curve_->setPen(QPen(c));
    QCPScatterStyle st = curve_->scatterStyle();
    st.setPen(QPen(c));
    st.setBrush(c);
    curve_->setScatterStyle(st);
  }
  syncItems();
  changed();
}

void TChartSeries::setMarker(Marker m) {
  if (graph_) graph_->setScatterStyle(scatterFor(m, color_));
  if (curve_) curve_->setScatterStyle(scatterFor(m, color_));
  changed();
}

void TChartSeries::setValueFormat(const QString& picture) {
  if (valueFormat_ == picture) return;
  valueFormat_ = picture;
  syncItems();
  changed();
}

void TChartSeries::setMarksVisible(bool on) {
  marksVisible_ = on;
  syncItems();
  changed();
}

void TChartSeries::setMarksArrowLength(int pixels) {
  if (marksArrowLength_ == pixels) return;
  marksArrowLength_ = pixels;
  syncItems();
  changed();
}

QString TChartSeries::markText(int i) const { return formatFloat(valueFormat_, y(i), appFormatSettings()); }

void TChartSeries::setArrowHeadsVisible(bool on) {
  arrowHeads_ = on;
  syncItems();
  changed();
}

void TChartSeries::changed() { chart_->requestReplot(); }

void TChartSeries::updatePointers() {
  if (graph_) graphPoints_ = graph_->data()->isEmpty() ? nullptr : &*graph_->data()->begin();
  if (curve_) curvePoints_ = curve_->data()->isEmpty() ? nullptr : &*curve_->data()->begin();
}

void TChartSeries::syncItems() {
  const QPen pen(color_, kind_ == Kind::HorizBarArrow ? 3 : 1);
  for (const Segment& s : segments_) {
    s.item->start->setCoords(s.x0, s.y0);
    s.item->end->setCoords(s.x1, s.y1);
    s.item->setPen(pen);
    s.item->setHead(arrowHeads_ ? QCPLineEnding(QCPLineEnding::esSpikeArrow, 10, 12) : QCPLineEnding());
    s.item->setVisible(active_);
  }
  if (!curve_) return;
  // Marks exist only for series that showed them once; a hidden mark costs nothing to draw.
  const int wanted = marksVisible_ ? count() : 0;
  while (int(marks_.size()) < wanted) {
    auto* connector = new QCPItemLine(chart_->plot_);
    connector->end->setParentAnchor(connector->start);
    connector->end->setType(QCPItemPosition::ptAbsolute);
    auto* text = new QCPItemText(chart_->plot_);
    text->position->setParentAnchor(connector->end);
    text->position->setType(QCPItemPosition::ptAbsolute);
    text->position->setCoords(0, 0);
    text->setClipToAxisRect(false);
    text->setPadding(QMargins(2, 1, 2, 1));
    marks_.push_back({connector, text});
  }
  for (int i = 0; i < int(marks_.size()); ++i) {
    const bool shown = active_ && marksVisible_ && i < count();
    Mark& m = marks_[i];
    m.connector->setVisible(shown);
    m.text->setVisible(shown);
    if (!shown) continue;
    m.connector->start->setCoords(x(i), y(i));
    m.connector->end->setCoords(0, -marksArrowLength_);
    m.connector->setPen(QPen(color_));
    m.text->setText(markText(i));
    m.text->setColor(color_);
    m.text->setPen(QPen(color_));
    m.text->setBrush(QBrush(QColor(255, 255, 225)));
    m.text->setPositionAlignment(Qt::AlignHCenter |
                                 (marksArrowLength_ >= 0 ? Qt::AlignBottom : Qt::AlignTop));
  }
}

void TChartSeries::extendRange(bool horizontal, double& lo, double& hi) const {
  if (!active_) return;
  auto take = [&](double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  };
  if (graphPoints_ || curvePoints_) {
    const int n = count();
    for (int i = 0; i < n; ++i) take(horizontal ? x(i) : y(i));
    return;
  }
  for (const Segment& s : segments_) {
    take(horizontal ? s.x0 : s.y0);
    take(horizontal ? s.x1 : s.y1);
  }
}

// ---- Chart ----------------------------------------------------------------------------------------------

TChart::TChart(QWidget* parent) : QWidget(parent), plot_(new QCustomPlot(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(plot_);
  plot_->setInteractions(QCP::Interactions());  // zoom and scroll are done here, by our rules
  plot_->installEventFilter(this);
  plot_->setContextMenuPolicy(Qt::DefaultContextMenu);
  for (ChartAxis a : {ChartAxis::Left, ChartAxis::Right, ChartAxis::Top, ChartAxis::Bottom}) {
    auto ticker = QSharedPointer<PictureTicker>::create();
    ticker->picture = QStringLiteral("#,##0.###");
    axes_[int(a)].labelFormat = ticker->picture;
    qcpAxis(a)->setTicker(ticker);
  }
  plot_->xAxis2->setVisible(false);
  plot_->yAxis2->setVisible(false);
  connect(plot_, &QCustomPlot::beforeReplot, this, &TChart::syncForPaint);

  replotTimer_.setSingleShot(true);
  replotTimer_.setInterval(0);
  connect(&replotTimer_, &QTimer::timeout, this, &TChart::replotNow);
  holdTimer_.setSingleShot(true);
  connect(&holdTimer_, &QTimer::timeout, this, &TChart::releaseReplots);
  zoomTimer_.setInterval(kZoomStepMs);
  connect(&zoomTimer_, &QTimer::timeout, this, &TChart::zoomStep);
}

TChart::~TChart() = default;

TChartSeries* TChart::addSeries(TChartSeries::Kind kind) {
  series_.push_back(std::unique_ptr<TChartSeries>(new TChartSeries(this, kind)));
  requestReplot();
  return series_.back().get();
}

QCPAxis* TChart::qcpAxis(ChartAxis a) const {
  switch (a) {
    case ChartAxis::Left:
      return plot_->yAxis;
    case ChartAxis::Right:
      return plot_->yAxis2;
    case ChartAxis::Top:
      return plot_->xAxis2;
    case ChartAxis::Bottom:
      return plot_->xAxis;
  }
  return plot_->xAxis;
}

void TChart::setAxisVisible(ChartAxis a, bool on) {
  qcpAxis(a)->setVisible(on);
  requestReplot();
}

void TChart::setAxisTitle(ChartAxis a, const QString& title) {
  qcpAxis(a)->setLabel(title);
  requestReplot();
}

QString TChart::axisTitle(ChartAxis a) const { return qcpAxis(a)->label(); }

void TChart::setAxisLabelFormat(ChartAxis a, const QString& picture) {
  axes_[int(a)].labelFormat = picture;
  static_cast<PictureTicker*>(qcpAxis(a)->ticker().data())->picture = picture;
  requestReplot();
}

QString TChart::axisLabel(ChartAxis a, double value) const {
  return formatFloat(axes_[int(a)].labelFormat, value, appFormatSettings());
}

void TChart::setAxisRange(ChartAxis a, double min, double max) {
  stopZoomAnimation();
  axes_[int(a)].automatic = false;
  qcpAxis(a)->setRange(min, max);
  requestReplot();
}

void TChart::setAxisAutomatic(ChartAxis a, bool on) {
  stopZoomAnimation();
  axes_[int(a)].automatic = on;
  requestReplot();
}

double TChart::axisMinimum(ChartAxis a) const {
  return axes_[int(a)].automatic ? automaticRange(a).lo : qcpAxis(a)->range().lower;
}

double TChart::axisMaximum(ChartAxis a) const {
  return axes_[int(a)].automatic ? automaticRange(a).hi : qcpAxis(a)->range().upper;
}

TChart::Range TChart::automaticRange(ChartAxis a) const {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -lo;
  for (const auto& s : series_) s->extendRange(isHorizontal(a), lo, hi);
  if (lo > hi) {  // nothing shown: keep what is drawn
    const QCPRange r = qcpAxis(a)->range();
    return {r.lower, r.upper};
  }
  if (lo == hi) return {lo - 1, hi + 1};
  return {lo, hi};
}

void TChart::applyAutomaticRanges() {
  for (ChartAxis a : {ChartAxis::Left, ChartAxis::Right, ChartAxis::Top, ChartAxis::Bottom}) {
    if (!axes_[int(a)].automatic) continue;
    const Range r = automaticRange(a);
    qcpAxis(a)->setRange(r.lo, r.hi);
  }
}

void TChart::syncForPaint() {
  applyAutomaticRanges();
  dirty_ = false;
}

double TChart::pixelToValue(ChartAxis a, double pixel) const { return qcpAxis(a)->pixelToCoord(pixel); }

double TChart::valueToPixel(ChartAxis a, double value) const { return qcpAxis(a)->coordToPixel(value); }

QRect TChart::plotArea() const { return plot_->axisRect()->rect(); }

void TChart::setZoomAllowed(bool on) {
  zoomAllowed_ = on;
  if (!on && zooming_) {
    zooming_ = false;
    if (rubberBand_) rubberBand_->hide();
  }
}

void TChart::requestReplot() {
  dirty_ = true;
  if (!held_ && !replotTimer_.isActive()) replotTimer_.start();
}

void TChart::holdReplots(int maxMs) {
  held_ = true;
  replotTimer_.stop();
  holdTimer_.start(maxMs);
}

void TChart::releaseReplots() {
  holdTimer_.stop();
  if (!held_) return;
  held_ = false;
  if (dirty_ && !replotTimer_.isActive()) replotTimer_.start();
}

void TChart::replotNow() {
  replotTimer_.stop();
  if (!isVisible()) {
    dirty_ = true;
    return;
  }
  plot_->replot(QCustomPlot::rpRefreshHint);
}

void TChart::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  if (dirty_) replotNow();
}

QPixmap TChart::toBitmap() {
  syncForPaint();
  return plot_->toPixmap(plot_->width(), plot_->height());
}

// ---- Zoom and scroll ------------------------------------------------------------------------------------

void TChart::zoomTo(const QRectF& pixels) {
  constexpr ChartAxis kAll[] = {ChartAxis::Left, ChartAxis::Right, ChartAxis::Top, ChartAxis::Bottom};
  syncForPaint();  // automatic axes start from what they cover now
  for (ChartAxis a : kAll) {
    QCPAxis* ax = qcpAxis(a);
    const QCPRange r = ax->range();
    zoomFrom_[int(a)] = {r.lower, r.upper};
    if (isHorizontal(a))
      zoomTarget_[int(a)] = {ax->pixelToCoord(pixels.left()), ax->pixelToCoord(pixels.right())};
    else
      zoomTarget_[int(a)] = {ax->pixelToCoord(pixels.bottom()), ax->pixelToCoord(pixels.top())};
    axes_[int(a)].automatic = false;
  }
  zoomStepDone_ = 0;
  zoomTimer_.start();
}

void TChart::zoomStep() {
  ++zoomStepDone_;
  const double f = double(zoomStepDone_) / kZoomSteps;
  for (int a = 0; a < 4; ++a) {
    const Range& from = zoomFrom_[a];
    const Range& to = zoomTarget_[a];
    qcpAxis(ChartAxis(a))->setRange(from.lo + (to.lo - from.lo) * f, from.hi + (to.hi - from.hi) * f);
  }
  if (zoomStepDone_ >= kZoomSteps) zoomTimer_.stop();
  replotNow();
}

void TChart::stopZoomAnimation() { zoomTimer_.stop(); }

void TChart::scrollBy(QPointF pixels) {
  stopZoomAnimation();
  syncForPaint();
  const QRect area = plotArea();
  for (int a = 0; a < 4; ++a) {
    QCPAxis* ax = qcpAxis(ChartAxis(a));
    const QCPRange r = ax->range();
    const bool horizontal = isHorizontal(ChartAxis(a));
    const double span = horizontal ? area.width() : area.height();
    if (span <= 0) continue;
    // Dragging right shows earlier times; dragging down shows higher values.
    const double shift = (horizontal ? -pixels.x() : pixels.y()) * r.size() / span;
    ax->setRange(r.lower + shift, r.upper + shift);
    axes_[a].automatic = false;
  }
  requestReplot();
}

bool TChart::eventFilter(QObject* watched, QEvent* e) {
  if (watched != plot_) return QWidget::eventFilter(watched, e);
  switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:  // the second press of a double click
      pressed(static_cast<QMouseEvent*>(e));
      return true;
    case QEvent::MouseMove:
      moved(static_cast<QMouseEvent*>(e));
      return true;
    case QEvent::MouseButtonRelease:
      released(static_cast<QMouseEvent*>(e));
      return true;
    case QEvent::ContextMenu: {
      // A right click opens the menu on release, and only when it did not scroll.
      auto* c = static_cast<QContextMenuEvent*>(e);
      if (c->reason() != QContextMenuEvent::Mouse && popupMenu_) popupMenu_->popup(c->globalPos());
      return true;
    }
    default:
      return QWidget::eventFilter(watched, e);
  }
}

void TChart::pressed(QMouseEvent* e) {
  const QPointF pos = e->position();
  if (e->button() == Qt::LeftButton && zoomAllowed_) {
    zooming_ = true;
    zoomOrigin_ = pos;
    if (!rubberBand_) rubberBand_ = new QRubberBand(QRubberBand::Rectangle, plot_);
    rubberBand_->setGeometry(QRect(pos.toPoint(), QSize()));
    rubberBand_->show();
  }
  if (e->button() == Qt::RightButton) {
    scrolling_ = scrollAllowed_;
    scrolled_ = false;
    scrollOrigin_ = pos;
    syncForPaint();
    for (int a = 0; a < 4; ++a) {
      const QCPRange r = qcpAxis(ChartAxis(a))->range();
      scrollStart_[a] = {r.lower, r.upper};
    }
  }
  emit mouseDown(e->button(), e->buttons(), e->modifiers(), pos);
}

void TChart::moved(QMouseEvent* e) {
  const QPointF pos = e->position();
  if (zooming_ && rubberBand_) rubberBand_->setGeometry(QRectF(zoomOrigin_, pos).normalized().toRect());
  if (scrolling_ && (e->buttons() & Qt::RightButton)) {
    const QPointF delta = pos - scrollOrigin_;
    if (std::abs(delta.x()) >= 1 || std::abs(delta.y()) >= 1) scrolled_ = true;
    if (scrolled_) {
      // Every step starts again from the ranges at the press, so rounding does not creep.
      for (int a = 0; a < 4; ++a) qcpAxis(ChartAxis(a))->setRange(scrollStart_[a].lo, scrollStart_[a].hi);
      scrollBy(delta);
    }
  }
  emit mouseMove(e->buttons(), e->modifiers(), pos);
}

void TChart::released(QMouseEvent* e) {
  const QPointF pos = e->position();
  if (e->button() == Qt::LeftButton && zooming_) {
    zooming_ = false;
    rubberBand_->hide();
    // Only a rectangle dragged right and down zooms; anything else is a click.
    if (pos.x() - zoomOrigin_.x() >= kMinimumZoomPixels && pos.y() - zoomOrigin_.y() >= kMinimumZoomPixels)
      zoomTo(QRectF(zoomOrigin_, pos));
  }
  if (e->button() == Qt::RightButton) {
    const bool wasScroll = scrolled_;
    scrolling_ = false;
    scrolled_ = false;
    if (!wasScroll && popupMenu_) popupMenu_->popup(e->globalPosition().toPoint());
  }
}
