#pragma once
// Every system call the synthesizer driver's back end makes, in one table: device discovery
// through the device-setup library, the device handle and its I/O control requests, the
// completion event. The back end calls nothing else of the system, so a table filled with
// stand-ins runs it whole without a synthesizer or its driver.
#ifdef _WIN32

#include <windows.h>
// windows.h first: setupapi.h needs its types.
#include <setupapi.h>

struct WinDriverCalls {
  // Makes the five SetupDi entries below usable; called by every discovery, true when they
  // all are. The system's loads "SetupApi.dll" by name the first time, resolves the entries by
  // name and never unloads it (the program is not linked to the library).
  bool (*loadSetupApi)(WinDriverCalls& calls) = nullptr;

  decltype(&::SetupDiGetClassDevsA) getClassDevs = nullptr;
  decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
  decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail = nullptr;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) getDeviceRegistryProperty = nullptr;
  decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;

  decltype(&::CreateFileA) createFile = nullptr;
  decltype(&::DeviceIoControl) deviceIoControl = nullptr;
  decltype(&::CreateEventA) createEvent = nullptr;
  decltype(&::ResetEvent) resetEvent = nullptr;
  decltype(&::WaitForSingleObject) waitForSingleObject = nullptr;
  decltype(&::CancelIo) cancelIo = nullptr;
  decltype(&::CloseHandle) closeHandle = nullptr;
  decltype(&::GetLastError) getLastError = nullptr;
};

// The system's own calls (kernel32 at once, SetupAPI on the first discovery). One table for
// the whole program; discovery runs on the main thread only, so the loading needs no lock.
WinDriverCalls& systemDriverCalls();

// Loads "SetupApi.dll" once and fills the SetupDi entries of calls from it; false when the
// library or one of the five entries is missing (the entries are then left empty).
bool loadSystemSetupApi(WinDriverCalls& calls);

#endif  // _WIN32
