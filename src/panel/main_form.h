#pragma once
// The control panel: the application's main window. Every setting the synthesizer
// receives lives in a named control here (the names are keys of the stored files).
// Closing it ends the program.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "panel/command_packet.h"
#include "panel/panel_peers.h"
#include "panel/status_report.h"
#include "platform/drive_type.h"
#include "rxview/rx_view_panel.h"
#include "usb/link_panel.h"
#include "widgets/dialogs.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QToolButton;
class TIntSpinEdit;
class TPageControl;
class TRadioGroup;
class TRealSpinEdit;
class TMessageForm;
class TStatusBar;

// The controls of one mode page of a channel; null where the page has none.
struct ModePageControls {
  QWidget* page = nullptr;
  TRealSpinEdit* ampl = nullptr;
  TRadioGroup* sign = nullptr;
  TRealSpinEdit* delay = nullptr;
  TRealSpinEdit* time = nullptr;
  TRealSpinEdit* freq = nullptr;
  QCheckBox* hfModulation = nullptr;
  QCheckBox* amModulation = nullptr;
  TRealSpinEdit* am = nullptr;
  TIntSpinEdit* count = nullptr;
  TRealSpinEdit* pause = nullptr;
  TRealSpinEdit* loss = nullptr;
  TRealSpinEdit* dfreq = nullptr;
  QCheckBox* calibration = nullptr;  // sine page only
  QCheckBox* divider = nullptr;      // channel 1 only
  QLabel* message = nullptr;         // pulse and sine pages
};

struct ChannelControls {
  QGroupBox* group = nullptr;
  TPageControl* pages = nullptr;
  std::array<ModePageControls, 4> mode;  // pages 0-3; page 4 is the off panel
  QWidget* offPage = nullptr;
  QList<QLabel*> warningLabels;  // the other channel's calibration notice, under the pages
};

class TMainForm : public QWidget, public RxViewPanel, public LinkPanel {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);
  ~TMainForm() override;

  // The other windows, handed over by the shell once they all exist (before that, and in tests
  // of the panel alone, there are none: their parts of the status and the packet are skipped).
  void setPeers(const PanelPeers& peers) { peers_ = peers; }
  const PanelPeers& peers() const { return peers_; }
  // The waiting-message window the panel shows while the state loads and at the exit.
  TMessageForm* messageWindow() const { return messageForm_; }

  // What the receive view reads of the panel.
  QRect panelFrame() const override { return frameGeometry(); }
  int syncLevel() const override;

  // Fills bytes 0-59 of the exchange's OUT payload from the controls; 60-63 are left alone.
  void BuildCommandPacket(std::span<std::uint8_t, kCommandPacketSize> packet) const override;
  // The controls' values as the packet sees them.
  PanelSettings readPanelSettings() const;

  void ShowStatusReport(const std::array<std::uint8_t, kStatusReportSize>& report, std::uint32_t errorCode) override;
  void ClearStatusDisplay() override;
  void setLinkText(const QString& text) override;
  QString shownStatusTexts() const override;
  // The status report the status group shows, as values; none before the first report and
  // after ClearStatusDisplay. Remote control answers from it.
  const std::optional<StatusFields>& shownStatus() const { return shownStatus_; }

  // Reactions (also called by scene apply and the state loader).
  void Ch1_PageControlChange();
  void Ch2_PageControlChange();
  void SyncPageControlChange();
  void Ch1S_RF_To_Ch2_CheckBoxClick();
  void Ch2S_RF_To_Ch1_CheckBoxClick();
  void SyncLevelTrackBarChange();
  void SyncLevelPBSpinEditChange();
  void FormActivate();
  void ChemaBitBtnClick();
  void VewZIBitBtnClick();
  void USBIventsBitBtnClick();
  void HelpBitBtnClick();
  void InfoBitBtnClick();
  void ExitSpeedButtonClick();
  void OpenFileSpeedButtonClick();
  void SaveFileSpeedButtonClick();

  // Whether the state may be written to path, by the kind of drive it is on; asks the
  // operator for removable, network and RAM drives.
  bool ConfirmStateSave(const QString& path);
  // Where ConfirmStateSave learns the drive of a path (replaceable for tests).
  static std::function<DriveInfo(const QString&)> driveOfPath;
  // Stops the exchange and waits for its end (set by the shell to the events window's stop).
  std::function<void()> stopExchange;
  // Closing writes the state file only when this is true (tests of the window turn it off).
  bool saveStateOnClose = true;
  // True from the start of the exit (closing the panel) to the end of the program.
  bool isClosing() const { return closing_; }
  // True when the exit could not write the state file or Scenes.ini.
  bool exitSaveFailed() const { return exitSaveFailed_; }

  // Project files: each shows its dialog and returns the caption the window is to show
  // (the chosen file, or the caption unchanged). Set by the shell, which owns project files.
  std::function<QString(FileDialogRequest&)> openProject;
  std::function<QString(FileDialogRequest&)> saveProjectAs;

  // Controls other windows and the tests reach by name.
  std::array<ChannelControls, 2> ch;
  QCheckBox* Ch1S_OffCheckBox = nullptr;
  TPageControl* SyncPageControl = nullptr;
  TRadioGroup* SyncPolarRadioGroup = nullptr;
  TRealSpinEdit* TactPBSuperSpin = nullptr;
  TIntSpinEdit* SyncLevelPBSpinEdit = nullptr;
  QSlider* SyncLevelTrackBar = nullptr;
  QPushButton* VewZIBitBtn = nullptr;
  QToolButton* OpenFileSpeedButton = nullptr;
  QToolButton* SaveFileSpeedButton = nullptr;
  QPushButton* ChemaBitBtn = nullptr;
  QPushButton* HelpBitBtn = nullptr;
  QPushButton* InfoBitBtn = nullptr;
  QPushButton* ExitSpeedButton = nullptr;
  QLineEdit* CommentEdit = nullptr;
  QPushButton* USBIventsBitBtn = nullptr;
  QLabel *DAC1_ModeLabel = nullptr, *Ampl1_Label = nullptr, *F1_Label = nullptr;
  QLabel *DAC2_ModeLabel = nullptr, *Ampl2_Label = nullptr, *F2_Label = nullptr;
  QLabel *S1Label = nullptr, *S2Label = nullptr, *S3Label = nullptr, *S4Label = nullptr;
  TStatusBar* FooterStatusBar = nullptr;
  FileDialogRequest OpenDialog;
  FileDialogRequest SaveDialog;

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* e) override;
  bool event(QEvent* e) override;

 private:
  void FormCreate();
  void FormClose();
  void createToolBar();
  void createChannel(int index, int x);
  void createModePage(int channel, int mode);
  void createSyncGroup();
  void createStatusGroup();
  void channelPageChange(int channel);
  void calibrationClick(int channel);
  // Restyles a modulation field and shows the page's warning when neither box is checked.
  void modulationClick(QCheckBox* box, QWidget* field, QLabel* message, QCheckBox* partner);
  void runModulationReactions(int channel);
  StatusCaptions statusCaptions() const;
  bool closing_ = false;
  bool exitSaveFailed_ = false;
  PanelPeers peers_;
  std::optional<StatusFields> shownStatus_;
  TMessageForm* messageForm_ = nullptr;
};
