#pragma once
// One synthesizer through its driver: the device path opened as a file, each request one
// DeviceIoControl with the same buffer as input and output, awaited on an auto-reset event
// named in an OVERLAPPED record.
#ifdef _WIN32

#include "platform/devices.h"
#include "platform/windows_driver_calls_win.h"

class WinDriverTransport : public DeviceTransport {
 public:
  // Opens the device path for reading and writing, shared, not overlapped. nullptr with the
  // system's error code in *error when it cannot be opened.
  static std::unique_ptr<WinDriverTransport> open(const WinDriverCalls& calls, const QString& devicePath,
                                                  int* error);
  // Closes the events and the device handle.
  ~WinDriverTransport() override;

  // Reset the event, DeviceIoControl(code, buffer, length, buffer, length), wait at most waitMs
  // on the event. 0 when the driver took the request, else the system's last-error code taken
  // after the wait.
  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override;
  // CancelIo on the device handle.
  bool cancel() override;

 private:
  WinDriverTransport(const WinDriverCalls& calls, HANDLE device) : calls_(calls), device_(device) {}
  void closeEvent(HANDLE& event);

  const WinDriverCalls& calls_;
  HANDLE device_;
  // The size requests at the start of an exchange wait on an event of their own, closed when
  // the cycle's first transfer makes the completion event that serves every later one.
  HANDLE configureEvent_ = nullptr;
  HANDLE completionEvent_ = nullptr;
  OVERLAPPED overlapped_{};
  DWORD bytesReturned_ = 0;  // written by the driver, never read
};

#endif  // _WIN32
