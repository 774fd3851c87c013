// Device changes on Windows: WM_DEVICECHANGE counts once per message, and only when sent or
// posted to the events window's own handle, which exists while the window is still hidden.
#ifdef _WIN32
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWidget>

#include "platform/windows_change_monitor_win.h"

namespace {

TEST(WinChangeMonitor, OneNotificationPerMessageToTheHiddenEventsWindowOnly) {
  if (QGuiApplication::platformName() != QLatin1String("windows"))
    GTEST_SKIP() << "needs the windows platform (-platform windows)";
  QWidget events, other;
  other.winId();
  WinDeviceChangeMonitor monitor(&events);
  ASSERT_FALSE(events.isVisible());
  const HWND eventsHandle = monitor.target(), otherHandle = reinterpret_cast<HWND>(other.winId());
  ASSERT_TRUE(eventsHandle && eventsHandle != otherHandle);
  int changes = 0;
  std::vector<quint32> others;
  QObject::connect(&monitor, &DeviceChangeMonitor::devicesChanged, [&] { ++changes; });
  QObject::connect(&monitor, &DeviceChangeMonitor::otherDeviceEvent,
                   [&](quint32 code) { others.push_back(code); });

  struct Row {
    const char* name;
    bool post;
    HWND to;
    WPARAM code;
    int changes;
    std::vector<quint32> others;
  };
  const Row rows[] = {{"sent to the events window", false, eventsHandle, DBT_DEVNODES_CHANGED, 1, {}},
                      {"posted to the events window", true, eventsHandle, DBT_DEVNODES_CHANGED, 1, {}},
                      {"sent to another window", false, otherHandle, DBT_DEVNODES_CHANGED, 0, {}},
                      {"posted to another window", true, otherHandle, DBT_DEVNODES_CHANGED, 0, {}},
                      {"another event", false, eventsHandle, DBT_DEVICEARRIVAL, 0, {0x8000}}};
  for (const Row& row : rows) {
    changes = 0;
    others.clear();
    if (row.post)
      PostMessageA(row.to, WM_DEVICECHANGE, row.code, 0);
    else
      SendMessageA(row.to, WM_DEVICECHANGE, row.code, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(changes, row.changes) << row.name;
    EXPECT_EQ(others, row.others) << row.name;
  }
}

}  // namespace

#endif  // _WIN32
