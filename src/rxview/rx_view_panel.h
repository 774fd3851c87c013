#pragma once
// What the receive view reads of the control panel, which stands above it: where the panel is
// (the view opens beside it) and the synchronization level the level marker starts from.
// Implemented by the panel, handed to the view by the shell.

#include <QRect>

class RxViewPanel {
 public:
  virtual ~RxViewPanel() = default;
  virtual QRect panelFrame() const = 0;
  virtual int syncLevel() const = 0;
};
