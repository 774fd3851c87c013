#include "platform/virtual_device_enumerator.h"

#include <QFile>
#include <cstring>

#include "platform/virtual_device_folder.h"
#include "platform/virtual_device_protocol.h"

DeviceRecord virtualDeviceRecord(const QString& folder, const QString& name) {
  DeviceRecord r;
  r.devicePath = folder + u'/' + name + QString::fromLatin1(virtual_device::kSocketSuffix);
  r.hardwareIds = {QString::fromLatin1(virtual_device::kHardwareIdWithRevision),
                   QString::fromLatin1(virtual_device::kHardwareId)};
  r.locationInformation = QString::fromLatin1(virtual_device::kLocationPrefix) + name;
  r.deviceDescription = QString::fromLatin1(virtual_device::kDeviceDescription);
  r.manufacturer = QString::fromLatin1(virtual_device::kManufacturer);
  return r;
}

std::vector<DeviceRecord> VirtualDeviceEnumerator::enumerate() {
  const QString folder = folder_.isEmpty() ? virtualDeviceFolder() : folder_;
  const std::string dir = QFile::encodeName(folder).toStdString();
  std::vector<DeviceRecord> records;
  notes_.clear();
  if (const std::string why = virtual_device::folderRefusal(dir); !why.empty()) {
    // Someone else could have planted devices there: say so rather than list nothing silently.
    notes_ << QStringLiteral("Папка виртуальных синтезаторов ") + folder + QStringLiteral(" отклонена: ") +
                  QString::fromUtf8(why.c_str());
    return records;
  }
  const std::size_t suffix = std::strlen(virtual_device::kSocketSuffix);
  for (const std::string& file : virtual_device::listSockets(dir)) {
    // Stale sockets (their device ended without removing them) refuse the connection.
    if (!virtual_device::acceptsConnection(dir + "/" + file)) continue;
    records.push_back(
        virtualDeviceRecord(folder, QFile::decodeName(file.substr(0, file.size() - suffix).c_str())));
  }
  return records;
}
