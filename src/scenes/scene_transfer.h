#pragma once
// Moving one value between a scene's control and its live counterpart on the panel or the
// receive view, and finding those counterparts by name.

#include <QPointer>
#include <QWidget>
#include <vector>

// Copies the value of from into to through to's normal setter, so that to's own change
// reaction runs when, and only when, the value really changes:
//   page control  the page index; an index outside to's pages shows none (no page reaction)
//   radio group   the item index, clamped by to (below -1: none, beyond: the last item)
//   check box     checked
//   real field    the value, with no range check; to shows it with its own decimals
//   integer field the value (text that is no integer reads as from's minimum), clamped by to
// False, changing nothing, when the two are not of the same kind.
bool copyControlValue(const QWidget* from, QWidget* to);

// The live controls matching sceneFields() one to one: the panel's for the channel and
// synchronisation fields, the receive view's for the two input settings, null for the fields
// a scene alone has and for windows that do not exist. Looked up once per pair of windows.
class LiveControls {
 public:
  const std::vector<QPointer<QWidget>>& bind(QWidget* panel, QWidget* receiveView);

 private:
  bool bound_ = false;
  QPointer<QWidget> panel_;
  QPointer<QWidget> receiveView_;
  std::vector<QPointer<QWidget>> controls_;
};
