#include "rxview/rx_draw_form.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "base/cp1251.h"
#include "base/number_text.h"
#include "rxview/rx_chart.h"
#include "rxview/rx_track_bar.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"


namespace {

const QColor kGrey(128, 128, 128);
const QColor kRed(255, 0, 0);
const QColor kBlue(0, 0, 255);

enum Page { MarkersPage = 0, PulsePage = 1, ZoomPage = 2 };

// Volts per count of the three amplitude ranges.
constexpr double kVoltsPerCount[3] = {300.0 / 256, 150.0 / 256, 50.0 / 256};
constexpr double kAxisCounts = 260;  // the vertical axes span +-260 counts

void setBold(QWidget* w, int pointSize = 0) {
  QFont f = w->font();
  f.setBold(true);
  if (pointSize > 0) f.setPointSize(pointSize);
  w->setFont(f);
}

void setTextColor(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, c);
  p.setColor(QPalette::Text, c);
  w->setPalette(p);
}

// Check boxes and the fields they govern are bold, black while on and grey while off.
void restyle(QWidget* w, bool on) {
  setBold(w);
  setTextColor(w, on ? QColor(Qt::black) : kGrey);
}

QLineEdit* makeReadout(QWidget* parent, const char* name, const QString& text, const QColor& color) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QLatin1String(name));
  e->setReadOnly(true);
  e->setFocusPolicy(Qt::NoFocus);
  setBold(e);
  setTextColor(e, color);
  return e;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  return l;
}

}  // namespace

TRxDrawForm::TRxDrawForm(RxViewPanel* panel, QWidget* parent) : QWidget(parent, Qt::Window), panel_(panel) {
  setObjectName(QStringLiteral("RxDrawForm"));
  setWindowTitle(QStringLiteral("Зондирующий импульс или сигнал внешней синхронизации"));
  createControls();
  createSeries();
  createPopupMenu();
  resize(530, 639);  // client area of the design window (538 x 666 outside)

  SavePictureDialog.title = QStringLiteral("Записаь картинку в файл");
  SavePictureDialog.defaultName = QStringLiteral("NoName.bmp");
  SavePictureDialog.filter = QStringLiteral("Bitmaps (*.bmp)");
  TxtSaveDialog.title = QStringLiteral("Записать в текстовый файл");
  TxtSaveDialog.defaultName = QStringLiteral("noname.txt");
  TxtSaveDialog.filter = QStringLiteral("*.txt (*.txt);;*.* (*)");
  TxtSaveDialog.defaultSuffix = QStringLiteral("txt");

  FormCreate();
}

TRxDrawForm::~TRxDrawForm() = default;

// ---- Construction ---------------------------------------------------------------------------------------

