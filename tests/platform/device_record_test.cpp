// The pure parts of the device layer: the driver request layout every back end reads, and
// the Windows-style record of a Linux USB device.

#include <gtest/gtest.h>

#include "platform/device_request.h"
#include "platform/devices.h"
#include "platform/linux_usb_enumerator.h"
#include "platform/linux_usb_transport.h"

namespace {

namespace io = driver_ioctl;

std::vector<std::uint8_t> transfer(std::uint8_t ep, std::uint32_t payload, std::uint32_t total,
                                   std::uint32_t offset = 38) {
  std::vector<std::uint8_t> b(total, 0);
  if (total >= 38) {
    b[13] = ep;
    writeLe32(b.data() + 30, offset);
    writeLe32(b.data() + 34, payload);
  }
  return b;
}

LinuxUsbDeviceInfo synthesizer() {
  LinuxUsbDeviceInfo i;
  i.idVendor = "5d3c";
  i.idProduct = "5d3c";
  i.bcdDevice = "0100";
  i.deviceClass = "ff";
  i.deviceSubClass = "00";
  i.deviceProtocol = "00";
  i.product = "QZ418";
  i.manufacturer = "Maker";
  i.busNumber = "1";
  i.deviceNumber = "5";
  i.portPath = "1.2";
  i.driver = "usb";
  i.deviceNode = "/dev/bus/usb/001/005";
  return i;
}

}  // namespace

