#pragma once
// Lists the devices the synthesizer's driver publishes: every present interface of the
// driver's device-interface class, with its device path and its Plug and Play registry
// properties, read once through the device-setup library. Which of them are synthesizers is
// decided above, by hardware ID, as for every back end.
#ifdef _WIN32

#include <array>
#include <cstdint>

#include "platform/devices.h"
#include "platform/windows_driver_calls_win.h"

namespace win_driver {

// The driver's device-interface class {AE18AA60-7F6A-11D4-97DD-00010229B959}.
inline constexpr GUID kInterfaceClass = {
    0xAE18AA60, 0x7F6A, 0x11D4, {0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59}};

// Buffers of the three property readers, bytes.
inline constexpr DWORD kTextBuffer = 257;
inline constexpr DWORD kListBuffer = 16384;

}  // namespace win_driver

class WinDriverEnumerator : public DeviceEnumerator {
 public:
  explicit WinDriverEnumerator(WinDriverCalls& calls) : calls_(calls) {}
  std::vector<DeviceRecord> enumerate() override;
  // One line when the device-setup library could not be loaded.
  QStringList notes() const override { return notes_; }

 private:
  DeviceRecord readRecord(HDEVINFO set, SP_DEVINFO_DATA& info, const QString& devicePath);
  QString readText(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property);
  QStringList readList(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property);
  std::uint32_t readNumber(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property);

  WinDriverCalls& calls_;
  QStringList notes_;
  // The list reader's buffer, kept between reads (16 KiB each time would be wasteful).
  std::array<char, win_driver::kListBuffer> listBuffer_{};
};

#endif  // _WIN32