void TRxDrawForm::createControls() {
  // The stored controls are created in the order of the window's section in the state file:
  // DrawCheckBox, WidthTrackBar, RangeRadioGroup, R50CheckBox, MesuarePageControl and its
  // pages, and VertTrackBar last. Layouts place them; the order of creation is only for
  // the state walker.
  DrawCheckBox = new QCheckBox(QStringLiteral("Выводить данные"), this);
  DrawCheckBox->setObjectName(QStringLiteral("DrawCheckBox"));
  DrawCheckBox->setChecked(true);
  setBold(DrawCheckBox);

  ZoomUnDoButton = new QPushButton(QStringLiteral("Отмена Zoom"), this);
  ZoomUnDoButton->setObjectName(QStringLiteral("ZoomUnDoButton"));
  ZoomUnDoButton->setAutoDefault(false);
  HelpBitBtn = new QPushButton(QStringLiteral("Помощь"), this);
  HelpBitBtn->setObjectName(QStringLiteral("HelpBitBtn"));
  HelpBitBtn->setAutoDefault(false);

  RxBufferChart = new TChart(this);
  RxBufferChart->setObjectName(QStringLiteral("RxBufferChart"));
  RxBufferChart->setMinimumSize(200, 150);
  RxBufferChart->setAxisTitle(ChartAxis::Left, QStringLiteral("В"));
  RxBufferChart->setAxisTitle(ChartAxis::Bottom, QStringLiteral("мкс"));
  RxBufferChart->setAxisLabelFormat(ChartAxis::Bottom, QStringLiteral("#,##0.0##"));
  RxBufferChart->setAxisVisible(ChartAxis::Right, false);
  RxBufferChart->setAxisVisible(ChartAxis::Top, false);

  WidthTrackBar = new TTrackBar(Qt::Horizontal, this);
  WidthTrackBar->setObjectName(QStringLiteral("WidthTrackBar"));
  WidthTrackBar->setRange(0, 99);
  WidthTrackBar->setValue(48);
  WidthTrackBar->setPageStep(2);
  WidthTrackBar->setTickPosition(QSlider::TicksBelow);
  WidthTrackBar->setTickInterval(1);

  RangeRadioGroup = new TRadioGroup(this);
  RangeRadioGroup->setObjectName(QStringLiteral("RangeRadioGroup"));
  RangeRadioGroup->setTitle(QStringLiteral("Диапазон амплитуд \"Вход ЗИ\""));
  setBold(RangeRadioGroup);
  RangeRadioGroup->setColumns(3);
  RangeRadioGroup->setItems({QStringLiteral("300В"), QStringLiteral("150В"), QStringLiteral("50В")});
  RangeRadioGroup->setItemIndex(0);

  R50CheckBox = new QCheckBox(QStringLiteral("Нагрузка 50 Ом"), this);
  R50CheckBox->setObjectName(QStringLiteral("R50CheckBox"));
  restyle(R50CheckBox, false);

  Label8 = makeLabel(this, "Label8", QStringLiteral("Частота ЗИ"));
  FZILabel = makeLabel(this, "FZILabel", QStringLiteral("00 000 Гц"));
  setBold(FZILabel);

  MesuarePageControl = new TPageControl(this);
  MesuarePageControl->setObjectName(QStringLiteral("MesuarePageControl"));
  const char* const pageNames[3] = {"MarkersTabSheet", "PulseTabSheet", "ZoomTabSheet"};
  const QString captions[3] = {QStringLiteral("Маркеры"), QStringLiteral("Импульс"), QStringLiteral("Zoom")};
  QWidget* pages[3];
  for (int i = 0; i < 3; ++i) {
    pages[i] = new QWidget;
    pages[i]->setObjectName(QLatin1String(pageNames[i]));
    MesuarePageControl->addTab(pages[i], captions[i]);
  }
  createMarkersPage(pages[MarkersPage]);
  createPulsePage(pages[PulsePage]);
  createZoomPage(pages[ZoomPage]);
  MesuarePageControl->setActivePageIndex(ZoomPage);
  MesuarePageControl->setFixedHeight(150);
  // A tab widget lowers every page it adds and raises the page it shows, which reorders the
  // pages among its children; the state walker visits children in order, so they are put
  // back in page order whenever the page changes (only the shown page is painted anyway).
  auto keepPageOrder = [this] {
    for (int i = 0; i < MesuarePageControl->count(); ++i) MesuarePageControl->widget(i)->raise();
  };
  keepPageOrder();
  connect(MesuarePageControl, &QTabWidget::currentChanged, this, keepPageOrder);

  VertTrackBar = new TTrackBar(Qt::Vertical, this);
  VertTrackBar->setObjectName(QStringLiteral("VertTrackBar"));
  VertTrackBar->setRange(-40, 40);
  VertTrackBar->setValue(0);
  VertTrackBar->setPageStep(1);
  VertTrackBar->setSelection(-1, 1);
  VertTrackBar->setFixedWidth(22);  // room for the mark of the selection beside the groove
  // The position is subtracted from the trace: -40 sits at the top, so thumb up = trace up.
  VertTrackBar->setInvertedAppearance(true);
  VertTrackBar->setInvertedControls(true);

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(50);

  auto* top = new QHBoxLayout;
  top->addWidget(DrawCheckBox);
  top->addStretch(1);
  top->addWidget(ZoomUnDoButton);
  top->addWidget(HelpBitBtn);
  auto* frequency = new QVBoxLayout;
  frequency->addWidget(Label8);
  frequency->addWidget(FZILabel);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(RangeRadioGroup);
  bottom->addWidget(R50CheckBox);
  bottom->addStretch(1);
  bottom->addLayout(frequency);
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setSpacing(2);
  grid->addLayout(top, 0, 0, 1, 2);
  grid->addWidget(VertTrackBar, 1, 0);
  grid->addWidget(RxBufferChart, 1, 1);
  grid->addWidget(WidthTrackBar, 2, 1);
  grid->addWidget(MesuarePageControl, 3, 0, 1, 2);
  grid->addLayout(bottom, 4, 0, 1, 2);
  grid->setRowStretch(1, 1);
  grid->setColumnStretch(1, 1);

  connect(ZoomUnDoButton, &QPushButton::clicked, this, &TRxDrawForm::ZoomUnDoButtonClick);
  connect(HelpBitBtn, &QPushButton::clicked, this, &TRxDrawForm::HelpBitBtnClick);
  connect(WidthTrackBar, &QSlider::valueChanged, this, &TRxDrawForm::WidthTrackBarChange);
  connect(RangeRadioGroup, &TRadioGroup::clicked, this, &TRxDrawForm::RangeRadioGroupClick);
  connect(R50CheckBox, &QCheckBox::toggled, this, &TRxDrawForm::R50CheckBoxClick);
  connect(MesuarePageControl, &TPageControl::pageChangedByUser, this, &TRxDrawForm::MesuarePageControlChange);
  connect(MaxCheckBox, &QCheckBox::toggled, this, &TRxDrawForm::MaxCheckBoxClick);
  connect(WidthCheckBox, &QCheckBox::toggled, this, &TRxDrawForm::WidthCheckBoxClick);
  connect(Timer, &QTimer::timeout, this, &TRxDrawForm::TimerTimer);
  connect(RxBufferChart, &TChart::mouseDown, this, &TRxDrawForm::RxBufferChartMouseDown);
  connect(RxBufferChart, &TChart::mouseMove, this, &TRxDrawForm::RxBufferChartMouseMove);
}

