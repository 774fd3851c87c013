#pragma once
// The program's four windows and how the shell joins them. Each window reaches the others only
// through what it is given here: the receive view and the scenario window get the panel when
// they are created, the events window gets the panel as the exchange's receiver, and the panel
// gets the other three (and its project files and the exit's stop) once all exist.

#include <QList>

class QWidget;
class TLinkForm;
class TMainForm;
class TRxDrawForm;
class TSchemaForm;
struct LinkPlatform;

struct ProgramWindows {
  TMainForm* main = nullptr;
  TRxDrawForm* rx = nullptr;
  TSchemaForm* schema = nullptr;
  TLinkForm* link = nullptr;

  // Those that exist, in creation order (the order of the sections in a project file).
  QList<QWidget*> list() const;
};

// Creates the windows in the fixed order: the panel, the receive view, the scenario window
// (whose start applies a scene to the first two), then the events window, which starts the
// exchange, whose first hand-overs go to the panel and the receive view. Joined as wireWindows
// does, the panel's peers already set before the exchange starts.
ProgramWindows createProgramWindows(const LinkPlatform& platform);

// Hands the panel the other windows, its project files and the exit's stop of the exchange.
// For windows a test created itself; any but the panel may be missing.
void wireWindows(const ProgramWindows& windows);
