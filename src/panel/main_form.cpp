#include "panel/main_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

#include "base/number_text.h"
#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "rxview/rx_draw_form.h"
#include "usb/link_form.h"
#include "widgets/int_spin_edit.h"
#include "widgets/message_form.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "widgets/status_bar.h"

// The exchange's hand-over payloads are the panel's own types.
static_assert(usb::kStatusPayloadSize == kStatusReportSize);
static_assert(usb::kCommandPayloadSize == kCommandPacketSize);

std::function<DriveInfo(const QString&)> TMainForm::driveOfPath = [](const QString& path) {
  return driveOf(path);
};

namespace {

// The kinds of real-valued fields and their limits; the same on both channels and pages.
struct RealKind {
  long double min, max;
  int decimals;
  long double increment;
  bool round;
  int maxLength;
  long double value;
};
constexpr RealKind kAmplitude{-60, 0, 1, 0.1L, false, 5, -2.3L};
constexpr RealKind kDelay{0.05L, 80000, 3, 0.005L, true, 11, 100.245L};
constexpr RealKind kDuration{0.05L, 320, 3, 0.005L, true, 10, 100.245L};
constexpr RealKind kFrequency{0.1L, 16, 2, 0.01L, true, 11, 2.5L};
constexpr RealKind kAmFrequency{0.01L, 100, 2, 0.01L, true, 11, 1};
constexpr RealKind kPause{0.05L, 320, 3, 0.005L, true, 10, 100.245L};
constexpr RealKind kFrequencyStep{0, 2, 2, 0.01L, true, 11, 0.5L};
constexpr RealKind kLoss{-10, 0, 1, 0.1L, false, 4, -6};
constexpr RealKind kClockPeriod{10, 1000000, 1, 0.1L, true, 10, 1000};

const char* const kModeCaptions[5] = {"Импульс", "А серия", "F серия", "Синус", "ВЫКЛ"};
const char* const kModeLetters[4] = {"I", "A", "F", "S"};
const char* const kPageNames[2][5] = {{"TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4", "TabSheet11"},
                                      {"TabSheet6", "TabSheet7", "TabSheet8", "TabSheet9", "TabSheet12"}};

const QColor kGrey(128, 128, 128);

// Page layout: labels left, fields right, one row every kRow pixels.
constexpr int kLabelX = 10;
constexpr int kFieldX = 196;
constexpr int kFieldW = 118;
constexpr int kFieldH = 21;
constexpr int kRow = 26;
constexpr int kTop = 8;
constexpr int kSubIndent = 18;  // a field that belongs to the check box above it

QString name(int channel, const char* letter, const char* part) {
  return QStringLiteral("Ch%1%2_%3").arg(channel + 1).arg(QLatin1String(letter), QLatin1String(part));
}

TRealSpinEdit* makeReal(QWidget* parent, const QString& objectName, const RealKind& k) {
  auto* f = new TRealSpinEdit(parent);
  f->setObjectName(objectName);
  // The maximum goes first: a positive minimum is refused while the maximum is still 0.
  f->setMaxValue(k.max);
  f->setMinValue(k.min);
  f->setNumberFormat(NumberFormat::Thousands);
  f->setDecimals(k.decimals);
  f->setIncrement(k.increment);
  f->setRoundValues(k.round);
  f->setMaxLength(k.maxLength);
  f->setAlignment(Qt::AlignCenter);
  f->setValue(k.value);
  return f;
}

QLabel* makeLabel(QWidget* parent, const QString& text, int x, int y, int w = kFieldX - kLabelX - 6) {
  auto* l = new QLabel(text, parent);
  l->setGeometry(x, y, w, kFieldH);
  l->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
  return l;
}

void placeRow(QWidget* field, int row) { field->setGeometry(kFieldX, kTop + row * kRow, kFieldW, kFieldH); }

QCheckBox* makeCheck(QWidget* parent, const QString& objectName, const QString& caption, bool checked, int x,
                     int y, int w = 180) {
  auto* c = new QCheckBox(caption, parent);
  c->setObjectName(objectName);
  c->setChecked(checked);
  c->setGeometry(x, y, w, kFieldH);
  return c;
}

QFont boldFont(const QWidget* w, bool bold = true, int extraPoints = 0) {
  QFont f = w->font();
  f.setBold(bold);
  if (extraPoints) f.setPointSize(f.pointSize() + extraPoints);
  return f;
}

void setTextColor(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Text, c);
  p.setColor(QPalette::WindowText, c);
  w->setPalette(p);
}