void TRxDrawForm::createMarkersPage(QWidget* page) {
  ChooseMarkerRadioGroup = new TRadioGroup(page);
  ChooseMarkerRadioGroup->setObjectName(QStringLiteral("ChooseMarkerRadioGroup"));
  ChooseMarkerRadioGroup->setTitle(QStringLiteral("Маркер"));
  ChooseMarkerRadioGroup->setItems({QStringLiteral("1 красный"), QStringLiteral("2 синий")});
  ChooseMarkerRadioGroup->setItemIndex(0);
  const QString volts = QStringLiteral("  ??? В");
  const QString micro = QStringLiteral("  ??? мкс");
  A1_Edit = makeReadout(page, "A1_Edit", volts, kRed);
  T1_Edit = makeReadout(page, "T1_Edit", micro, kRed);
  A2_Edit = makeReadout(page, "A2_Edit", volts, kBlue);
  T2_Edit = makeReadout(page, "T2_Edit", micro, kBlue);
  Label1 = makeLabel(page, "Label1", QStringLiteral("Разность красный - синий"));
  DA_Edit = makeReadout(page, "DA_Edit", volts, Qt::black);
  DT_Edit = makeReadout(page, "DT_Edit", micro, Qt::black);

  auto* g = new QGridLayout(page);
  g->setContentsMargins(6, 6, 6, 6);
  g->addWidget(ChooseMarkerRadioGroup, 0, 0, 3, 1);
  g->addWidget(A1_Edit, 0, 1);
  g->addWidget(T1_Edit, 0, 2);
  g->addWidget(A2_Edit, 1, 1);
  g->addWidget(T2_Edit, 1, 2);
  g->addWidget(Label1, 2, 1, 1, 2, Qt::AlignHCenter | Qt::AlignBottom);
  g->addWidget(DA_Edit, 3, 1);
  g->addWidget(DT_Edit, 3, 2);
  g->setColumnStretch(1, 1);
  g->setColumnStretch(2, 1);
}