TEST(DriverRequest, LayoutChecks) {
  struct Case {
    const char* what;
    std::uint32_t code;
    std::vector<std::uint8_t> buffer;
    int error;
    std::uint8_t endpoint;
    std::uint32_t size;
  } cases[] = {
      {"status transfer", io::kTransfer, transfer(0x86, 32, 70), 0, 0x86, 32},
      {"receive transfer", io::kTransfer, transfer(0x82, 8192, 8230), 0, 0x82, 8192},
      {"buffer longer than needed", io::kTransfer, transfer(0x04, 64, 200), 0, 0x04, 64},
      {"empty payload", io::kTransfer, transfer(0x04, 0, 38), 0, 0x04, 0},
      {"payload cut short", io::kTransfer, transfer(0x04, 64, 101), 22, 0, 0},
      {"payload length that would wrap", io::kTransfer, transfer(0x04, 0xFFFFFFF0u, 70), 22, 0, 0},
      {"payload offset not 38", io::kTransfer, transfer(0x04, 8, 70, 30), 22, 0, 0},
      {"header cut short", io::kTransfer, std::vector<std::uint8_t>(37), 22, 0, 0},
      {"size request", io::kSetTransferSize, {0x82, 9, 9, 9, 0x00, 0x20, 0, 0}, 0, 0x82, 8192},
      {"size request cut short", io::kSetTransferSize, {0x82, 0, 0, 0, 0x00, 0x20, 0}, 22, 0, 0},
      {"unknown code", 0x22003C, transfer(0x86, 32, 70), 25, 0, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    DriverRequest r;
    ASSERT_EQ(parseDriverRequest(c.code, c.buffer.data(), std::uint32_t(c.buffer.size()), &r), c.error);
    if (c.error) continue;
    EXPECT_EQ(r.kind,
              c.code == io::kTransfer ? DriverRequest::Kind::Transfer : DriverRequest::Kind::SetTransferSize);
    EXPECT_EQ(r.endpoint, c.endpoint);
    EXPECT_EQ(r.size, c.size);
  }
  DriverRequest r;
  EXPECT_EQ(parseDriverRequest(io::kTransfer, nullptr, 70, &r), 22);
}

TEST(DriverRequest, SizesAreKeptPerEndpointAddressAndDirection) {
  EndpointSizes s;
  EXPECT_EQ(s.check(0x86, 0), 22) << "no size yet, not even 0";
  s.set(0x86, 32);
  s.set(0x04, 64);
  s.set(0x82, 0);
  EXPECT_EQ(s.check(0x86, 32), 0);
  EXPECT_EQ(s.check(0x06, 32), 22);  // OUT 6 is another endpoint than IN 6
  EXPECT_EQ(s.check(0x84, 64), 22);
  EXPECT_EQ(s.check(0x04, 63), 22);
  EXPECT_EQ(s.check(0x82, 0), 0);
  s.set(0x86, 40);
  EXPECT_EQ(s.check(0x86, 32), 22) << "the last size set counts";
  s.clear();
  EXPECT_EQ(s.check(0x04, 64), 22);
}

TEST(LinuxUsbRecord, WindowsStylePropertiesFromSysfs) {
  struct Case {
    const char* what;
    std::function<void(LinuxUsbDeviceInfo&)> change;
    QStringList hardwareIds, compatibleIds;
    QString path, location;
  } cases[] = {
      {"synthesizer",
       [](auto&) {},
       {"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"},
       {"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"},
       "/dev/bus/usb/001/005",
       "bus 1 port 1.2 address 5"},
      {"class per interface",
       [](auto& i) {
         i.deviceClass = "00";
         i.interfaceClass = "ff";
         i.interfaceSubClass = "5a";
         i.interfaceProtocol = "0b";
       },
       {"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"},
       {"USB\\Class_FF&SubClass_5A&Prot_0B", "USB\\Class_FF&SubClass_5A", "USB\\Class_FF"},
       "/dev/bus/usb/001/005",
       "bus 1 port 1.2 address 5"},
      {"class per interface, interface unknown",
       [](auto& i) { i.deviceClass = "00"; },
       {"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"},
       {"USB\\Class_00&SubClass_00&Prot_00", "USB\\Class_00&SubClass_00", "USB\\Class_00"},
       "/dev/bus/usb/001/005",
       "bus 1 port 1.2 address 5"},
      {"other device, big numbers",
       [](auto& i) {
         i.idVendor = "1d6b";
         i.idProduct = "0002";
         i.bcdDevice = "0515";
         i.busNumber = "12";
         i.deviceNumber = "127";
         i.portPath = "0";
       },
       {"USB\\VID_1D6B&PID_0002&REV_0515", "USB\\VID_1D6B&PID_0002"},
       {"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"},
       "/dev/bus/usb/012/127",
       "bus 12 port 0 address 127"},
      {"no revision, no class, no port",
       [](auto& i) {
         i.bcdDevice.clear();
         i.deviceClass.clear();
         i.portPath.clear();
       },
       {"USB\\VID_5D3C&PID_5D3C"},
       {},
       "/dev/bus/usb/001/005",
       "bus 1 address 5"},
      {"no numbers: the node udev names",
       [](auto& i) {
         i.busNumber.clear();
         i.deviceNumber = "x";
         i.deviceNode = "/dev/usb-odd";
       },
       {"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"},
       {"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"},
       "/dev/usb-odd",
       ""},
      {"vendor unreadable",
       [](auto& i) { i.idVendor = "zz"; },
       {},
       {"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"},
       "/dev/bus/usb/001/005",
       "bus 1 port 1.2 address 5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    LinuxUsbDeviceInfo info = synthesizer();
    c.change(info);
    const auto r = linuxUsbRecord(info);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->hardwareIds, c.hardwareIds);
    EXPECT_EQ(r->compatibleIds, c.compatibleIds);
    EXPECT_EQ(r->devicePath, c.path);
    EXPECT_EQ(r->locationInformation, c.location);
  }
  const auto r = linuxUsbRecord(synthesizer());
  EXPECT_EQ(r->deviceDescription, "QZ418");
  EXPECT_EQ(r->manufacturer, "Maker");
  EXPECT_EQ(r->busNumber, 1u);
  EXPECT_EQ(r->address, "5");
  EXPECT_EQ(r->enumeratorName, "USB");
  EXPECT_EQ(r->service, "usb");
  EXPECT_TRUE(r->friendlyName.isEmpty() && r->className.isEmpty() && r->driverKey.isEmpty());

  LinuxUsbDeviceInfo nowhere = synthesizer();
  nowhere.busNumber.clear();
  nowhere.deviceNode.clear();
  EXPECT_FALSE(linuxUsbRecord(nowhere)) << "a device without a node cannot be opened";
}

TEST(LinuxUsbTransport, OpenFailuresAreErrnoValues) {
  struct Case {
    const char* path;
    int error;
  } cases[] = {
      {"/dev/bus/usb/999/999", 19}, {"/dev/null", 5},  // opens, but is no USB device
  };
  for (const Case& c : cases) {
    int error = -1;
    EXPECT_FALSE(openDeviceTransport(c.path, &error)) << c.path;
    EXPECT_EQ(error, c.error) << c.path;
  }
  EXPECT_FALSE(isVirtualDevicePath("/dev/bus/usb/001/005"));
  EXPECT_TRUE(isVirtualDevicePath("/elsewhere/dev.sock"));
  EXPECT_TRUE(isVirtualDevicePath(virtualDeviceFolder() + "/odd-name"));
}