// The field's value, kept within its limits while a value is typed and read as the minimum
// (the quietest and shortest setting, never 0 dB) from text that is no number; a remote
// query reads the same. A mode page without the quantity sends 0.
long double packetValue(const TRealSpinEdit* f) { return f ? f->value() : 0; }

}  // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint) {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Синтезатор сигналов QZ418 версия C"));
  setFixedSize(703, 671);
  // The panel was laid out for an 8-point font; the platform's default is larger.
  QFont f = font();
  f.setPointSize(8);
  setFont(f);

  createToolBar();
  CommentEdit = new QLineEdit(QStringLiteral("Комментарии"), this);
  CommentEdit->setObjectName(QStringLiteral("CommentEdit"));
  CommentEdit->setGeometry(4, 34, 695, 22);
  createChannel(0, 4);
  createChannel(1, 355);
  createSyncGroup();
  createStatusGroup();
  FooterStatusBar = new TStatusBar(this);
  FooterStatusBar->setObjectName(QStringLiteral("FooterStatusBar"));
  FooterStatusBar->addPanel(190, QStringLiteral("нет связи !!!"));
  FooterStatusBar->addPanel(0, QStringLiteral("Данные о состоянии синтезатора"));
  FooterStatusBar->setGeometry(0, height() - FooterStatusBar->height(), width(), FooterStatusBar->height());

  for (FileDialogRequest* d : {&OpenDialog, &SaveDialog}) {
    d->filter = QStringLiteral("*.qz4 (*.qz4);;*.* (*)");
    d->defaultName = QStringLiteral("NoName.qz4");
    d->defaultSuffix = QStringLiteral("qz4");
  }
  FormCreate();
}

void TMainForm::createToolBar() {
  const auto tool = [this](const char* objectName, QStyle::StandardPixmap icon, const QString& hint, int x) {
    auto* b = new QToolButton(this);
    b->setObjectName(QLatin1String(objectName));
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setGeometry(x, 3, 26, 26);
    return b;
  };
  const auto button = [this](const char* objectName, const QString& caption, int x, int w) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(QLatin1String(objectName));
    b->setGeometry(x, 3, w, 26);
    b->setAutoDefault(false);
    return b;
  };
  OpenFileSpeedButton = tool("OpenFileSpeedButton", QStyle::SP_DialogOpenButton,
                             QStringLiteral("Загрузить параметры из файла"), 4);
  SaveFileSpeedButton = tool("SaveFileSpeedButton", QStyle::SP_DialogSaveButton,
                             QStringLiteral("Сохранить параметры в файл"), 32);
  ChemaBitBtn = button("ChemaBitBtn", QStringLiteral("Сценарий"), 70, 100);
  HelpBitBtn = button("HelpBitBtn", QStringLiteral("Помощь"), 174, 100);
  InfoBitBtn = button("InfoBitBtn", QStringLiteral("О программе"), 278, 110);
  ExitSpeedButton = button("ExitSpeedButton", QStringLiteral("Выход"), 619, 80);
  ExitSpeedButton->setFont(boldFont(ExitSpeedButton));
  ChemaBitBtn->setIcon(style()->standardIcon(QStyle::SP_FileDialogListView));
  HelpBitBtn->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));
  InfoBitBtn->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  ExitSpeedButton->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

  connect(OpenFileSpeedButton, &QToolButton::clicked, this, &TMainForm::OpenFileSpeedButtonClick);
  connect(SaveFileSpeedButton, &QToolButton::clicked, this, &TMainForm::SaveFileSpeedButtonClick);
  connect(ChemaBitBtn, &QPushButton::clicked, this, &TMainForm::ChemaBitBtnClick);
  connect(HelpBitBtn, &QPushButton::clicked, this, &TMainForm::HelpBitBtnClick);
  connect(InfoBitBtn, &QPushButton::clicked, this, &TMainForm::InfoBitBtnClick);
  connect(ExitSpeedButton, &QPushButton::clicked, this, &TMainForm::ExitSpeedButtonClick);
}

