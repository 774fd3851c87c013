#pragma once
// The other windows as the control panel reaches them. The shell creates the windows in their
// fixed order and hands the panel these once all exist: the receive view and the events window
// sit below the panel and are reached directly; the scenario window sits above it (it applies
// scenes to the panel) and is reached only through PanelScenes, which it implements.

#include <QString>
#include <cstdint>

class QWidget;
class TLinkForm;
class TRxDrawForm;

class PanelScenes {
 public:
  virtual ~PanelScenes() = default;
  // The scenario window itself, shown by the panel's button.
  virtual QWidget* scenesWindow() = 0;
  // Each status report's scene request byte, handed on as it arrives (it may apply a scene).
  virtual void SceneRequest(std::uint8_t request) = 0;
  // The line the scenario window shows about requests (cleared with the status display).
  virtual void setStatusText(const QString& text) = 0;
  // Writes Scenes.ini at the exit; false when it could not be written.
  virtual bool StoreScenesOnExit() = 0;
};

struct PanelPeers {
  TRxDrawForm* rx = nullptr;
  PanelScenes* scenes = nullptr;
  TLinkForm* link = nullptr;
};
