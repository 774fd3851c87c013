#include "usb/link_form.h"

#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "rxview/rx_draw_form.h"
#include "widgets/radio_group.h"
#include "widgets/status_bar.h"

#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>
#include <cerrno>


namespace {

// The receive buffer hand-over is the receive view's own type.
static_assert(usb::kReceiveSampleCount == rx::kSamples);

const QString kNoLink = QStringLiteral("нет связи c QZ418!!!");  // the "c" is Latin, as the operators know it

#ifndef _WIN32
// A device node that exists but may not be opened: the usual cause is a missing udev rule.
// (Windows reports its own error codes, where 13 means something else.)
const QString kPermissionHint = QStringLiteral(
    "Нет прав доступа к устройству USB. Установите правило udev packaging/60-qz418.rules "
    "(см. docs/user-guide.md#connecting-a-real-synthesizer) и подключите синтезатор заново.");
#endif

LinkReceivers windowReceivers(LinkPanel* panel, TRxDrawForm* rx) {
  LinkReceivers r;
  if (panel) {
    r.showStatus = [panel](const std::array<std::uint8_t, usb::kStatusPayloadSize>& report,
                           std::uint32_t errorCode) { panel->ShowStatusReport(report, errorCode); };
    r.buildCommand = [panel, rx](std::span<std::uint8_t, usb::kCommandPayloadSize> packet) {
      panel->BuildCommandPacket(packet);
      // The cycle's last hand-over: the chart paints once this returns, while the exchange
      // sends the packet and pauses.
      if (rx) rx->PaintRxChart();
    };
  }
  if (rx)
    r.showRx = [rx](std::span<const std::uint16_t, usb::kReceiveSampleCount> samples) { rx->ShowRxBuffer(samples); };
  return r;
}

// The platform's transport, watched for the moment its device closes the connection for good.
// Runs on the exchange thread; onClosed is called once.
class WatchedTransport final : public DeviceTransport {
 public:
  WatchedTransport(std::unique_ptr<DeviceTransport> inner, std::function<void()> onClosed)
      : inner_(std::move(inner)), onClosed_(std::move(onClosed)) {}
  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override {
    const int error = inner_->request(code, buffer, length, waitMs);
    if (!reported_ && inner_->connectionClosed()) {
      reported_ = true;
      onClosed_();
    }
    return error;
  }
  bool cancel() override { return inner_->cancel(); }
  bool connectionClosed() const override { return inner_->connectionClosed(); }

 private:
  std::unique_ptr<DeviceTransport> inner_;
  std::function<void()> onClosed_;
  bool reported_ = false;
};

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& place) {
  auto* b = new QPushButton(caption, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(place);
  return b;
}

}  // namespace

