// Which enumerated devices are synthesizers, in what order, and the properties text.
#include "usb/pnp_info.h"

#include "usb_fakes.h"

#include <gtest/gtest.h>

namespace {

DeviceRecord withIds(const QString& path, const QStringList& hardwareIds,
                     const QStringList& compatibleIds = {}) {
  DeviceRecord r;
  r.devicePath = path;
  r.hardwareIds = hardwareIds;
  r.compatibleIds = compatibleIds;
  return r;
}

QStringList listedPaths(const std::vector<DeviceRecord>& devices) {
  auto all = std::make_shared<std::vector<DeviceRecord>>(devices);
  fake::Enumerator e(all);
  TUSBPnPList list;
  FindSynthesizers(list, &e);
  QStringList paths;
  for (const auto& d : list) paths << d->devicePath;
  return paths;
}

TEST(FindSynthesizers, HardwareIdFilter) {
  const QString plain = QStringLiteral("USB\\VID_5D3C&PID_5D3C");
  const QString withRev = QStringLiteral("USB\\VID_5D3C&PID_5D3C&REV_0100");
  struct Row {
    const char* name;
    QStringList hardwareIds;
    QStringList compatibleIds;
    bool listed;
  };
  const Row rows[] = {
      {"revision first, then the plain ID", {withRev, plain}, {}, true},
      {"lower case", {QStringLiteral("usb\\vid_5d3c&pid_5d3c")}, {}, true},
      {"the plain ID twice (listed once)", {plain, plain}, {}, true},
      {"only the ID with a revision", {withRev}, {}, false},
      {"another product", {QStringLiteral("USB\\VID_5D3C&PID_5D3D")}, {}, false},
      {"another vendor", {QStringLiteral("USB\\VID_1234&PID_5D3C")}, {}, false},
      {"a trailing blank", {plain + u' '}, {}, false},
      {"a prefix of the ID", {QStringLiteral("USB\\VID_5D3C")}, {}, false},
      {"only among the compatible IDs", {QStringLiteral("USB\\VID_0000&PID_0000")}, {plain}, false},
      {"no IDs at all", {}, {}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const QStringList paths =
        listedPaths({withIds(QStringLiteral("/dev/a"), row.hardwareIds, row.compatibleIds)});
    EXPECT_EQ(paths, row.listed ? QStringList{QStringLiteral("/dev/a")} : QStringList{});
  }
}

TEST(FindSynthesizers, EnumerationOrderAndReplacement) {
  const QStringList plain = {QStringLiteral("USB\\VID_5D3C&PID_5D3C")};
  std::vector<DeviceRecord> devices;
  for (int i = 0; i < 9; ++i)
    devices.push_back(
        withIds(QStringLiteral("/dev/%1").arg(i), i % 4 == 1 ? QStringList{QStringLiteral("X")} : plain));
  EXPECT_EQ(listedPaths(devices),
            QStringList({"/dev/0", "/dev/2", "/dev/3", "/dev/4", "/dev/6", "/dev/7", "/dev/8"}));

  // Each discovery replaces the list; without an enumerator it ends empty.
  auto all = std::make_shared<std::vector<DeviceRecord>>(devices);
  fake::Enumerator e(all);
  TUSBPnPList list;
  FindSynthesizers(list, &e);
  all->resize(1);
  FindSynthesizers(list, &e);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0]->devicePath, "/dev/0");
  FindSynthesizers(list, nullptr);
  EXPECT_TRUE(list.empty());
}

TUSBPnPList oneDevice(DeviceRecord r) {
  TUSBPnPList list;
  list.push_back(std::make_unique<TUSBPnPInfo>(std::move(r)));
  return list;
}

