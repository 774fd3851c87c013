#include "shell/program_windows.h"

#include "panel/main_form.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "shell/project_files.h"
#include "usb/link_form.h"

QList<QWidget*> ProgramWindows::list() const {
  QList<QWidget*> windows;
  for (QWidget* w : std::initializer_list<QWidget*>{main, rx, schema, link})
    if (w) windows.append(w);
  return windows;
}

void wireWindows(const ProgramWindows& w) {
  if (!w.main) return;
  TMainForm* main = w.main;
  main->setPeers({w.rx, w.schema, w.link});
  TLinkForm* link = w.link;
  main->stopExchange = link ? std::function<void()>([link] { link->StopExchangeForExit(); }) : nullptr;
  const QList<QWidget*> windows = w.list();
  main->openProject = [main, windows](FileDialogRequest& d) { return OpenProject(d, main, windows); };
  main->saveProjectAs = [main, windows](FileDialogRequest& d) { return SaveProjectAs(d, main, windows); };
}

ProgramWindows createProgramWindows(const LinkPlatform& platform) {
  ProgramWindows w;
  w.main = new TMainForm;
  w.rx = new TRxDrawForm(w.main);
  w.schema = new TSchemaForm(w.main, w.rx);
  // The status reports of the first cycles may carry scene requests: the panel hands them on.
  wireWindows(w);
  w.link = new TLinkForm(platform, w.main, w.rx);
  wireWindows(w);
  return w;
}