void TRxDrawForm::createPulsePage(QWidget* page) {
  LevelLabel = makeLabel(page, "LevelLabel", QStringLiteral("Уровень (%)"));
  LevelPBSpinEdit = new TIntSpinEdit(page);
  LevelPBSpinEdit->setObjectName(QStringLiteral("LevelPBSpinEdit"));
  LevelPBSpinEdit->setMaxValue(99);
  LevelPBSpinEdit->setMinValue(1);
  LevelPBSpinEdit->setValue(50);
  LevelPBSpinEdit->setAlignment(Qt::AlignCenter);
  LevelPBSpinEdit->setFixedWidth(64);
  Label7 = makeLabel(page, "Label7", QStringLiteral("от нуля шкалы"));
  MaxCheckBox = new QCheckBox(QStringLiteral("Пиковое значение"), page);
  MaxCheckBox->setObjectName(QStringLiteral("MaxCheckBox"));
  MaxCheckBox->setChecked(true);
  MaxSignalEdit = makeReadout(page, "MaxSignalEdit", QStringLiteral("  ??? В"), Qt::black);
  setBold(MaxSignalEdit, 14);
  WidthCheckBox = new QCheckBox(QStringLiteral("Длительность"), page);
  WidthCheckBox->setObjectName(QStringLiteral("WidthCheckBox"));
  WidthCheckBox->setChecked(true);
  WidthSignalEdit = makeReadout(page, "WidthSignalEdit", QStringLiteral("??? мкс"), Qt::black);
  setBold(WidthSignalEdit, 14);

  auto* level = new QHBoxLayout;
  level->addWidget(LevelLabel);
  level->addWidget(LevelPBSpinEdit);
  level->addWidget(Label7);
  level->addStretch(1);
  auto* g = new QGridLayout(page);
  g->setContentsMargins(6, 6, 6, 6);
  g->addLayout(level, 0, 0, 1, 2);
  g->addWidget(MaxCheckBox, 1, 0);
  g->addWidget(MaxSignalEdit, 2, 0);
  g->addWidget(WidthCheckBox, 1, 1);
  g->addWidget(WidthSignalEdit, 2, 1);
}

void TRxDrawForm::createZoomPage(QWidget* page) {
  Label2 = makeLabel(page, "Label2",
                     QStringLiteral("Для изменения масштаба и сдвига графика отключите вывод данных !!!"));
  setBold(Label2);
  Label3 =
      makeLabel(page, "Label3", QStringLiteral("Удерживая левую кнопку мыши выбирайте область наблюдения"));
  Label4 = makeLabel(page, "Label4", QStringLiteral("Удерживая правую кнопку мыши, сдвигайте график"));
  Label5 = makeLabel(page, "Label5",
                     QStringLiteral("Для возврата в исходное состояние нажмите кнопку - Отмена Zoom"));
  auto* v = new QVBoxLayout(page);
  v->setContentsMargins(8, 6, 8, 6);
  for (QLabel* l : {Label2, Label3, Label4, Label5}) {
    l->setWordWrap(true);  // the window may be made narrower than the longest text
    v->addWidget(l);
  }
  v->addStretch(1);
}