void TMainForm::createChannel(int c, int x) {
  ChannelControls& cc = ch[c];
  cc.group = new QGroupBox(c == 0 ? QStringLiteral("Выход #1 Широкий диапазон амплитуд 60+20дБ")
                                  : QStringLiteral("Выход #2 Диапазон амплитуд 60дБ"),
                           this);
  cc.group->setObjectName(c == 0 ? QStringLiteral("Ch1_GroupBox") : QStringLiteral("Ch2_GroupBox"));
  cc.group->setGeometry(x, 60, 344, 330);
  cc.group->setFont(boldFont(cc.group));

  // The other channel's calibration notice lies under the page control and shows when
  // the page control is hidden.
  const int other = c == 0 ? 2 : 1;
  const int self = c + 1;
  struct Line {
    QString text;
    QColor colour;
    bool bold;
  };
  const Line lines[] = {
      {QStringLiteral("ВНИМАНИЕ !!!"), Qt::red, true},
      {QStringLiteral("УСТАНОВЛЕН РЕЖИМ ПОВЕРКИ И КАЛИБРОВКИ"), Qt::blue, true},
      {QStringLiteral("КАНАЛА #%1").arg(other), Qt::blue, true},
      {QStringLiteral("На Выход #%1 подается непрерывный ВЧ сигнал, ").arg(self), Qt::black, false},
      {QStringLiteral("синхронно с ВЧ сигналом канала #%1").arg(other), Qt::black, false},
  };
  int y = 70;
  for (const Line& l : lines) {
    auto* label = new QLabel(l.text, cc.group);
    QFont font = boldFont(label, l.bold, l.bold ? 1 : 0);
    // Clear of the group's frame on both sides: a line too long for the font this system
    // substitutes for the panel's own gets a smaller size rather than touching the frame.
    constexpr int kMargin = 10;
    const int width = cc.group->width() - 2 * kMargin;
    while (font.pointSize() > 6 && QFontMetrics(font).horizontalAdvance(l.text) > width)
      font.setPointSize(font.pointSize() - 1);
    label->setFont(font);
    setTextColor(label, l.colour);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(kMargin, y, width, 22);
    y += l.bold ? 28 : 22;
    cc.warningLabels.append(label);
  }
  if (c == 0) {
    Ch1S_OffCheckBox = makeCheck(cc.group, QStringLiteral("Ch1S_OffCheckBox"),
                                 QStringLiteral("Делитель 20дБ"), false, 110, y + 16, 140);
    Ch1S_OffCheckBox->setFont(boldFont(Ch1S_OffCheckBox));
  }

  cc.pages = new TPageControl(cc.group);
  cc.pages->setObjectName(c == 0 ? QStringLiteral("Ch1_PageControl") : QStringLiteral("Ch2_PageControl"));
  cc.pages->setGeometry(5, 20, 334, 305);
  cc.pages->setAutoFillBackground(true);  // covers the notice underneath
  cc.pages->setFont(boldFont(cc.pages, false));
  for (int m = 0; m < 4; ++m) createModePage(c, m);
  cc.offPage = new QWidget;
  cc.offPage->setObjectName(QLatin1String(kPageNames[c][4]));
  auto* offPanel = new QLabel(QStringLiteral("Канал #%1 выключен").arg(self), cc.offPage);
  offPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  offPanel->setAlignment(Qt::AlignCenter);
  offPanel->setFont(boldFont(offPanel, true, 2));
  offPanel->setGeometry(2, 2, 324, 272);
  cc.pages->addTab(cc.offPage, QString::fromUtf8(kModeCaptions[4]));
  cc.pages->setActivePageIndex(0);

  connect(cc.pages, &TPageControl::pageChangedByUser, this, [this, c] { channelPageChange(c); });
}

