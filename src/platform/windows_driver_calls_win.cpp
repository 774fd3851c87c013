#ifdef _WIN32
#include "platform/windows_driver_calls_win.h"

namespace {

// GetProcAddress hands back a generic function pointer; the entry's own type is taken from
// the declaration it is stored in.
template <typename Entry>
bool resolve(HMODULE library, const char* name, Entry* entry) {
  *entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  return *entry != nullptr;
}

}  // namespace

bool loadSystemSetupApi(WinDriverCalls& calls) {
  // Loaded by name (never linked), on the first discovery, and kept to the end: a device list
  // is rebuilt on every device change.
  static const HMODULE library = LoadLibraryA("SetupApi.dll");
  if (!library) return false;
  WinDriverCalls found = calls;
  const bool all = resolve(library, "SetupDiGetClassDevsA", &found.getClassDevs) &&
                   resolve(library, "SetupDiEnumDeviceInterfaces", &found.enumDeviceInterfaces) &&
                   resolve(library, "SetupDiGetDeviceInterfaceDetailA", &found.getDeviceInterfaceDetail) &&
                   resolve(library, "SetupDiGetDeviceRegistryPropertyA", &found.getDeviceRegistryProperty) &&
                   resolve(library, "SetupDiDestroyDeviceInfoList", &found.destroyDeviceInfoList);
  if (all) calls = found;
  return all;
}

WinDriverCalls& systemDriverCalls() {
  static WinDriverCalls calls = [] {
    WinDriverCalls c;
    c.loadSetupApi = [](WinDriverCalls& self) {
      return (self.getClassDevs && self.enumDeviceInterfaces && self.getDeviceInterfaceDetail &&
              self.getDeviceRegistryProperty && self.destroyDeviceInfoList) ||
             loadSystemSetupApi(self);
    };
    c.createFile = &::CreateFileA;
    c.deviceIoControl = &::DeviceIoControl;
    c.createEvent = &::CreateEventA;
    c.resetEvent = &::ResetEvent;
    c.waitForSingleObject = &::WaitForSingleObject;
    c.cancelIo = &::CancelIo;
    c.closeHandle = &::CloseHandle;
    c.getLastError = &::GetLastError;
    return c;
  }();
  return calls;
}

#endif  // _WIN32