void TRxDrawForm::createSeries() {
  using K = TChartSeries::Kind;
  using M = TChartSeries::Marker;
  TChart* c = RxBufferChart;
  Series1 = c->addSeries(K::FastLine);
  Series2 = c->addSeries(K::Line);
  Series3 = c->addSeries(K::HorizBarArrow);
  Series4 = c->addSeries(K::Arrow);
  Series5 = c->addSeries(K::Point);
  Series6 = c->addSeries(K::Line);
  Series7 = c->addSeries(K::Point);
  Series8 = c->addSeries(K::Point);
  Series9 = c->addSeries(K::Line);
  Series10 = c->addSeries(K::Point);

  Series1->setColor(Qt::black);
  Series2->setColor(kRed);
  Series2->setMarker(M::Square);
  Series2->setValueFormat(QStringLiteral("#0.0 В"));
  Series2->setMarksVisible(true);
  Series3->setColor(kRed);
  Series4->setColor(kRed);
  for (TChartSeries* s : {Series5, Series8}) s->setMarker(M::Diamond);
  for (TChartSeries* s : {Series6, Series9}) s->setMarker(M::SmallDot);
  for (TChartSeries* s : {Series7, Series10}) {
    s->setMarker(M::SmallSquare);
    s->setValueFormat(QStringLiteral("##0.# В"));
  }
  for (TChartSeries* s : {Series5, Series6}) s->setColor(kRed);
  for (TChartSeries* s : {Series8, Series9}) s->setColor(kBlue);
  for (TChartSeries* s : {Series7, Series10}) s->setColor(Qt::black);

  // The design look of the two boxes the state file may change before the trace exists.
  MaxCheckBoxClick();
  WidthCheckBoxClick();
}

void TRxDrawForm::createPopupMenu() {
  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  N3 = PopupMenu->addAction(QStringLiteral("Сохранить картинку"));  // a heading: does nothing
  N3->setObjectName(QStringLiteral("N3"));
  N4 = PopupMenu->addSeparator();
  N4->setObjectName(QStringLiteral("N4"));
  SaveToClipBoardN5 = PopupMenu->addAction(QStringLiteral("в буфер обмена"));
  SaveToClipBoardN5->setObjectName(QStringLiteral("SaveToClipBoardN5"));
  SaveToBMPFileN6 = PopupMenu->addAction(QStringLiteral("в граф. файл (*.bmp)"));
  SaveToBMPFileN6->setObjectName(QStringLiteral("SaveToBMPFileN6"));
  N2 = PopupMenu->addAction(QStringLiteral("в текстовый файл"));
  N2->setObjectName(QStringLiteral("N2"));
  connect(SaveToClipBoardN5, &QAction::triggered, this, &TRxDrawForm::SaveToClipBoardN5Click);
  connect(SaveToBMPFileN6, &QAction::triggered, this, &TRxDrawForm::SaveToBMPFileN6Click);
  connect(N2, &QAction::triggered, this, &TRxDrawForm::N2Click);
  RxBufferChart->setPopupMenu(PopupMenu);
}

void TRxDrawForm::FormCreate() {
  // Beside the control panel, tops level, a 2-pixel gap.
  if (panel_) {
    const QRect frame = panel_->panelFrame();
    move(frame.x() + frame.width() + 2, frame.y());
  }
  if (loadOwnSection) loadOwnSection(this);

  rxData_.fill(0);
  // Until the first redraw the trace runs from 0 (the buffer's first sample at time 0).
  for (int j = 0; j < rx::kSamples; ++j) Series1->add(j * rx::kSampleUs, 0);
  Series2->add(0, 0);
  Series3->add(-0.16, syncLevel());  // unscaled until the first redraw
  Series4->addArrow(0, 0, 0, 0);
  Series4->addArrow(0, 0, 0, 0);
  Series5->add(0, 25);
  Series6->add(0, 50);
  Series6->add(0, -50);
  Series7->add(0, 0);
  Series8->add(0.02, 25);
  Series9->add(0.02, 50);
  Series9->add(0.02, -50);
  Series10->add(0.02, 0);
  ZoomUnDoButtonClick();
  widthTrackBarReady_ = true;
  // The series of the pages follow the page from the start, not only from the first
  // activation of the window.
  MesuarePageControlChange();
}

