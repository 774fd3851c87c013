#pragma once
// The program's side of the virtual synthesizers on Windows: qz418-sim and anything else that
// serves the virtual-device protocol on a named pipe named in the virtual-device folder (see
// virtual_pipe_win.h). The Windows composition of the back ends (device_system_win.cpp) lists
// them after the driver's devices and opens their paths through this.
#ifdef _WIN32

#include <QString>
#include <memory>
#include <vector>

#include "platform/devices.h"

// Connects to the pipe at path ("\\.\pipe\qz418-<pid>-<name>"); nullptr with *error set
// (19 when nothing serves it, 13 when a process of another user does).
std::unique_ptr<DeviceTransport> openVirtualPipeTransport(const QString& path, int* error);

// The live virtual devices of the virtual-device folder, sorted by name, each with the pipe as
// its device path, the hardware IDs USB\VID_5D3C&PID_5D3C&REV_0001 and USB\VID_5D3C&PID_5D3C,
// location "virtual:<name>", description "QZ418 (virtual)", manufacturer "qz418-sim".
// folder: empty for virtualDeviceFolder().
std::vector<DeviceRecord> enumerateVirtualPipes(const QString& folder = QString());

// True for a named pipe's path ("\\.\pipe\..." in either separators, any case).
bool isVirtualPipePath(const QString& path);

#endif
