#include "usb/pnp_info.h"

bool isSynthesizerHardwareId(const QString& id) {
  return id.toUpper() == QLatin1String(kSynthesizerHardwareId);
}

void FindSynthesizers(TUSBPnPList& list, DeviceEnumerator* enumerator) {
  list.clear();
  if (!enumerator) return;
  for (DeviceRecord& record : enumerator->enumerate()) {
    // A device whose IDs hold the plain ID more than once is still one synthesizer.
    for (const QString& id : record.hardwareIds) {
      if (isSynthesizerHardwareId(id)) {
        list.push_back(std::make_unique<TUSBPnPInfo>(std::move(record)));
        break;
      }
    }
  }
}

namespace {

// 8 upper-case hex digits and "h"; the suffix stays lower case.
QString hex8(std::uint32_t v) { return QString::number(v, 16).rightJustified(8, u'0').toUpper() + u'h'; }

void addList(QStringList& lines, const QString& label, const QStringList& items) {
  lines << label + QStringLiteral("       ") + QString::number(items.size());
  for (int j = 0; j < items.size(); ++j)
    lines << label + u' ' + QString::number(j) + QStringLiteral("  ") + items[j];
}

}  // namespace

QStringList devicePropertyLines(const TUSBPnPList& list, int position) {
  if (position < 0 || position > kMaxShownDevice || position >= int(list.size()))
    return {QStringLiteral("Неправильный индекс устройства !!!")};
  const TUSBPnPInfo& d = *list[std::size_t(position)];
  QStringList lines;
  lines << QStringLiteral("УСТРОЙСТВО    - ") + QString::number(position) + u' ' + QString(53, u'*');
  lines << QStringLiteral("DeviceID     ") + hex8(d.deviceInstance);
  lines << QStringLiteral("DevPath      ") + d.devicePath;
  lines << QStringLiteral("Capabilities ") + hex8(d.capabilities);
  lines << QStringLiteral("ClassDescr   ") + d.className;
  lines << QStringLiteral("ClassGUID    ") + d.classGuid;
  lines << QStringLiteral("ConfigFlags  ") + hex8(d.configFlags);
  lines << QStringLiteral("DeviceDescr  ") + d.deviceDescription;
  lines << QStringLiteral("Driver       ") + d.driverKey;
  lines << QStringLiteral("FriendlyName ") + d.friendlyName;
  addList(lines, QStringLiteral("CompatibleIDs"), d.compatibleIds);
  addList(lines, QStringLiteral("HardwareID"), d.hardwareIds);
  lines << QStringLiteral("Mfg     ") + d.manufacturer;
  addList(lines, QStringLiteral("LowerFilters"), d.lowerFilters);
  addList(lines, QStringLiteral("UpperFilters"), d.upperFilters);
  lines << QStringLiteral("Address ") + d.address;
  lines << QStringLiteral("BusNumber       ") + hex8(d.busNumber);
  lines << QStringLiteral("BusType         ") + d.busType;
  lines << QStringLiteral("Characteristics ") + d.characteristics;
  lines << QStringLiteral("DevType         ") + hex8(d.deviceType);
  lines << QStringLiteral("EnumeratorName  ") + d.enumeratorName;
  lines << QStringLiteral("Exclusive       ") + hex8(d.exclusive);
  lines << QStringLiteral("LegacyBusType   ") + hex8(d.legacyBusType);
  lines << QStringLiteral("LocationInfo    ") + d.locationInformation;
  lines << QStringLiteral("PhysDevObjName  ") + d.physicalDeviceObjectName;
  lines << QStringLiteral("SecuritySDS     ") + d.securityDescriptor;
  lines << QStringLiteral("Service         ") + d.service;
  lines << QStringLiteral("UINumber        ") + hex8(d.uiNumber);
  lines << QStringLiteral("UINumberFormat  ") + d.uiNumberFormat;
  lines << QString();
  return lines;
}

void ShowDeviceProperties(const TUSBPnPList& list, int position,
                          const std::function<void(const QString&)>& appendLine) {
  for (const QString& line : devicePropertyLines(list, position)) appendLine(line);
}