int TRxDrawForm::syncLevel() const { return panel_ ? panel_->syncLevel() : 0; }

bool TRxDrawForm::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

void TRxDrawForm::FormActivate() { MesuarePageControlChange(); }

// ---- Panel settings -------------------------------------------------------------------------------------

bool TRxDrawForm::load50Ohm() const { return R50CheckBox->isChecked(); }

void TRxDrawForm::setProbeFrequencyText(const QString& text) { FZILabel->setText(text); }

void TRxDrawForm::RangeRadioGroupClick() {
  switch (RangeRadioGroup->itemIndex()) {
    case 0:
      rangeCode_ = 0;
      break;
    case 1:
      rangeCode_ = 1;
      break;
    case 2:
      rangeCode_ = 3;
      break;  // the device's code for 50 V is 3, not 2
    default:
      rangeCode_ = 0;
      break;
  }
}

void TRxDrawForm::R50CheckBoxClick() { restyle(R50CheckBox, R50CheckBox->isChecked()); }

void TRxDrawForm::HelpBitBtnClick() {
  dialogs().information(this, QString(),
                        QStringLiteral("Извините, справочная система еще не разработана.\r"
                                       "Читайте руководство по эксплуатации QZ418.\r"
                                       "В принципе должно быть и так все понятно."));
}

// ---- Trace ----------------------------------------------------------------------------------------------

void TRxDrawForm::ZoomUnDoButtonClick() {
  const int item = RangeRadioGroup->itemIndex();
  if (item >= 0 && item < 3) k_ = kVoltsPerCount[item];
  const double span = kAxisCounts * k_;
  RxBufferChart->setAxisRange(ChartAxis::Left, -span, span);
  RxBufferChart->setAxisRange(ChartAxis::Right, -span, span);
  RxBufferChart->setAxisAutomatic(ChartAxis::Top);
  RxBufferChart->setAxisAutomatic(ChartAxis::Bottom);
}

void TRxDrawForm::ShowRxBuffer(rx::Samples samples) {
  if (!DrawCheckBox->isChecked()) return;
  rx::convertSamples(samples, rxData_);
  rx::smoothInPlace(rxData_);
  RxBufferChart->holdReplots(kPaintHoldMs);
  RedrawRxChart(false);
}

void TRxDrawForm::PaintRxChart() { RxBufferChart->releaseReplots(); }

void TRxDrawForm::WidthTrackBarChange() {
  if (widthTrackBarReady_) RedrawRxChart();
}

void TRxDrawForm::RedrawRxChart(bool paintNow) {
  ZoomUnDoButtonClick();
  // "50В" divides the input by 3 before the converter, so its counts are worth 3 k.
  const bool range50 = RangeRadioGroup->itemIndex() == 2;
  const double s = range50 ? 3 * k_ : k_;
  const double offset = VertTrackBar->value();
  const int width = WidthTrackBar->value();
  const int length = rx::displayLength(width);

  Series1->setActive(false);
  for (int i = 0; i < rx::kSamples; ++i) Series1->setXY(i, rx::traceTime(i), s * rxData_[i] - offset);
  // Points beyond the display length all lie on one point right of the last shown one.
  const double endY = Series1->y(length - 1);
  const double endX = rx::traceTime(length);
  for (int j = length; j < rx::kSamples; ++j) Series1->setXY(j, endX, endY);
  Series1->setActive(true);
  Series1->repaint();

  Series3->setActive(false);
  Series3->setXY(0, rx::syncArrowTime(width), syncLevel() * 2 * k_ * (range50 ? 3 : 1) - offset);
  Series3->setActive(true);
  Series3->repaint();

  const double end = Series1->x(length);
  for (TChartSeries* m : {Series5, Series6, Series7, Series8, Series9, Series10})
    for (int i = 0; i < m->count(); ++i)
      if (m->x(i) >= end) m->setX(i, end);

  if (MesuarePageControl->activePageIndex() == PulsePage) MeasurePulse();
  if (paintNow) RxBufferChart->replotNow();
}

