#pragma once
// The USB events window: owns the link to the synthesizer and logs what happens to it. It
// keeps the list of attached synthesizers, starts the exchange thread on the first one,
// stops, pauses and resumes it, reacts to device-node changes by listing again and
// restarting, and tells the control panel whether a synthesizer is connected.

#include <QElapsedTimer>
#include <QWidget>
#include <cstdint>
#include <memory>

#include "usb/link_panel.h"
#include "usb/link_platform.h"
#include "usb/pnp_info.h"
#include "usb/usb_thread.h"

class QFile;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TRadioGroup;
class TRxDrawForm;

class TLinkForm : public QWidget {
  Q_OBJECT
 public:
  // The Windows device-change event that means "device nodes changed". <dbt.h> has a macro of
  // the same name and value: set aside here, so that this header may come after it.
#pragma push_macro("DBT_DEVNODES_CHANGED")
#undef DBT_DEVNODES_CHANGED
  static constexpr std::uint32_t DBT_DEVNODES_CHANGED = 0x0007;
#pragma pop_macro("DBT_DEVNODES_CHANGED")
  static constexpr std::uint32_t kWaitTimeMs = 400;  // each cycle transfer
  // Numbered lines kept before the log is cleared.
  static constexpr std::uint32_t kMaxLogLines = 500;
  // A device whose connection closed counts as removed and restarts the link, but no more
  // often than this (ms): a device that fails every connection must not keep it restarting.
  static constexpr int kLostRetryMs = 1000;

  // The exchange it starts hands each cycle's status report and packet to panel and the
  // receive buffer to rx; without them (tests of the window alone) those steps do nothing.
  explicit TLinkForm(LinkPlatform platform = {}, LinkPanel* panel = nullptr, TRxDrawForm* rx = nullptr,
                     QWidget* parent = nullptr);
  ~TLinkForm() override;

  void AddLogLine(const QString& text);
  void ListSynthesizers();
  void StartExchange(const QString& devicePath);
  void StopExchange();
  // The program's exit: stops the exchange for good. From then on device changes are ignored
  // and no exchange starts again.
  void StopExchangeForExit();
  bool exiting() const { return exiting_; }
  void PauseExchange();
  void ResumeExchange();
  // One device-change event (the Windows event code).
  void WMDeviceChange(std::uint32_t eventCode);

  void SpeedButton1Click();
  void ClearMemoBitBtnClick();
  void SpeedButtonClick();
  void CreateThreadButtonClick();
  void DestroyThreadButtonClick();
  void BitBtn1Click();
  void BitBtn2Click();
  void FormActivate() {}

  // The link is up from the first exchange cycle whose three transfers went through until the
  // exchange stops (a device change, the exit) or its connection closes. The control panel's
  // link text and every remote answer about the device follow this one state.
  bool linkUp() const { return linkUpStart_ != 0; }
  // Non-zero while the link is up, and different for every time it comes up: a waiter that
  // sees another value knows the link went down meanwhile.
  std::uint64_t linkId() const { return linkUpStart_; }

  // The log as lines (an empty log has none).
  QStringList logLines() const;
  TUSB_Thread* currentThread() const { return thread_.get(); }
  const QString& currentDevicePath() const { return devicePath_; }
  const TUSBPnPList& devices() const { return devices_; }
  std::uint32_t logCounter() const { return logCounter_; }
  // Where the exchange's hand-overs go; by default the control panel and the receive view.
  // Takes effect at the next start.
  void setReceivers(LinkReceivers receivers) { receivers_ = std::move(receivers); }

  QFrame* Panel2 = nullptr;
  TRadioGroup* UDCountRadioGroup = nullptr;
  QLabel* Label1 = nullptr;
  QPushButton* CreateThreadButton = nullptr;
  QPushButton* BitBtn1 = nullptr;
  QPushButton* BitBtn2 = nullptr;
  QPushButton* DestroyThreadButton = nullptr;
  QPlainTextEdit* Memo = nullptr;
  QFrame* Panel1 = nullptr;
  QPushButton* SpeedButton1 = nullptr;
  QPushButton* ClearMemoBitBtn = nullptr;
  QPushButton* SpeedButton = nullptr;

 private:
  void FormCreate();
  void createControls();
  void connectionReport();
  void setLinkStatus(const QString& text);
  // Appends one unnumbered line.
  void appendMemoLine(const QString& text);
  void clearMemo();
  // The change monitor's notifications: one burst is handled once, after the current event.
  void devicesChanged();
  void runPendingChanges();
  // The exchange thread of that start found its device's connection closed (posted from it).
  void connectionLost(std::uint64_t start);
  // The exchange thread of that start reports its link up or down (posted from it).
  void linkChanged(std::uint64_t start, bool up);
  void linkDown();
  // The opener of the start with that number: the platform's, watched for a closed connection.
  usb::TransportOpener watchedOpener(std::uint64_t start);
  // Engineers' trace (QZ418_LINK_LOG=<file>): the log lines, the link state and what the
  // windows show of the first hand-overs of each exchange, one tagged line each.
  void trace(const char* tag, const QString& text);
  void traceHandOvers(LinkReceivers& receivers);
  // Runs a button's action with the button disabled meanwhile.
  template <typename Action>
  void withButtonDisabled(QPushButton* button, Action action);

  LinkPlatform platform_;
  LinkPanel* panel_;
  LinkReceivers receivers_;
  std::unique_ptr<DeviceEnumerator> enumerator_;
  std::unique_ptr<DeviceChangeMonitor> monitor_;
  TUSBPnPList devices_;
  std::unique_ptr<TUSB_Thread> thread_;
  QString devicePath_;
  std::uint32_t logCounter_ = 0;
  bool memoHasLines_ = false;
  bool changeQueued_ = false;
  bool changePending_ = false;
  bool handlingChange_ = false;
  bool exiting_ = false;
  std::uint64_t starts_ = 0;  // numbers the exchange threads
  std::uint64_t linkUpStart_ = 0;  // the start whose link is up; 0: down
  QString connectedText_;          // the panel's link text once that start's link is up
  QElapsedTimer lastLostRestart_;
  QTimer* lostRetry_ = nullptr;
  std::uint64_t lostStart_ = 0;  // the start whose lost connection waits for lostRetry_
  std::unique_ptr<QFile> traceFile_;
  QString lastPanelTrace_;
  bool rxTraced_ = false;
};

