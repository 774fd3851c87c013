#pragma once
// The receive view: the probe-pulse input plotted over time, with two markers, the automatic
// pulse measurement, zoom and export. It also keeps the two input settings the command
// packet carries: the amplitude range and the 50-ohm load.
//
// Every exchange cycle hands the 4096 samples to ShowRxBuffer on the UI thread; the samples
// are converted to counts in RxData, smoothed in place and drawn in volts over microseconds.

#include <QPointF>
#include <QWidget>
#include <functional>

#include "rxview/rx_signal.h"
#include "rxview/rx_view_panel.h"
#include "widgets/dialogs.h"

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class TChart;
class TChartSeries;
class TIntSpinEdit;
class TPageControl;
class TRadioGroup;
class TTrackBar;

class TRxDrawForm : public QWidget {
  Q_OBJECT
 public:
  // panel: where the view opens and the level its marker starts from; none in tests of the
  // view alone.
  explicit TRxDrawForm(RxViewPanel* panel = nullptr, QWidget* parent = nullptr);
  ~TRxDrawForm() override;

  // Reads this window's section of the state file while the window is created (before the
  // trace is set up). Empty: nothing is read. Set by the form-state code.
  static inline std::function<void(QWidget*)> loadOwnSection;

  // The input range code the packet carries: 0 "300В", 1 "150В", 3 "50В".
  int rangeCode() const { return rangeCode_; }
  bool load50Ohm() const;
  void setProbeFrequencyText(const QString& text);

  // One receive buffer, unless "Выводить данные" is off: converted, smoothed and put into the
  // chart's series (what TRACe:DATA?, the measurement and the markers read). The chart is
  // painted only once PaintRxChart() says the cycle's hand-overs are over, so the painting
  // falls into the pause between cycles instead of holding up the exchange.
  void ShowRxBuffer(rx::Samples samples);
  // After the cycle's last hand-over: paints what ShowRxBuffer put into the chart (on the next
  // turn of the event loop; at the latest kPaintHoldMs after ShowRxBuffer).
  void PaintRxChart();
  static constexpr int kPaintHoldMs = 40;
  // Rebuilds the trace and the sync-level arrow from RxData; undoes any zoom. Paints at once
  // unless paintNow is false (then the chart paints when it is let).
  void RedrawRxChart(bool paintNow = true);
  void WidthTrackBarChange();
  void RangeRadioGroupClick();
  void R50CheckBoxClick();
  void HelpBitBtnClick();
  // The standard scale: the vertical axes +-260 counts of the selected range, time automatic.
  void ZoomUnDoButtonClick();
  void FormActivate();

  // Measurement modes of the three pages.
  void MesuarePageControlChange();
  void RxBufferChartMouseDown(Qt::MouseButton button, Qt::MouseButtons buttons,
                              Qt::KeyboardModifiers modifiers, QPointF pos);
  void RxBufferChartMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, QPointF pos);
  void UpdateMarkerReadout();
  void TimerTimer();
  void MeasurePulse();
  void MaxCheckBoxClick();
  void WidthCheckBoxClick();

  // Export through the chart's popup menu.
  void SaveToClipBoardN5Click();
  void SaveToBMPFileN6Click();
  void N2Click();
  // All trace points as "time value" lines (seconds, volts), CR LF, cp1251. False (after
  // telling the operator) when the file cannot be written; nothing is written then.
  bool SaveChartText(const QString& fileName);
  QPixmap chartBitmap();

  double voltsPerCount() const { return k_; }
  const rx::RxData& rxData() const { return rxData_; }

  // Controls, in the order they are created (the state file lists the stored ones so).
  QCheckBox* DrawCheckBox = nullptr;
  QPushButton* ZoomUnDoButton = nullptr;
  QPushButton* HelpBitBtn = nullptr;
  TChart* RxBufferChart = nullptr;
  TTrackBar* WidthTrackBar = nullptr;
  TRadioGroup* RangeRadioGroup = nullptr;
  QCheckBox* R50CheckBox = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* FZILabel = nullptr;
  TPageControl* MesuarePageControl = nullptr;
  // Page "Маркеры"
  TRadioGroup* ChooseMarkerRadioGroup = nullptr;
  QLineEdit* A1_Edit = nullptr;
  QLineEdit* T1_Edit = nullptr;
  QLineEdit* A2_Edit = nullptr;
  QLineEdit* T2_Edit = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* DA_Edit = nullptr;
  QLineEdit* DT_Edit = nullptr;
  // Page "Импульс"
  QLabel* LevelLabel = nullptr;
  TIntSpinEdit* LevelPBSpinEdit = nullptr;
  QLabel* Label7 = nullptr;
  QCheckBox* MaxCheckBox = nullptr;
  QLineEdit* MaxSignalEdit = nullptr;
  QCheckBox* WidthCheckBox = nullptr;
  QLineEdit* WidthSignalEdit = nullptr;
  // Page "Zoom": the four instructions, top to bottom.
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  TTrackBar* VertTrackBar = nullptr;

  QTimer* Timer = nullptr;
  QMenu* PopupMenu = nullptr;
  QAction* N3 = nullptr;
  QAction* N4 = nullptr;
  QAction* SaveToClipBoardN5 = nullptr;
  QAction* SaveToBMPFileN6 = nullptr;
  QAction* N2 = nullptr;
  FileDialogRequest SavePictureDialog;
  FileDialogRequest TxtSaveDialog;

  // The trace, the pulse marks (2 peak, 3 sync level, 4 width arrows) and the markers
  // (5-7 marker 1, red; 8-10 marker 2, blue: handle, vertical line, value on the trace).
  TChartSeries *Series1 = nullptr, *Series2 = nullptr, *Series3 = nullptr, *Series4 = nullptr,
               *Series5 = nullptr, *Series6 = nullptr, *Series7 = nullptr, *Series8 = nullptr,
               *Series9 = nullptr, *Series10 = nullptr;

 protected:
  bool event(QEvent* e) override;

 private:
  RxViewPanel* panel_;
  void createControls();
  void createMarkersPage(QWidget* page);
  void createPulsePage(QWidget* page);
  void createZoomPage(QWidget* page);
  void createSeries();
  void createPopupMenu();
  void FormCreate();
  int syncLevel() const;
  bool writeFile(const QString& fileName, const QByteArray& bytes);

  int rangeCode_ = 0;                // the radio group's tag
  bool widthTrackBarReady_ = false;  // the width slider's tag: redraws once the window is made
  double k_ = 300.0 / 256;           // VoltsPerCount, set by the zoom reset only
  rx::RxData rxData_{};
  rx::History<8> peakHistory_;
  rx::History<8> peakTimeHistory_;
  rx::History<16> markerHistory_[2];
};