TEST(ShowDeviceProperties, AllLinesOfOneDevice) {
  DeviceRecord r;
  r.deviceInstance = 0x1a2b;
  r.devicePath = QStringLiteral("/dev/bus/usb/001/007");
  r.capabilities = 0x84;
  r.className = QStringLiteral("USB");
  r.classGuid = QStringLiteral("{36fc9e60-c465-11cf-8056-444553540000}");
  r.compatibleIds = {QStringLiteral("USB\\Class_ff")};
  r.configFlags = 0;
  r.deviceDescription = QStringLiteral("QZ418");
  r.driverKey = QStringLiteral("usbfs");
  r.friendlyName = QStringLiteral("Синтезатор");
  r.hardwareIds = {QStringLiteral("USB\\VID_5D3C&PID_5D3C&REV_0100"),
                   QStringLiteral("USB\\VID_5D3C&PID_5D3C")};
  r.manufacturer = QStringLiteral("Maker");
  r.upperFilters = {QStringLiteral("up0")};
  r.address = QStringLiteral("7");
  r.busNumber = 1;
  r.busType = QStringLiteral("usb");
  r.characteristics = QString();
  r.deviceType = 0xFFFFFFFF;
  r.enumeratorName = QStringLiteral("USB");
  r.exclusive = 0;
  r.legacyBusType = 15;
  r.locationInformation = QStringLiteral("1-1.2");
  r.physicalDeviceObjectName = QStringLiteral("/sys/bus/usb/devices/1-1.2");
  r.securityDescriptor = QString();
  r.service = QStringLiteral("usbfs");
  r.uiNumber = 2;
  r.uiNumberFormat = QStringLiteral("%1");

  QStringList shown;
  ShowDeviceProperties(oneDevice(r), 0, [&](const QString& l) { shown << l; });
  const QStringList expected = {
      "УСТРОЙСТВО    - 0 *****************************************************",
      "DeviceID     00001A2Bh",
      "DevPath      /dev/bus/usb/001/007",
      "Capabilities 00000084h",
      "ClassDescr   USB",
      "ClassGUID    {36fc9e60-c465-11cf-8056-444553540000}",
      "ConfigFlags  00000000h",
      "DeviceDescr  QZ418",
      "Driver       usbfs",
      "FriendlyName Синтезатор",
      "CompatibleIDs       1",
      "CompatibleIDs 0  USB\\Class_ff",
      "HardwareID       2",
      "HardwareID 0  USB\\VID_5D3C&PID_5D3C&REV_0100",
      "HardwareID 1  USB\\VID_5D3C&PID_5D3C",
      "Mfg     Maker",
      "LowerFilters       0",
      "UpperFilters       1",
      "UpperFilters 0  up0",
      "Address 7",
      "BusNumber       00000001h",
      "BusType         usb",
      "Characteristics ",
      "DevType         FFFFFFFFh",
      "EnumeratorName  USB",
      "Exclusive       00000000h",
      "LegacyBusType   0000000Fh",
      "LocationInfo    1-1.2",
      "PhysDevObjName  /sys/bus/usb/devices/1-1.2",
      "SecuritySDS     ",
      "Service         usbfs",
      "UINumber        00000002h",
      "UINumberFormat  %1",
      "",
  };
  EXPECT_EQ(shown, expected);
}

TEST(ShowDeviceProperties, OnlyTheFirstSixPositions) {
  TUSBPnPList seven;
  for (int i = 0; i < 7; ++i)
    seven.push_back(std::make_unique<TUSBPnPInfo>(fake::synthesizer(QString::number(i))));
  const QString refused = QStringLiteral("Неправильный индекс устройства !!!");
  struct Row {
    int position;
    std::size_t listSize;
    bool shown;
  };
  for (const Row& row : {Row{-1, 7, false}, Row{0, 7, true}, Row{5, 7, true}, Row{6, 7, false},
                         Row{2, 2, false}, Row{-1, 0, false}}) {
    SCOPED_TRACE(row.position);
    TUSBPnPList list;
    for (std::size_t i = 0; i < row.listSize; ++i) list.push_back(std::make_unique<TUSBPnPInfo>(*seven[i]));
    const QStringList lines = devicePropertyLines(list, row.position);
    if (row.shown) {
      EXPECT_EQ(lines.first(), QStringLiteral("УСТРОЙСТВО    - %1 ").arg(row.position) + QString(53, u'*'));
      EXPECT_EQ(lines[2], QStringLiteral("DevPath      ") + seven[std::size_t(row.position)]->devicePath);
    } else {
      EXPECT_EQ(lines, QStringList{refused});
    }
  }
}

}  // namespace