void TMainForm::createModePage(int c, int m) {
  ModePageControls& p = ch[c].mode[m];
  const char* L = kModeLetters[m];
  p.page = new QWidget;
  p.page->setObjectName(QLatin1String(kPageNames[c][m]));
  ch[c].pages->addTab(p.page, QString::fromUtf8(kModeCaptions[m]));
  QWidget* w = p.page;
  int row = 0;

  const auto realRow = [&](TRealSpinEdit*& field, const char* part, const QString& label, const RealKind& k,
                           int indent = 0) {
    makeLabel(w, label, kLabelX + indent, kTop + row * kRow, kFieldX - kLabelX - 6 - indent);
    field = makeReal(w, name(c, L, part), k);
    placeRow(field, row++);
  };

  realRow(p.ampl, "AmplPBSuperSpin", QStringLiteral("Амплитуда (дБ)"), kAmplitude);
  makeLabel(w, QStringLiteral("Знак сигнала"), kLabelX, kTop + row * kRow);
  p.sign = new TRadioGroup(w);
  p.sign->setObjectName(name(c, L, "RadioGroup"));
  p.sign->setColumns(2);
  p.sign->setItems({QStringLiteral("+"), QStringLiteral("-")});
  p.sign->setItemIndex(0);
  p.sign->setGeometry(kFieldX, kTop + row * kRow - 3, kFieldW, kFieldH + 4);
  p.sign->layout()->setContentsMargins(8, 0, 4, 0);
  ++row;

  const bool series = m == ModeASeries || m == ModeFSeries;
  if (m != ModeSine) {
    realRow(p.delay, "DelayPBSuperSpin", QStringLiteral("Задержка (мкс)"), kDelay);
    realRow(p.time, "TimePBSuperSpin", QStringLiteral("Длительность (мкс)"), kDuration);
  }
  if (series) {
    realRow(p.freq, "FreqPBSuperSpin", QStringLiteral("Частота (МГц)"), kFrequency);
    makeLabel(w, QStringLiteral("Количество импульсов"), kLabelX, kTop + row * kRow);
    p.count = new TIntSpinEdit(w);
    p.count->setObjectName(name(c, L, "CountPBSpinEdit"));
    p.count->setMaxValue(50);
    p.count->setMinValue(1);
    p.count->setMaxLength(2);
    p.count->setAlignment(Qt::AlignCenter);
    p.count->setValue(10);
    placeRow(p.count, row++);
    realRow(p.pause, "PausePBSuperSpin", QStringLiteral("Пауза (мкс)"), kPause);
    if (m == ModeASeries)
      realRow(p.loss, "LossPBSuperSpin", QStringLiteral("Ослабление на импульс (дБ)"), kLoss);
    else
      realRow(p.dfreq, "DfreqPBSuperSpin", QStringLiteral("Приращение частоты (МГц)"), kFrequencyStep);
  } else {
    // Pulse and sine pages: the carrier frequency under its RF box, the AM frequency under its AM box.
    const QString hfCaption =
        (c == 1 && m == ModePulse) ? QStringLiteral("ВЧ модуляция    ") : QStringLiteral("ВЧ модуляция");
    p.hfModulation =
        makeCheck(w, name(c, L, "HFModulationCheckBox"), hfCaption, true, kLabelX, kTop + row * kRow);
    ++row;
    // Indented under the box that switches them on.
    realRow(p.freq, "FreqPBSuperSpin", QStringLiteral("Частота (МГц)"), kFrequency, kSubIndent);
    p.amModulation = makeCheck(w, name(c, L, "AMCheckBox"), QStringLiteral("АМ НЧ модуляция"), false, kLabelX,
                               kTop + row * kRow);
    ++row;
    realRow(p.am, "AMPBSuperSpin", QStringLiteral("Частота АМ (КГц)"), kAmFrequency, kSubIndent);
    if (m == ModeSine) {
      p.calibration = makeCheck(
          w, c == 0 ? QStringLiteral("Ch1S_RF_To_Ch2_CheckBox") : QStringLiteral("Ch2S_RF_To_Ch1_CheckBox"),
          QStringLiteral("Режим поверки и калибровки канала #%1").arg(c + 1), false, kLabelX,
          kTop + row * kRow, 310);
      ++row;
    }
  }
  if (c == 0) {
    p.divider = makeCheck(w, name(c, L, "LossCheckBox"), QStringLiteral("Делитель 20дБ"), false, kLabelX,
                          kTop + row * kRow);
    ++row;
  }
  if (m == ModePulse || m == ModeSine) {
    p.message =
        new QLabel(m == ModePulse ? QStringLiteral("Не указан вид модуляции. Канал выдает видеоимпульсы!!!")
                                  : QStringLiteral("Не указан вид модуляции. Канал не работает!!!"),
                   w);
    p.message->setObjectName(
        QStringLiteral("CH%1_%2_MessageLabel").arg(c + 1).arg(m == ModePulse ? "Pulse" : "Sinus"));
    p.message->setWordWrap(true);
    p.message->setAlignment(Qt::AlignCenter);
    p.message->setFont(boldFont(p.message));
    setTextColor(p.message, Qt::red);
    p.message->setGeometry(kLabelX, kTop + row * kRow + 2, 306, 36);
    p.message->hide();
  }

  if (p.hfModulation) {
    QCheckBox* hf = p.hfModulation;
    QCheckBox* am = p.amModulation;
    connect(hf, &QCheckBox::toggled, this, [=, this] { modulationClick(hf, p.freq, p.message, am); });
    connect(am, &QCheckBox::toggled, this, [=, this] { modulationClick(am, p.am, p.message, hf); });
    modulationClick(hf, p.freq, p.message, am);
    modulationClick(am, p.am, p.message, hf);
  }
  if (p.calibration) connect(p.calibration, &QCheckBox::toggled, this, [this, c] { calibrationClick(c); });
}

