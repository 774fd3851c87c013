#pragma once
// The scenario window: nine scenes, selected, named, recorded, loaded and saved, and the
// synthesizer's scene requests. The scenes live in nine hidden scene pages (TScenaForm) owned
// by this window; they and this window's own state are kept in a scenario file, Scenes.ini
// beside the executable (read at start, written at exit) or a *.qzc file the operator chooses.

#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "panel/panel_peers.h"
#include "scenes/scene_fields.h"
#include "scenes/scene_transfer.h"
#include "widgets/dialogs.h"

class QLineEdit;
class QPushButton;
class QToolButton;
class TRadioGroup;
class TScenaForm;
class TMainForm;
class TRxDrawForm;
class TStatusBar;

class TSchemaForm : public QWidget, public PanelScenes {
  Q_OBJECT
 public:
  // Creating the window runs the whole start of the scenes: the state file's section for
  // this window, the nine scene pages, Scenes.ini, and one apply of the selected scene to the
  // panel and the receive view (which must exist by then to receive it; without them, in
  // tests of the scenes alone, a scene reaches no window).
  explicit TSchemaForm(TMainForm* panel = nullptr, TRxDrawForm* rx = nullptr, QWidget* parent = nullptr);
  ~TSchemaForm() override;
  // The panel and the receive view when they were created after this window (tests).
  void setWindows(TMainForm* panel, TRxDrawForm* rx) {
    panel_ = panel;
    rx_ = rx;
  }

  // Where the start reads this window's state and Scenes.ini, and the exit writes Scenes.ini.
  // Where the program keeps its state (beside a portable copy, in the user's config folder
  // for an installed one); tests point them elsewhere.
  static inline std::function<QString()> stateFile;
  static inline std::function<QString()> scenesFile;
  static QString defaultScenesFile();

  // The scene-request byte of every status report, on the UI thread before the cycle's packet
  // is built: shown in the status bar, and a request 1-10 that follows a report of 0 selects
  // and applies that scene (10 gives scene 9).
  void SceneRequest(std::uint8_t request) override;
  std::uint8_t lastSceneRequest() const { return LastSceneRequest; }
  void setStatusText(const QString& text) override;
  QWidget* scenesWindow() override { return this; }
  QString statusText() const;

  // Reads a scenario file: this window's section (as if edited), the nine scenes, the names
  // from the scenes, then scene 1 selected and applied. A missing file changes nothing (true);
  // a float that cannot be read stops the load after the float error was shown (false).
  bool LoadScenario(const QString& path);
  // Writes this window's section and the nine scenes' sections, in that order; other sections
  // of the file stay. False, after "Unable to write to ...", when the file cannot be written.
  bool SaveScenario(const QString& path);
  // At exit: Scenes.ini beside the executable, whichever file was opened or saved; then the
  // scene pages are closed. False when Scenes.ini could not be written (the error was shown).
  bool StoreScenesOnExit() override;

  // Scene 1-9; null outside or while the pages are not yet created.
  TScenaForm* scene(int number) const;
  // Copies a scene into the panel and the receive view; null does nothing.
  void ApplyScene(TScenaForm* scene);
  // Copies the panel's and the receive view's values into a scene; null does nothing.
  void CaptureScene(TScenaForm* scene);
  // Record button n: asks, and on Yes captures into scene n.
  void AskCaptureScene(int n);

  // Reactions.
  void ScenaRadioGroupClick();
  // Shared by the nine name fields; origin is the field whose text changed.
  void Edit1Change(QObject* origin);
  void OpenFileSpeedButtonClick();
  void SaveFileSpeedButtonClick();
  void HelpBitBtnClick();
  void FormActivate() {}

  QToolButton* OpenFileSpeedButton = nullptr;
  QToolButton* SaveFileSpeedButton = nullptr;
  QPushButton* HelpBitBtn = nullptr;
  QLineEdit* CommentEdit = nullptr;
  TRadioGroup* ScenaRadioGroup = nullptr;
  std::array<QLineEdit*, kSceneCount> Edit{};           // Edit1 ... Edit9
  std::array<QToolButton*, kSceneCount> SpeedButton{};  // SpeedButton1 ... SpeedButton9
  TStatusBar* FooterStatusBar = nullptr;
  FileDialogRequest SOpenDialog;
  FileDialogRequest SSaveDialog;

 private:
  void FormCreate();
  void createControls();
  void copyGroup(SceneGroup group, TScenaForm* scene, bool intoScene);

  TMainForm* panel_;
  TRxDrawForm* rx_;
  std::array<TScenaForm*, kSceneCount> scenes_{};
  LiveControls live_;
  std::uint8_t LastSceneRequest = 0;  // the previous report's request; 0 at start
};