// ---- Markers and measurement ----------------------------------------------------------------------------

void TRxDrawForm::MesuarePageControlChange() {
  const int page = MesuarePageControl->activePageIndex();
  MesuarePageControl->clearHighlights();
  if (page >= 0) MesuarePageControl->setTabHighlighted(page, true);

  const bool markers = page == MarkersPage;
  for (TChartSeries* s : {Series5, Series6, Series7, Series8, Series9, Series10}) s->setActive(markers);
  if (markers)
    Timer->start();
  else
    Timer->stop();

  const bool pulse = page == PulsePage;
  for (TChartSeries* s : {Series2, Series3, Series4}) s->setActive(pulse);

  RxBufferChart->setZoomAllowed(page == ZoomPage);
}

void TRxDrawForm::RxBufferChartMouseDown(Qt::MouseButton, Qt::MouseButtons buttons,
                                         Qt::KeyboardModifiers modifiers, QPointF pos) {
  if (MesuarePageControl->activePageIndex() == MarkersPage) RxBufferChartMouseMove(buttons, modifiers, pos);
}

void TRxDrawForm::RxBufferChartMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers,
                                         QPointF pos) {
  // Exactly the left button: no other button, no Shift, Ctrl or Alt.
  if (buttons != Qt::LeftButton) return;
  if (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) return;

  TChart* c = RxBufferChart;
  double x = rx::snapToSample(c->pixelToValue(ChartAxis::Bottom, pos.x()));
  double y = c->pixelToValue(ChartAxis::Left, pos.y());
  x = std::max(x, 0.0);
  x = std::min(x, c->axisMaximum(ChartAxis::Bottom));
  y = std::max(y, c->axisMinimum(ChartAxis::Right));
  y = std::min(y, c->axisMaximum(ChartAxis::Right));

  TChartSeries *handle, *line, *value;
  switch (ChooseMarkerRadioGroup->itemIndex()) {
    case 0:
      handle = Series5, line = Series6, value = Series7;
      break;
    case 1:
      handle = Series8, line = Series9, value = Series10;
      break;
    default:
      handle = line = value = nullptr;
      break;
  }
  if (handle) {
    handle->setXY(0, x, y);
    line->setXY(0, x, c->axisMaximum(ChartAxis::Left));  // a full-height line
    line->setXY(1, x, c->axisMinimum(ChartAxis::Left));
    value->setX(0, x);
    for (TChartSeries* s : {handle, line, value}) s->repaint();
  }
  UpdateMarkerReadout();
  c->replotNow();
}

void TRxDrawForm::UpdateMarkerReadout() {
  const FormatSettings& fs = appFormatSettings();
  TChartSeries* values[2] = {Series7, Series10};
  QLineEdit* timeFields[2] = {T1_Edit, T2_Edit};
  QLineEdit* voltFields[2] = {A1_Edit, A2_Edit};
  double t[2], a[2];
  for (int m = 0; m < 2; ++m) {
    t[m] = values[m]->x(0);
    timeFields[m]->setText(rx::markerTimeText(t[m], fs));
    // A marker right of the last point (the chart scrolled past the trace end) reads the
    // last point, which is where the trace ends; one left of the first reads the first.
    const int n = std::clamp(rx::markerTraceIndex(t[m]), 0, Series1->count() - 1);
    const double v = Series1->y(n);
    values[m]->setY(0, v);
    values[m]->repaint();
    markerHistory_[m].push(v);
    a[m] = markerHistory_[m].average();
    voltFields[m]->setText(rx::voltageText(a[m], fs));
  }
  DA_Edit->setText(rx::voltageText(a[0] - a[1], fs));
  DT_Edit->setText(rx::markerTimeText(t[0] - t[1], fs));
}

