#include "platform/linux_usb_enumerator.h"

#include <libudev.h>

namespace {

std::optional<unsigned> parseNumber(const QString& text, int base) {
  bool ok = false;
  const unsigned v = text.trimmed().toUInt(&ok, base);
  return ok ? std::optional<unsigned>(v) : std::nullopt;
}

QString hex(unsigned v, int digits) {
  return QStringLiteral("%1").arg(v, digits, 16, QLatin1Char('0')).toUpper();
}

QStringList compatibleIds(const QString& cls, const QString& sub, const QString& prot) {
  const auto c = parseNumber(cls, 16), s = parseNumber(sub, 16), p = parseNumber(prot, 16);
  if (!c || !s || !p) return {};
  const QString ci = QStringLiteral("USB\\Class_") + hex(*c, 2);
  const QString si = ci + QStringLiteral("&SubClass_") + hex(*s, 2);
  return {si + QStringLiteral("&Prot_") + hex(*p, 2), si, ci};
}

QString text(udev_device* d, const char* attribute) {
  const char* v = udev_device_get_sysattr_value(d, attribute);
  return v ? QString::fromUtf8(v).trimmed() : QString();
}

}  // namespace

std::optional<DeviceRecord> linuxUsbRecord(const LinuxUsbDeviceInfo& info) {
  DeviceRecord r;
  const auto bus = parseNumber(info.busNumber, 10), dev = parseNumber(info.deviceNumber, 10);
  if (bus && dev)
    r.devicePath = QStringLiteral("/dev/bus/usb/%1/%2")
                       .arg(*bus, 3, 10, QLatin1Char('0'))
                       .arg(*dev, 3, 10, QLatin1Char('0'));
  else if (!info.deviceNode.isEmpty())
    r.devicePath = info.deviceNode;
  else
    return std::nullopt;

  const auto vid = parseNumber(info.idVendor, 16), pid = parseNumber(info.idProduct, 16);
  if (vid && pid) {
    const QString id = QStringLiteral("USB\\VID_") + hex(*vid, 4) + QStringLiteral("&PID_") + hex(*pid, 4);
    if (const auto rev = parseNumber(info.bcdDevice, 16))
      r.hardwareIds << id + QStringLiteral("&REV_") + hex(*rev, 4);
    r.hardwareIds << id;
  }
  // Class 0 means "see each interface": Windows then names the interface's class.
  const auto deviceClass = parseNumber(info.deviceClass, 16);
  if (deviceClass == 0u && !info.interfaceClass.isEmpty())
    r.compatibleIds = compatibleIds(info.interfaceClass, info.interfaceSubClass, info.interfaceProtocol);
  else
    r.compatibleIds = compatibleIds(info.deviceClass, info.deviceSubClass, info.deviceProtocol);

  r.deviceDescription = info.product;
  r.manufacturer = info.manufacturer;
  if (bus) r.busNumber = *bus;
  if (dev) r.address = QString::number(*dev);
  if (bus) {
    r.locationInformation = QStringLiteral("bus %1").arg(*bus);
    if (!info.portPath.isEmpty()) r.locationInformation += QStringLiteral(" port ") + info.portPath;
    if (dev) r.locationInformation += QStringLiteral(" address %1").arg(*dev);
  }
  r.enumeratorName = QStringLiteral("USB");
  r.service = info.driver;
  return r;
}

std::vector<DeviceRecord> LinuxUsbEnumerator::enumerate() {
  std::vector<DeviceRecord> records;
  udev* u = udev_new();
  if (!u) return records;
  udev_enumerate* e = udev_enumerate_new(u);
  if (e && udev_enumerate_add_match_subsystem(e, "usb") >= 0 && udev_enumerate_scan_devices(e) >= 0) {
    for (udev_list_entry* l = udev_enumerate_get_list_entry(e); l; l = udev_list_entry_get_next(l)) {
      udev_device* d = udev_device_new_from_syspath(u, udev_list_entry_get_name(l));
      if (!d) continue;
      const char* type = udev_device_get_devtype(d);
      if (type && qstrcmp(type, "usb_device") == 0) {
        LinuxUsbDeviceInfo info;
        info.idVendor = text(d, "idVendor");
        info.idProduct = text(d, "idProduct");
        info.bcdDevice = text(d, "bcdDevice");
        info.deviceClass = text(d, "bDeviceClass");
        info.deviceSubClass = text(d, "bDeviceSubClass");
        info.deviceProtocol = text(d, "bDeviceProtocol");
        info.product = text(d, "product");
        info.manufacturer = text(d, "manufacturer");
        info.busNumber = text(d, "busnum");
        info.deviceNumber = text(d, "devnum");
        info.portPath = text(d, "devpath");
        if (const char* drv = udev_device_get_driver(d)) info.driver = QString::fromUtf8(drv);
        if (const char* node = udev_device_get_devnode(d)) info.deviceNode = QString::fromUtf8(node);
        // Interface 0 of the active configuration is the sysfs child "<name>:<config>.0".
        QString config = text(d, "bConfigurationValue");
        if (config.isEmpty()) config = QStringLiteral("1");
        const QByteArray child = QByteArray(udev_device_get_syspath(d)) + '/' + udev_device_get_sysname(d) +
                                 ':' + config.toLatin1() + ".0";
        if (udev_device* i = udev_device_new_from_syspath(u, child.constData())) {
          info.interfaceClass = text(i, "bInterfaceClass");
          info.interfaceSubClass = text(i, "bInterfaceSubClass");
          info.interfaceProtocol = text(i, "bInterfaceProtocol");
          udev_device_unref(i);
        }
        if (auto r = linuxUsbRecord(info)) records.push_back(std::move(*r));
      }
      udev_device_unref(d);
    }
  }
  if (e) udev_enumerate_unref(e);
  udev_unref(u);
  return records;
}