TLinkForm::TLinkForm(LinkPlatform platform, LinkPanel* panel, TRxDrawForm* rx, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      platform_(std::move(platform)),
      panel_(panel),
      receivers_(windowReceivers(panel, rx)) {
  if (const QString file = qEnvironmentVariable("QZ418_LINK_LOG"); !file.isEmpty()) {
    traceFile_ = std::make_unique<QFile>(file);
    if (traceFile_->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
      traceHandOvers(receivers_);
    else
      traceFile_.reset();
  }
  setObjectName(QStringLiteral("LinkForm"));
  setWindowTitle(QStringLiteral("События USB "));  // the trailing blank is part of the caption
  setFixedSize(324, 550);
  // Laid out for an 8-point font like the panel; the platform's default would clip captions.
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  createControls();
  if (platform_.makeEnumerator) enumerator_ = platform_.makeEnumerator();
  // Watching starts before the first listing, so no change between the two is missed.
  // On Windows the device-change messages are the ones sent to this window.
  if (platform_.makeChangeMonitor) monitor_ = platform_.makeChangeMonitor(this);
  if (monitor_) {
    connect(monitor_.get(), &DeviceChangeMonitor::devicesChanged, this, &TLinkForm::devicesChanged);
    connect(monitor_.get(), &DeviceChangeMonitor::otherDeviceEvent, this, &TLinkForm::WMDeviceChange);
  }
  lostRetry_ = new QTimer(this);
  lostRetry_->setSingleShot(true);
  connect(lostRetry_, &QTimer::timeout, this, [this] { connectionLost(lostStart_); });
  FormCreate();
}

TLinkForm::~TLinkForm() {
  // Ends a thread the panel's close did not stop; its last hand-overs still reach the windows,
  // which are destroyed after this one.
  thread_.reset();
}

void TLinkForm::createControls() {
  // Creation order is the order of the window's section in the state file.
  Panel2 = new QFrame(this);
  Panel2->setObjectName(QStringLiteral("Panel2"));
  Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel2->setGeometry(0, 0, 324, 145);

  UDCountRadioGroup = new TRadioGroup(Panel2);
  UDCountRadioGroup->setObjectName(QStringLiteral("UDCountRadioGroup"));
  UDCountRadioGroup->setTitle(QStringLiteral("Подключенные USB устройства"));
  UDCountRadioGroup->setGeometry(4, 4, 184, 136);

  Label1 = new QLabel(QStringLiteral("Поток данных USB"), Panel2);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setGeometry(198, 8, 118, 16);
  Label1->setAlignment(Qt::AlignCenter);

  CreateThreadButton =
      makeButton(Panel2, "CreateThreadButton", QStringLiteral("Создать"), {198, 28, 118, 25});
  BitBtn1 = makeButton(Panel2, "BitBtn1", QStringLiteral("Продолжить"), {198, 56, 118, 25});
  BitBtn2 = makeButton(Panel2, "BitBtn2", QStringLiteral("Остановить"), {198, 84, 118, 25});
  DestroyThreadButton =
      makeButton(Panel2, "DestroyThreadButton", QStringLiteral("Разрушить"), {198, 114, 118, 25});
  // The exchange is run by the window itself; these stay as the engineers' controls.
  for (QPushButton* b : {CreateThreadButton, BitBtn1, BitBtn2, DestroyThreadButton}) b->setEnabled(false);

  Memo = new QPlainTextEdit(this);
  Memo->setObjectName(QStringLiteral("Memo"));
  Memo->setReadOnly(true);
  Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo->setGeometry(0, 145, 324, 365);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel1->setGeometry(0, 510, 324, 40);
  SpeedButton1 = makeButton(Panel1, "SpeedButton1", QStringLiteral("Свойства"), {8, 8, 92, 25});
  ClearMemoBitBtn = makeButton(Panel1, "ClearMemoBitBtn", QStringLiteral("Очистить"), {116, 8, 92, 25});
  SpeedButton = makeButton(Panel1, "SpeedButton", QStringLiteral("Закрыть"), {224, 8, 92, 25});

  connect(SpeedButton1, &QPushButton::clicked, this, &TLinkForm::SpeedButton1Click);
  connect(ClearMemoBitBtn, &QPushButton::clicked, this, &TLinkForm::ClearMemoBitBtnClick);
  connect(SpeedButton, &QPushButton::clicked, this, &TLinkForm::SpeedButtonClick);
  connect(CreateThreadButton, &QPushButton::clicked, this, &TLinkForm::CreateThreadButtonClick);
  connect(DestroyThreadButton, &QPushButton::clicked, this, &TLinkForm::DestroyThreadButtonClick);
  connect(BitBtn1, &QPushButton::clicked, this, &TLinkForm::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TLinkForm::BitBtn2Click);
}

void TLinkForm::FormCreate() {
  // A notification that arrives while the state is read (the loader lets events through) is
  // answered by the listing below.
  handlingChange_ = true;
  move(884, 303);
  const QString stateFile = platform_.stateFile.isEmpty() ? stateFileForReading() : platform_.stateFile;
  if (QFileInfo::exists(stateFile)) LoadFormState(stateFile, this);
  clearMemo();
  logCounter_ = 0;
  AddLogLine(QStringLiteral(" "));
  changePending_ = false;
  ListSynthesizers();
  connectionReport();
  handlingChange_ = false;
}

// ---- Log ---------------------------------------------------------------------------------------

void TLinkForm::appendMemoLine(const QString& text) {
  // A log that holds one empty line looks like an empty document to the text box, which would
  // then put the new text into that line.
  if (memoHasLines_ && Memo->document()->isEmpty()) {
    QTextCursor c(Memo->document());
    c.movePosition(QTextCursor::End);
    c.insertBlock();
    c.insertText(text);
  } else {
    Memo->appendPlainText(text);
  }
  memoHasLines_ = true;
  trace("log", text);
}

void TLinkForm::trace(const char* tag, const QString& text) {
  if (!traceFile_) return;
  traceFile_->write(tag);
  traceFile_->write(": ");
  traceFile_->write(text.toUtf8());
  traceFile_->write("\n");
  traceFile_->flush();
}

void TLinkForm::traceHandOvers(LinkReceivers& receivers) {
  receivers.showStatus = [this, show = receivers.showStatus](const auto& report, std::uint32_t errorCode) {
    if (show) show(report, errorCode);
    if (!panel_) return;
    const QString text = panel_->shownStatusTexts();
    if (text != lastPanelTrace_) trace("panel", lastPanelTrace_ = text);
  };
  receivers.showRx = [this,
                      show = receivers.showRx](std::span<const std::uint16_t, usb::kReceiveSampleCount> s) {
    if (show) show(s);
    if (rxTraced_) return;
    rxTraced_ = true;
    const auto [low, high] = std::minmax_element(s.begin(), s.end());
    trace("rx", QStringLiteral("min %1 max %2 at %3").arg(*low).arg(*high).arg(high - s.begin()));
  };
}

void TLinkForm::clearMemo() {
  Memo->clear();
  memoHasLines_ = false;
}

QStringList TLinkForm::logLines() const {
  return memoHasLines_ ? Memo->toPlainText().split(u'\n') : QStringList();
}

void TLinkForm::AddLogLine(const QString& text) {
  if (logCounter_ > kMaxLogLines) {
    clearMemo();
    logCounter_ = 0;
    appendMemoLine(QStringLiteral(" Очистка сообщений"));
  }
  ++logCounter_;
  appendMemoLine(QString::number(logCounter_).rightJustified(3, u'0') + QStringLiteral("  ") + text);
}

// ---- Devices -----------------------------------------------------------------------------------

void TLinkForm::ListSynthesizers() {
  FindSynthesizers(devices_, enumerator_.get());
  UDCountRadioGroup->clearItems();
  QStringList items;
  for (const auto& d : devices_) {
    AddLogLine(QStringLiteral("String=  ") + d->deviceDescription + QStringLiteral("  ") +
               d->locationInformation);
    items << d->locationInformation;
  }
  // A refused virtual-device folder would otherwise show only as "0 synthesizers".
  if (enumerator_)
    for (const QString& note : enumerator_->notes()) AddLogLine(note);
  UDCountRadioGroup->setItems(items);
  if (!items.isEmpty()) {
    UDCountRadioGroup->setItemIndex(0);
    devicePath_ = devices_.front()->devicePath;
  }
  AddLogLine(QString());
  AddLogLine(QStringLiteral("Подключено ") + QString::number(items.size()) + QStringLiteral(" синтезаторов"));
  AddLogLine(QString());
}

void TLinkForm::setLinkStatus(const QString& text) {
  trace("status", text);
  if (panel_) panel_->setLinkText(text);
}

void TLinkForm::connectionReport() {
  if (UDCountRadioGroup->count() > 0) {
    StartExchange(devicePath_);
    // "Подключен" only once a cycle has gone through: a device that is listed but never
    // answers (or closes every connection at once) must not look connected.
    if (!linkUp()) setLinkStatus(kNoLink);
  } else {
    setLinkStatus(kNoLink);
    if (panel_) panel_->ClearStatusDisplay();
  }
}

void TLinkForm::WMDeviceChange(std::uint32_t eventCode) {
  if (exiting_) return;  // the exit has stopped the link for good
  if (eventCode != DBT_DEVNODES_CHANGED) {
    appendMemoLine(QStringLiteral("другое событие ") +
                   QString::number(eventCode, 16).rightJustified(8, u'0').toUpper() + u'h');
    return;
  }
  AddLogLine(QStringLiteral("USB событие DBT_DEVNODES_CHANGED"));
  // A paused thread cannot end: let it go on to the end of its cycle.
  ResumeExchange();
  StopExchange();
  ListSynthesizers();
  connectionReport();
}

void TLinkForm::devicesChanged() {
  if (exiting_) return;
  changePending_ = true;
  if (changeQueued_) return;
  changeQueued_ = true;
  QMetaObject::invokeMethod(this, &TLinkForm::runPendingChanges, Qt::QueuedConnection);
}

void TLinkForm::runPendingChanges() {
  changeQueued_ = false;
  if (exiting_ || handlingChange_) return;  // the handler that runs now looks again when it is done
  if (thread_ && thread_->isRunningStep()) {
    // Reached from a nested event loop inside one of the exchange's own steps: a stop now
    // would wait for that very step. Come back when it has returned.
    changeQueued_ = true;
    QTimer::singleShot(10, this, &TLinkForm::runPendingChanges);
    return;
  }
  handlingChange_ = true;
  while (changePending_) {
    changePending_ = false;
    WMDeviceChange(DBT_DEVNODES_CHANGED);
  }
  handlingChange_ = false;
}

void TLinkForm::linkChanged(std::uint64_t start, bool up) {
  if (!up) {
    if (start == linkUpStart_) linkDown();
    return;
  }
  // An exchange stopped or replaced since the report was posted is no link.
  if (exiting_ || start != starts_ || !thread_ || thread_->isFinished() || thread_->isTerminated()) return;
  linkUpStart_ = start;
  setLinkStatus(connectedText_);
}

void TLinkForm::linkDown() {
  linkUpStart_ = 0;
  setLinkStatus(kNoLink);
}

void TLinkForm::connectionLost(std::uint64_t start) {
  // Only the running exchange's device matters; an exchange stopped or replaced since has
  // been dealt with.
  if (exiting_ || start != starts_ || !thread_ || thread_->isFinished()) return;
  // Down at once, even when the restart has to wait.
  if (start == linkUpStart_) linkDown();
  if (lastLostRestart_.isValid() && lastLostRestart_.elapsed() < kLostRetryMs) {
    lostStart_ = start;
    lostRetry_->start(int(kLostRetryMs - lastLostRestart_.elapsed()));
    return;
  }
  lastLostRestart_.start();
  // As if the device had been unplugged: the listing that follows leaves out a device that
  // accepts no connection, and takes it again once it does.
  devicesChanged();
}

usb::TransportOpener TLinkForm::watchedOpener(std::uint64_t start) {
  return [this, start](const QString& path, int* error) -> std::unique_ptr<DeviceTransport> {
    std::unique_ptr<DeviceTransport> t =
        platform_.openTransport ? platform_.openTransport(path, error) : nullptr;
    if (!t) return nullptr;
    return std::make_unique<WatchedTransport>(std::move(t), [this, start] {
      QMetaObject::invokeMethod(
          this, [this, start] { connectionLost(start); }, Qt::QueuedConnection);
    });
  };
}

// ---- Exchange ----------------------------------------------------------------------------------

void TLinkForm::StartExchange(const QString& devicePath) {
  if (exiting_) return;  // nothing starts after the exit's stop
  if (thread_) {
    StopExchange();
    if (!thread_->isFinished()) return;  // could not be stopped from here (see StopExchange)
  }
  if (UDCountRadioGroup->itemIndex() < 0) {
    AddLogLine(QStringLiteral("Нет подключенных приборов, нет потока данных USB!"));
    return;
  }
  // The replaced thread has ended: release it and its device before the new one opens it.
  thread_.reset();
  rxTraced_ = false;
  lastPanelTrace_.clear();
  ++starts_;
  const int selected = UDCountRadioGroup->itemIndex();
  connectedText_ = QStringLiteral("Подключен ") + UDCountRadioGroup->items().value(selected);
  thread_ = std::make_unique<TUSB_Thread>(receivers_, watchedOpener(starts_));
  thread_->setLinkObserver([this, start = starts_](bool up) {
    QMetaObject::invokeMethod(
        this, [this, start, up] { linkChanged(start, up); }, Qt::QueuedConnection);
  });
  if (thread_->OpenDeviceHandle(devicePath)) {
    thread_->setWaitTime(kWaitTimeMs);
    thread_->resume();
    AddLogLine(QStringLiteral("Старт потока данных USB!"));
  } else {
    AddLogLine(QStringLiteral("Неправильный Handle!"));
#ifndef _WIN32
    if (thread_->openError() == EACCES) appendMemoLine(kPermissionHint);
#endif
  }
}

void TLinkForm::StopExchange() {
  if (!thread_) {
    AddLogLine(QStringLiteral("Не было потока данных!"));
    return;
  }
  // Terminate before resuming: a thread that never ran then ends without a cycle.
  thread_->terminate();
  if (thread_->isSuspended()) thread_->resume();
  if (!thread_->waitFor()) {
    qWarning("TLinkForm: the exchange cannot be stopped from inside its own hand-over");
    return;
  }
  AddLogLine(thread_->CancelTransfers() ? QStringLiteral("Поток данных USB разрушен!")
                                        : QStringLiteral("Не могу закрыть !"));
  linkDown();
}

void TLinkForm::StopExchangeForExit() {
  // Set first: a device change queued meanwhile, or run by the saves that follow (they let
  // events through), must not start a new exchange after this stop.
  exiting_ = true;
  lostRetry_->stop();
  StopExchange();
}

void TLinkForm::PauseExchange() {
  if (!thread_) return;
  if (thread_->isSuspended()) {
    AddLogLine(QStringLiteral("Поток USB УЖЕ остановлен!"));
  } else {
    thread_->suspend();
    AddLogLine(QStringLiteral("Поток данных USB остановлен!"));
  }
}

void TLinkForm::ResumeExchange() {
  if (!thread_) return;
  if (thread_->isSuspended()) {
    thread_->resume();
    AddLogLine(QStringLiteral("Продолжение работы потока данных USB!"));
  } else {
    AddLogLine(QStringLiteral("Поток USB УЖЕ работает!"));
  }
}

// ---- Buttons -----------------------------------------------------------------------------------

template <typename Action>
void TLinkForm::withButtonDisabled(QPushButton* button, Action action) {
  button->setEnabled(false);
  action();
  button->setEnabled(true);
}

void TLinkForm::SpeedButton1Click() {
  ShowDeviceProperties(devices_, UDCountRadioGroup->itemIndex(),
                       [this](const QString& l) { appendMemoLine(l); });
}

void TLinkForm::ClearMemoBitBtnClick() { clearMemo(); }

void TLinkForm::SpeedButtonClick() { hide(); }

void TLinkForm::CreateThreadButtonClick() {
  withButtonDisabled(CreateThreadButton, [this] { StartExchange(devicePath_); });
}

void TLinkForm::DestroyThreadButtonClick() {
  withButtonDisabled(DestroyThreadButton, [this] { StopExchange(); });
}

void TLinkForm::BitBtn1Click() {
  withButtonDisabled(BitBtn1, [this] { ResumeExchange(); });
}

void TLinkForm::BitBtn2Click() {
  withButtonDisabled(BitBtn2, [this] { PauseExchange(); });
}
