#ifdef _WIN32
#include "platform/windows_driver_enumerator_win.h"

#include <QUuid>
#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// "UI number format" is read as property 30, after the other UI number property.
constexpr DWORD kUiNumberFormatProperty = 30;

QString ansi(const char* text, std::size_t maxLength) {
  return QString::fromLocal8Bit(text, qsizetype(strnlen(text, maxLength)));
}

QString guidText(const unsigned char* bytes) {
  GUID guid;
  std::memcpy(&guid, bytes, sizeof guid);
  return QUuid(guid).toString(QUuid::WithBraces).toUpper();
}

}  // namespace

std::vector<DeviceRecord> WinDriverEnumerator::enumerate() {
  std::vector<DeviceRecord> records;
  notes_.clear();
  if (!calls_.loadSetupApi || !calls_.loadSetupApi(calls_)) {
    notes_ << QStringLiteral("Библиотека SetupApi.dll не загружена: синтезаторы USB не ищутся");
    return records;
  }
  const HDEVINFO set = calls_.getClassDevs(&win_driver::kInterfaceClass, nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return records;
  for (DWORD index = 0;; ++index) {
    // Size fields are those of this build's structures: 32 for both records in a 64-bit
    // program, 8 for the detail's fixed part.
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    if (!calls_.enumDeviceInterfaces(set, nullptr, &win_driver::kInterfaceClass, index, &iface)) break;
    SP_DEVINFO_DATA info{};
    info.cbSize = sizeof(info);
    DWORD required = 0;
    calls_.getDeviceInterfaceDetail(set, &iface, nullptr, 0, &required, &info);
    // An interface whose details cannot be read is skipped; the others are still examined.
    if (required == 0 || calls_.getLastError() != ERROR_INSUFFICIENT_BUFFER) continue;
    // At least the fixed part, whatever the size asked for, so its size field can be written.
    std::vector<unsigned char> buffer(
        std::max<std::size_t>(required, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)));
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!calls_.getDeviceInterfaceDetail(set, &iface, detail, required, nullptr, &info)) continue;
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const QString path = ansi(detail->DevicePath, buffer.size() - pathOffset);
    records.push_back(readRecord(set, info, path));
  }
  calls_.destroyDeviceInfoList(set);
  return records;
}

DeviceRecord WinDriverEnumerator::readRecord(HDEVINFO set, SP_DEVINFO_DATA& info, const QString& devicePath) {
  DeviceRecord r;
  r.deviceInstance = info.DevInst;
  r.devicePath = devicePath;
  // Read in the order the record lists them; a property the device lacks stays empty or 0.
  r.capabilities = readNumber(set, info, SPDRP_CAPABILITIES);
  r.className = readText(set, info, SPDRP_CLASS);
  r.classGuid = readText(set, info, SPDRP_CLASSGUID);
  r.compatibleIds = readList(set, info, SPDRP_COMPATIBLEIDS);
  r.configFlags = readNumber(set, info, SPDRP_CONFIGFLAGS);
  r.deviceDescription = readText(set, info, SPDRP_DEVICEDESC);
  r.driverKey = readText(set, info, SPDRP_DRIVER);
  r.friendlyName = readText(set, info, SPDRP_FRIENDLYNAME);
  r.hardwareIds = readList(set, info, SPDRP_HARDWAREID);
  r.lowerFilters = readList(set, info, SPDRP_LOWERFILTERS);
  r.manufacturer = readText(set, info, SPDRP_MFG);
  r.upperFilters = readList(set, info, SPDRP_UPPERFILTERS);
  r.address = readText(set, info, SPDRP_ADDRESS);
  r.busNumber = readNumber(set, info, SPDRP_BUSNUMBER);
  r.busType = readText(set, info, SPDRP_BUSTYPEGUID);
  r.characteristics = readText(set, info, SPDRP_CHARACTERISTICS);
  r.deviceType = readNumber(set, info, SPDRP_DEVTYPE);
  r.enumeratorName = readText(set, info, SPDRP_ENUMERATOR_NAME);
  r.exclusive = readNumber(set, info, SPDRP_EXCLUSIVE);
  r.legacyBusType = readNumber(set, info, SPDRP_LEGACYBUSTYPE);
  r.locationInformation = readText(set, info, SPDRP_LOCATION_INFORMATION);
  r.physicalDeviceObjectName = readText(set, info, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME);
  r.securityDescriptor = readText(set, info, SPDRP_SECURITY_SDS);
  r.service = readText(set, info, SPDRP_SERVICE);
  r.uiNumber = readNumber(set, info, SPDRP_UI_NUMBER);
  r.uiNumberFormat = readText(set, info, kUiNumberFormatProperty);
  return r;
}

QString WinDriverEnumerator::readText(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  // Cleared whole rather than only its first byte: a number read below is then never made of
  // bytes the call did not write.
  std::array<unsigned char, win_driver::kTextBuffer> buffer{};
  DWORD type = REG_NONE;
  calls_.getDeviceRegistryProperty(set, &info, property, &type, buffer.data(), DWORD(buffer.size()), nullptr);
  // The address and characteristics are numbers and the bus type a GUID, asked for with the
  // text reader all the same: shown as a decimal, as 8 hex digits + "h" and as the GUID's text
  // rather than as their raw bytes.
  if (type == REG_DWORD) {
    std::uint32_t v = 0;
    std::memcpy(&v, buffer.data(), sizeof v);
    return property == SPDRP_CHARACTERISTICS ? QString::number(v, 16).rightJustified(8, u'0').toUpper() + u'h'
                                             : QString::number(v);
  }
  if (type == REG_BINARY && property == SPDRP_BUSTYPEGUID) return guidText(buffer.data());
  return ansi(reinterpret_cast<const char*>(buffer.data()), buffer.size());
}

QStringList WinDriverEnumerator::readList(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  listBuffer_[0] = 0;
  calls_.getDeviceRegistryProperty(set, &info, property, nullptr, reinterpret_cast<BYTE*>(listBuffer_.data()),
                                   DWORD(listBuffer_.size()), nullptr);
  // Zero-terminated strings one after another up to an empty one; a list that fills the
  // buffer without its end ends at the buffer's end.
  QStringList items;
  std::size_t at = 0;
  while (at < listBuffer_.size() && listBuffer_[at] != 0) {
    const std::size_t length = strnlen(listBuffer_.data() + at, listBuffer_.size() - at);
    items << QString::fromLocal8Bit(listBuffer_.data() + at, qsizetype(length));
    at += length + 1;
  }
  return items;
}

std::uint32_t WinDriverEnumerator::readNumber(HDEVINFO set, SP_DEVINFO_DATA& info, DWORD property) {
  DWORD value = 0;
  calls_.getDeviceRegistryProperty(set, &info, property, nullptr, reinterpret_cast<BYTE*>(&value),
                                   sizeof value, nullptr);
  return value;
}

#endif  // _WIN32
