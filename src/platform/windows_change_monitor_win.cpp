#ifdef _WIN32
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <QCoreApplication>
#include <QWidget>

#include "platform/windows_change_monitor_win.h"

WinDeviceChangeMonitor::WinDeviceChangeMonitor(QWidget* window, QObject* parent)
    : DeviceChangeMonitor(parent), window_(window) {
  if (!window_) {
    ownWindow_ = std::make_unique<QWidget>();
    window_ = ownWindow_.get();
  }
  // A hidden window has no native handle until it is first shown; the messages of the time
  // between would be lost.
  window_->winId();
  if (QCoreApplication* app = QCoreApplication::instance()) app->installNativeEventFilter(this);
}

WinDeviceChangeMonitor::~WinDeviceChangeMonitor() {
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
}

HWND WinDeviceChangeMonitor::target() const {
  // Read each time: the window's handle changes when Qt has to make it anew.
  return window_ ? reinterpret_cast<HWND>(window_->internalWinId()) : nullptr;
}

bool WinDeviceChangeMonitor::nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) {
  if (eventType != "windows_generic_MSG") return false;
  const MSG* msg = static_cast<const MSG*>(message);
  if (msg->message != WM_DEVICECHANGE || !msg->hwnd || msg->hwnd != target()) return false;
  if (msg->wParam == DBT_DEVNODES_CHANGED)
    emit devicesChanged();
  else
    emit otherDeviceEvent(quint32(msg->wParam));
  // Taken here: a posted message would otherwise pass the filter a second time when it is
  // dispatched to the window. TRUE grants whatever the message asks.
  if (result) *result = TRUE;
  return true;
}

#endif  // _WIN32
