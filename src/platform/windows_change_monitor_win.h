#pragma once
// Device changes on Windows: the system sends WM_DEVICECHANGE to every top-level window, and
// DBT_DEVNODES_CHANGED means "device nodes changed" (a synthesizer plugged or unplugged, a
// virtual one started or stopped). The events window is the one that acts on it: its native
// handle is made at once, even while it is hidden, and only messages sent to that handle
// count, so a message that every top-level window of the program gets is one notification.
#ifdef _WIN32

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <memory>

#include "platform/devices.h"

class QWidget;

class WinDeviceChangeMonitor : public DeviceChangeMonitor, public QAbstractNativeEventFilter {
 public:
  // window: the events window. Without one the monitor makes a hidden top-level window of its own.
  explicit WinDeviceChangeMonitor(QWidget* window, QObject* parent = nullptr);
  ~WinDeviceChangeMonitor() override;

  // The handle the messages must be sent to.
  HWND target() const;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  std::unique_ptr<QWidget> ownWindow_;
  QPointer<QWidget> window_;
};

#endif  // _WIN32