void TMainForm::createSyncGroup() {
  auto* g = new QGroupBox(QStringLiteral("Синхронизация"), this);
  g->setObjectName(QStringLiteral("GroupBox2"));
  g->setGeometry(4, 392, 695, 104);
  g->setFont(boldFont(g));

  SyncPageControl = new TPageControl(g);
  SyncPageControl->setObjectName(QStringLiteral("SyncPageControl"));
  SyncPageControl->setGeometry(6, 17, 400, 84);
  SyncPageControl->setFont(boldFont(SyncPageControl, false));
  auto* autoPage = new QWidget;
  autoPage->setObjectName(QStringLiteral("AutoSyncTabSheet"));
  auto* extPage = new QWidget;
  extPage->setObjectName(QStringLiteral("ExtSyncTabSheet"));
  auto* tactPage = new QWidget;
  tactPage->setObjectName(QStringLiteral("TactSyncTabSheet"));
  SyncPageControl->addTab(autoPage, QStringLiteral("Авто"));
  SyncPageControl->addTab(extPage, QStringLiteral("Внешняя (от ЗИ)"));
  SyncPageControl->addTab(tactPage, QStringLiteral("Тактовый генератор"));

  SyncPolarRadioGroup = new TRadioGroup(extPage);
  SyncPolarRadioGroup->setObjectName(QStringLiteral("SyncPolarRadioGroup"));
  SyncPolarRadioGroup->setTitle(QStringLiteral("Фронт"));
  SyncPolarRadioGroup->setColumns(2);
  SyncPolarRadioGroup->setItems({QStringLiteral("- отрицательный"), QStringLiteral("+ положительный")});
  SyncPolarRadioGroup->setItemIndex(0);
  SyncPolarRadioGroup->setGeometry(6, 1, 380, 50);
  SyncPolarRadioGroup->layout()->setContentsMargins(8, 2, 8, 2);

  makeLabel(tactPage, QStringLiteral("Длительность такта (мкс)"), 8, 12, 170);
  TactPBSuperSpin = makeReal(tactPage, QStringLiteral("TactPBSuperSpin"), kClockPeriod);
  TactPBSuperSpin->setGeometry(182, 12, 118, kFieldH);
  makeLabel(tactPage, QStringLiteral("Максимум 1 с"), 310, 12, 80);
  SyncPageControl->setActivePageIndex(0);

  makeLabel(g, QStringLiteral("Уровень (%)"), 418, 22, 80)->setFont(boldFont(g, false));
  SyncLevelPBSpinEdit = new TIntSpinEdit(g);
  SyncLevelPBSpinEdit->setObjectName(QStringLiteral("SyncLevelPBSpinEdit"));
  SyncLevelPBSpinEdit->setMaxValue(120);
  SyncLevelPBSpinEdit->setMinValue(-120);
  SyncLevelPBSpinEdit->setEditorEnabled(false);
  SyncLevelPBSpinEdit->setAlignment(Qt::AlignCenter);
  SyncLevelPBSpinEdit->setValue(-20);
  SyncLevelPBSpinEdit->setGeometry(500, 22, 70, kFieldH);
  SyncLevelTrackBar = new QSlider(Qt::Horizontal, g);
  SyncLevelTrackBar->setObjectName(QStringLiteral("SyncLevelTrackBar"));
  SyncLevelTrackBar->setRange(-95, 95);
  SyncLevelTrackBar->setTickInterval(1);
  SyncLevelTrackBar->setTickPosition(QSlider::TicksBelow);
  SyncLevelTrackBar->setValue(-20);
  SyncLevelTrackBar->setGeometry(418, 52, 270, 30);
  VewZIBitBtn = new QPushButton(QStringLiteral("Показать ЗИ"), g);
  VewZIBitBtn->setObjectName(QStringLiteral("VewZIBitBtn"));
  VewZIBitBtn->setGeometry(580, 18, 108, 28);
  VewZIBitBtn->setAutoDefault(false);

  connect(SyncPageControl, &TPageControl::pageChangedByUser, this, &TMainForm::SyncPageControlChange);
  connect(SyncLevelTrackBar, &QSlider::valueChanged, this, &TMainForm::SyncLevelTrackBarChange);
  connect(SyncLevelPBSpinEdit, &TIntSpinEdit::valueChanged, this, &TMainForm::SyncLevelPBSpinEditChange);
  connect(VewZIBitBtn, &QPushButton::clicked, this, &TMainForm::VewZIBitBtnClick);
}

void TMainForm::createStatusGroup() {
  auto* g = new QGroupBox(QStringLiteral("Состояние (читается из синтезатора)"), this);
  g->setObjectName(QStringLiteral("GroupBox1"));
  g->setGeometry(4, 498, 695, 144);
  g->setFont(boldFont(g));

  const auto value = [g](const char* objectName, int x, int y, int w) {
    auto* l = new QLabel(QStringLiteral("???"), g);
    l->setObjectName(QLatin1String(objectName));
    l->setGeometry(x, y, w, 20);
    l->setFont(boldFont(l, false));
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return l;
  };
  const auto caption = [g](const QString& text, int x, int y, int w) {
    auto* l = new QLabel(text, g);
    l->setGeometry(x, y, w, 20);
    l->setFont(boldFont(l, false));
    l->setAlignment(Qt::AlignVCenter | Qt::AlignRight);
    return l;
  };
  // Two output columns of three rows, then the synchronisation column.
  for (int c = 0; c < 2; ++c) {
    const int x = 8 + c * 226;
    caption(c == 0 ? QStringLiteral("Выход #1 -") : QStringLiteral("Выход #2 - "), x, 24, 80);
    caption(QStringLiteral("Ампл.- "), x, 50, 80);
    caption(QStringLiteral("Частота - "), x, 76, 80);
    QLabel* mode = value(c == 0 ? "DAC1_ModeLabel" : "DAC2_ModeLabel", x + 86, 24, 128);
    QLabel* ampl = value(c == 0 ? "Ampl1_Label" : "Ampl2_Label", x + 86, 50, 128);
    QLabel* freq = value(c == 0 ? "F1_Label" : "F2_Label", x + 86, 76, 128);
    (c == 0 ? DAC1_ModeLabel : DAC2_ModeLabel) = mode;
    (c == 0 ? Ampl1_Label : Ampl2_Label) = ampl;
    (c == 0 ? F1_Label : F2_Label) = freq;
  }
  caption(QStringLiteral("Диапазон входа"), 440, 20, 120);
  caption(QStringLiteral("Режим синхр."), 440, 44, 120);
  caption(QStringLiteral("Полярность синх."), 440, 68, 120);
  caption(QStringLiteral("Уровень синхр."), 440, 92, 120);
  S1Label = value("S1Label", 566, 20, 122);
  S2Label = value("S2Label", 566, 44, 122);
  S3Label = value("S3Label", 566, 68, 122);
  S4Label = value("S4Label", 566, 92, 122);
  S3Label->setFont(boldFont(S3Label, true, 1));
  USBIventsBitBtn = new QPushButton(QStringLiteral("События USB"), g);
  USBIventsBitBtn->setObjectName(QStringLiteral("USBIventsBitBtn"));
  USBIventsBitBtn->setGeometry(94, 106, 128, 28);
  USBIventsBitBtn->setFont(boldFont(USBIventsBitBtn, false));
  USBIventsBitBtn->setAutoDefault(false);
  connect(USBIventsBitBtn, &QPushButton::clicked, this, &TMainForm::USBIventsBitBtnClick);
}