void TRxDrawForm::TimerTimer() { UpdateMarkerReadout(); }

void TRxDrawForm::MeasurePulse() {
  const FormatSettings& fs = appFormatSettings();
  const TChartSeries* trace = Series1;
  const int n = trace->count();
  auto x = [trace](int i) { return trace->x(i); };
  auto y = [trace](int i) { return trace->y(i); };

  // The sync level's sign says which way the pulse goes.
  const bool positive = syncLevel() > 0;
  const rx::Peak peak = rx::findPeak(n, positive, y);
  Series2->setMarksArrowLength(positive ? 6 : -23);  // the mark above a positive peak, below a negative one

  peakHistory_.push(peak.value);
  const double p = peakHistory_.average();
  peakTimeHistory_.push(x(peak.index));
  const double tp = peakTimeHistory_.average();
  Series2->setXY(0, tp, p);
  Series2->setValueFormat(rx::peakMarkFormat(p));
  Series2->setActive(MaxCheckBox->isChecked());
  Series2->repaint();
  if (MaxCheckBox->isChecked()) MaxSignalEdit->setText(rx::voltageText(p, fs));

  const double level = LevelPBSpinEdit->value() * p / 100;
  const double start = x(peak.index);
  const double r = rx::rightCrossing(n, peak.index, level, x, y);
  const double l = rx::leftCrossing(n, peak.index, level, x, y);
  Series4->setArrow(0, start, level, l, level);
  Series4->setArrow(1, start, level, r, level);
  Series4->setActive(WidthCheckBox->isChecked());
  Series4->repaint();
  if (WidthCheckBox->isChecked()) WidthSignalEdit->setText(rx::pulseWidthText(r - l, fs));
}

void TRxDrawForm::MaxCheckBoxClick() {
  Series2->setMarksVisible(MaxCheckBox->isChecked());
  restyle(MaxSignalEdit, MaxCheckBox->isChecked());
}

void TRxDrawForm::WidthCheckBoxClick() {
  Series4->setArrowHeadsVisible(WidthCheckBox->isChecked());
  restyle(WidthSignalEdit, WidthCheckBox->isChecked());
}

// ---- Export ---------------------------------------------------------------------------------------------

QPixmap TRxDrawForm::chartBitmap() { return RxBufferChart->toBitmap(); }

void TRxDrawForm::SaveToClipBoardN5Click() { QApplication::clipboard()->setPixmap(chartBitmap()); }

void TRxDrawForm::SaveToBMPFileN6Click() {
  const QString name = dialogs().saveFile(this, SavePictureDialog);
  if (name.isEmpty()) return;
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  // The format is given, so a name typed without ".bmp" is written as typed.
  chartBitmap().save(&buffer, "BMP");
  writeFile(name, bytes);
}

void TRxDrawForm::N2Click() {
  const QString name = dialogs().saveFile(this, TxtSaveDialog);
  if (name.isEmpty()) return;
  SaveChartText(name);
}

bool TRxDrawForm::SaveChartText(const QString& fileName) {
  const FormatSettings& fs = appFormatSettings();
  const int count = Series1->count();
  QString text;
  text.reserve(count * 26);
  for (int i = 0; i < count; ++i) {
    text += formatFloat(u"0.00000E+00", static_cast<long double>(Series1->x(i)) * 1e-6L, fs);
    text += u' ';
    text += formatFloat(u"0.00000E+00", Series1->y(i), fs);
    text += QLatin1String("\r\n");
  }
  return writeFile(fileName, toCp1251(text));
}

bool TRxDrawForm::writeFile(const QString& fileName, const QByteArray& bytes) {
  // Written whole or not at all: a file that cannot be made leaves everything as it was.
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    file.cancelWriting();
    dialogs().warning(this, QString(), QStringLiteral("Cannot create file %1").arg(fileName));
    return false;
  }
  return true;
}
