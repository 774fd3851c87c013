#ifdef _WIN32
#include "platform/windows_driver_transport_win.h"

std::unique_ptr<WinDriverTransport> WinDriverTransport::open(const WinDriverCalls& calls,
                                                             const QString& devicePath, int* error) {
  const QByteArray path = devicePath.toLocal8Bit();
  const HANDLE device =
      calls.createFile(path.constData(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, 0, nullptr);
  if (device == INVALID_HANDLE_VALUE) {
    const DWORD code = calls.getLastError();
    if (error) *error = code != 0 ? int(code) : int(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  return std::unique_ptr<WinDriverTransport>(new WinDriverTransport(calls, device));
}

WinDriverTransport::~WinDriverTransport() {
  closeEvent(configureEvent_);
  closeEvent(completionEvent_);
  calls_.closeHandle(device_);
}

void WinDriverTransport::closeEvent(HANDLE& event) {
  if (event) calls_.closeHandle(event);
  event = nullptr;
}

int WinDriverTransport::request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                                std::uint32_t waitMs) {
  const bool configuring = code == driver_ioctl::kSetTransferSize;
  if (!configuring) closeEvent(configureEvent_);
  HANDLE& event = configuring ? configureEvent_ : completionEvent_;
  // Unnamed, auto-reset, created unsignalled.
  if (!event) event = calls_.createEvent(nullptr, FALSE, FALSE, nullptr);
  if (!event) {
    const DWORD failure = calls_.getLastError();
    return failure != 0 ? int(failure) : int(ERROR_INVALID_HANDLE);
  }
  overlapped_ = OVERLAPPED{};
  overlapped_.hEvent = event;
  calls_.resetEvent(event);
  const BOOL taken =
      calls_.deviceIoControl(device_, code, buffer, length, buffer, length, &bytesReturned_, &overlapped_);
  const DWORD ioError = taken ? 0 : calls_.getLastError();
  const DWORD waited = calls_.waitForSingleObject(event, waitMs);
  // The last-error code of a request that went through is whatever an earlier failure left
  // there (a success does not clear it): only a refused request reports one. A request the
  // driver finishes later counts once its completion has been signalled in time.
  if (taken || (ioError == ERROR_IO_PENDING && waited == WAIT_OBJECT_0)) return 0;
  const DWORD last = calls_.getLastError();
  return last != 0 ? int(last) : int(ERROR_GEN_FAILURE);
}

bool WinDriverTransport::cancel() { return calls_.cancelIo(device_) != FALSE; }

#endif  // _WIN32