void TMainForm::FormCreate() {
  move(1, 1);
  messageForm_ = new TMessageForm(this);
  for (FileDialogRequest* d : {&OpenDialog, &SaveDialog})
    d->initialFolder = fileDialogFolder();

  const QString stateFile = stateFileForReading();
  messageForm_->ShowMessageText(QStringLiteral("Чтение состояния из файла ") + stateFile);
  // A large file keeps the main thread busy for long: the window must be on screen, text and
  // all, before the load starts (see FormClose).
  messageForm_->showAndExpose();
  if (QFileInfo::exists(stateFile)) LoadFormState(stateFile, this);
  messageForm_->hide();
  messageForm_->ShowMessageText(QStringLiteral("Готово!!!"));
}

void TMainForm::FormClose() {
  messageForm_->setWindowTitle(QStringLiteral(" ПОЖАЛУЙСТА ПОДОЖДИТЕ!!!"));
  messageForm_->ShowMessageText(QStringLiteral("Оключение потока данных USB"));
  // The stop below blocks the main thread; a window only just shown is not on screen yet
  // (the window manager maps it later), so wait for that first. Nothing of the program runs
  // in this wait (see showAndExpose), so the exchange goes on untouched until the stop.
  messageForm_->showAndExpose();
  // No packet is built and no status shown once this returns: the files below are
  // written from a panel that nothing else changes any more.
  if (stopExchange) stopExchange();
  const QString stateFile = stateFileName();
  if (saveStateOnClose && ConfirmStateSave(stateFile)) {
    // The text names the file the operators know, whatever this executable is called.
    messageForm_->ShowMessageText(QStringLiteral("Запись состояния программы в файл QZ_418.ini"));
    // The three sections in one write of the file, and one error box at most.
    // A file that cannot be written does not stop the next one: whatever can be saved is.
    if (!SaveFormStates(stateFile, {this, peers_.rx, peers_.link})) exitSaveFailed_ = true;
    messageForm_->ShowMessageText(QStringLiteral("Запись сценария в файл Scenes.ini"));
    if (peers_.scenes && !peers_.scenes->StoreScenesOnExit()) exitSaveFailed_ = true;
  }
  messageForm_->ShowMessageText(QStringLiteral("Конец!!!"));
}

bool TMainForm::ConfirmStateSave(const QString& path) {
  const DriveInfo drive = driveOfPath(path);
  QString first;
  bool slowWarning = true;
  switch (drive.type) {
    case DriveType::Fixed:
      return true;
    case DriveType::Removable:
      first = QStringLiteral("Программа QZ418.EXE запущена со сменного диска ");
      break;
    case DriveType::Remote:
      first = QStringLiteral("Программа QZ418.EXE запущена с сетевого диска ");
      break;
    case DriveType::RamDisk:
      first = QStringLiteral("Программа QZ418.EXE запущена с RAM диска ");
      slowWarning = false;
      break;
    default:
      return false;  // CD-ROM, unknown, no such root
  }
  const qsizetype slash = path.lastIndexOf(u'/');
  const QString folder = slash >= 0 ? path.left(slash + 1) : QString();
  QString text = first + drive.root + u'\r' + QStringLiteral("Каталог ") + folder + u'\r';
  if (slowWarning) text += QStringLiteral("Запись состояния программы может занять несколько минут.") + u'\r';
  text += QStringLiteral("Сохранить состояние?");
  return dialogs().warningYesNo(this, QString(), text);
}

// ---- Command packet and status -------------------------------------------------------------

