// Kept apart from the window so that tests, which bring their own platform, do not pull in
// the real back ends.
#include "usb/link_platform.h"

LinkPlatform systemLinkPlatform() {
  LinkPlatform p;
  p.makeEnumerator = [] { return makeSystemEnumerator(); };
  p.openTransport = [](const QString& path, int* error) { return openDeviceTransport(path, error); };
  p.makeChangeMonitor = [](QObject* parent) { return makeSystemChangeMonitor(parent); };
  return p;
}