PanelSettings TMainForm::readPanelSettings() const {
  PanelSettings s;
  s.syncLevel = SyncLevelPBSpinEdit->value();
  s.syncEdgeItem = SyncPolarRadioGroup->itemIndex();
  if (peers_.rx) {
    s.inputRangeCode = peers_.rx->rangeCode();
    s.load50Ohm = peers_.rx->load50Ohm();
  }
  for (int c = 0; c < 2; ++c) {
    ChannelSettings& out = s.channel[c];
    out.mode = ch[c].pages->activePageIndex();
    if (out.mode >= 0 && out.mode < 4) {
      const ModePageControls& p = ch[c].mode[out.mode];
      if (p.hfModulation) out.rfModulation = p.hfModulation->isChecked();
      out.signItem = p.sign->itemIndex();
      out.amplitudeDb = packetValue(p.ampl);
      out.lossDb = packetValue(p.loss);
      out.delayUs = packetValue(p.delay);
      out.durationUs = packetValue(p.time);
      out.pauseUs = packetValue(p.pause);
      if (p.count) out.pulseCount = p.count->value();
      out.frequencyMHz = packetValue(p.freq);
      out.frequencyStepMHz = packetValue(p.dfreq);
      if (p.amModulation) out.am = p.amModulation->isChecked();
      out.amFrequencyKHz = packetValue(p.am);
      if (p.divider) out.dividerIn = p.divider->isChecked();
      if (p.calibration) out.calibration = p.calibration->isChecked();
    } else if (out.mode == ModeOff && c == 0) {
      out.dividerIn = Ch1S_OffCheckBox->isChecked();
    }
  }
  s.syncMode = SyncPageControl->activePageIndex();
  s.clockPeriodUs = packetValue(TactPBSuperSpin);
  return s;
}

void TMainForm::BuildCommandPacket(std::span<std::uint8_t, kCommandPacketSize> packet) const {
  buildCommandPacket(readPanelSettings(), packet);
}

StatusCaptions TMainForm::statusCaptions() const {
  StatusCaptions captions;
  for (int i = 0; i < SyncPageControl->count(); ++i) captions.syncPages << SyncPageControl->pageCaption(i);
  for (int i = 0; i < ch[0].pages->count(); ++i) captions.ch1Pages << ch[0].pages->pageCaption(i);
  for (int i = 0; i < ch[1].pages->count(); ++i) captions.ch2Pages << ch[1].pages->pageCaption(i);
  return captions;
}

void TMainForm::ShowStatusReport(const std::array<std::uint8_t, kStatusReportSize>& report,
                                 std::uint32_t errorCode) {
  static const StatusCaptions captions = statusCaptions();
  const StatusTexts t = decodeStatusReport(report, errorCode, captions, appFormatSettings());
  shownStatus_ = t.fields;
  FooterStatusBar->setPanelText(1, t.statusBar);
  S4Label->setText(t.s4Level);
  S1Label->setText(t.s1Range);
  S3Label->setText(t.s3Edge);
  S2Label->setText(t.s2SyncMode);
  DAC1_ModeLabel->setText(t.dac1Mode);
  DAC2_ModeLabel->setText(t.dac2Mode);
  Ampl1_Label->setText(t.ampl1);
  F1_Label->setText(t.f1);
  Ampl2_Label->setText(t.ampl2);
  F2_Label->setText(t.f2);
  // The scene request may apply a scene to this panel; the packet of this cycle is built
  // after this call and so carries it.
  if (peers_.scenes) peers_.scenes->SceneRequest(t.sceneRequest);
  if (peers_.rx) peers_.rx->setProbeFrequencyText(t.probeFrequency);
}

void TMainForm::setLinkText(const QString& text) {
  if (FooterStatusBar) FooterStatusBar->setPanelText(0, text);
}

QString TMainForm::shownStatusTexts() const {
  QStringList shown{FooterStatusBar->panelText(1)};
  for (const QLabel* l : {DAC1_ModeLabel, Ampl1_Label, F1_Label, DAC2_ModeLabel, Ampl2_Label, F2_Label, S1Label,
                          S2Label, S3Label, S4Label})
    shown << l->objectName() + u'=' + l->text();
  return shown.join(QStringLiteral(" | "));
}

void TMainForm::ClearStatusDisplay() {
  shownStatus_.reset();
  for (QLabel* l : {DAC1_ModeLabel, Ampl1_Label, F1_Label, DAC2_ModeLabel, Ampl2_Label, F2_Label, S1Label,
                    S2Label, S3Label, S4Label})
    l->setText(QStringLiteral("???"));
  if (peers_.scenes) peers_.scenes->setStatusText(QStringLiteral(" Запрос синтезатора ???"));
}

// ---- Reactions ------------------------------------------------------------------------------

void TMainForm::modulationClick(QCheckBox* box, QWidget* field, QLabel* message, QCheckBox* partner) {
  QFont f = field->font();
  f.setBold(box->isChecked());
  field->setFont(f);
  setTextColor(field, box->isChecked() ? QColor(Qt::black) : kGrey);
  // Shown exactly when neither kind of modulation is chosen.
  message->setVisible(!box->isChecked() && !partner->isChecked());
}

void TMainForm::runModulationReactions(int c) {
  // Pulse RF, pulse AM, sine RF, sine AM.
  for (int m : {ModePulse, ModeSine}) {
    ModePageControls& p = ch[c].mode[m];
    modulationClick(p.hfModulation, p.freq, p.message, p.amModulation);
    modulationClick(p.amModulation, p.am, p.message, p.hfModulation);
  }
}

void TMainForm::channelPageChange(int c) {
  TPageControl* pages = ch[c].pages;
  pages->clearHighlights();
  pages->setTabHighlighted(pages->activePageIndex(), true);
  runModulationReactions(c);
  if (pages->activePageIndex() != ModeSine) {
    ch[c].mode[ModeSine].calibration->setChecked(false);  // runs its reaction if it was checked
    ch[1 - c].pages->setVisible(true);
  }
}

void TMainForm::Ch1_PageControlChange() { channelPageChange(0); }
void TMainForm::Ch2_PageControlChange() { channelPageChange(1); }

void TMainForm::calibrationClick(int c) {
  const int other = 1 - c;
  if (ch[c].mode[ModeSine].calibration->isChecked()) {
    ch[other].mode[ModeSine].calibration->setChecked(false);
    ch[other].pages->setActivePageIndex(ModeOff);
    ch[other].pages->setVisible(false);
  } else {
    ch[other].pages->setVisible(true);
  }
  channelPageChange(other);
}

void TMainForm::Ch1S_RF_To_Ch2_CheckBoxClick() { calibrationClick(0); }
void TMainForm::Ch2S_RF_To_Ch1_CheckBoxClick() { calibrationClick(1); }

void TMainForm::SyncPageControlChange() {
  SyncPageControl->clearHighlights();
  SyncPageControl->setTabHighlighted(SyncPageControl->activePageIndex(), true);
}

void TMainForm::SyncLevelTrackBarChange() {
  // A slider that only followed the field (a level beyond +-95 clamped to the slider's end)
  // must not write its end back: the field keeps the level a scene, a file or the arrows gave.
  const int level = SyncLevelPBSpinEdit->value();
  const int position = SyncLevelTrackBar->value();
  if (position == std::clamp(level, SyncLevelTrackBar->minimum(), SyncLevelTrackBar->maximum())) return;
  SyncLevelPBSpinEdit->setValue(position);
}

void TMainForm::SyncLevelPBSpinEditChange() {
  // The slider clamps to its +-95 and signals only when its position really moves, so
  // levels beyond 95 stay in the field and the two never ping-pong.
  SyncLevelTrackBar->setValue(SyncLevelPBSpinEdit->value());
}

void TMainForm::FormActivate() {
  Ch1_PageControlChange();
  Ch2_PageControlChange();
}

bool TMainForm::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) FormActivate();
  return QWidget::event(e);
}

namespace {
void showAndFocus(QWidget* w) {
  if (!w) return;
  w->show();
  w->raise();
  w->activateWindow();
  w->setFocus();
}
}  // namespace

void TMainForm::ChemaBitBtnClick() { showAndFocus(peers_.scenes ? peers_.scenes->scenesWindow() : nullptr); }
void TMainForm::VewZIBitBtnClick() { showAndFocus(peers_.rx); }
void TMainForm::USBIventsBitBtnClick() { showAndFocus(peers_.link); }

int TMainForm::syncLevel() const { return SyncLevelPBSpinEdit ? SyncLevelPBSpinEdit->value() : 0; }

void TMainForm::HelpBitBtnClick() {
  dialogs().information(this, QString(),
                        QStringLiteral("Извините, справочная система еще не разработана.\r"
                                       "Читайте руководство по эксплуатации QZ418.\r"
                                       "В принципе должно быть и так все понятно."));
}

void TMainForm::InfoBitBtnClick() {
  dialogs().information(this, QString(),
                        QStringLiteral("Программа управления синтезатором сигналов QZ418\r"
                                       "работает в операционных системах WinXP, WinVista.\r"
                                       "\r"
                                       "Версия для Linux: Qt 6, libusb, udev.\r"
                                       "Разработчики: группа программы управления QZ418."));
}

void TMainForm::ExitSpeedButtonClick() { close(); }

void TMainForm::OpenFileSpeedButtonClick() {
  if (!openProject) {
    dialogs().information(this, QString(), QStringLiteral("Загрузка проектов пока недоступна."));
    return;
  }
  setWindowTitle(openProject(OpenDialog));
}

void TMainForm::SaveFileSpeedButtonClick() {
  if (!saveProjectAs) {
    dialogs().information(this, QString(), QStringLiteral("Сохранение проектов пока недоступно."));
    return;
  }
  setWindowTitle(saveProjectAs(SaveDialog));
}

void TMainForm::closeEvent(QCloseEvent* e) {
  e->accept();
  if (!closing_) {
    closing_ = true;
    FormClose();
  }
  emit closed();
}

TMainForm::~TMainForm() = default;
