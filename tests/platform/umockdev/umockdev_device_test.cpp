// The Linux USB back end against an emulated synthesizer: umockdev gives libudev a sysfs
// with the device in it and plays the device node, so enumeration, libusb transfers and
// the udev monitor run their real code. The ioctl handler answers the bulk URBs with the
// same synthesizer model qz418-sim uses.
//
// The process must run with umockdev's preload library; main() restarts itself with it.

// <umockdev.h> brings GLib, which must come before any Qt header (GDBus names a struct
// member "signals", a Qt keyword); C headers sort first, so it does.
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>

#include "platform/device_change_monitor.h"
#include "platform/device_request.h"
#include "platform/devices.h"
#include "platform/linux_usb_enumerator.h"
#include "platform/virtual_device_synth.h"

namespace {

namespace io = driver_ioctl;

constexpr const char* kSysPath = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
constexpr const char* kNode = "/dev/bus/usb/001/005";

// Device descriptor (5d3c:5d3c, release 1.00, strings 1 and 2), one configuration with one
// vendor-class interface and the three bulk endpoints 0x86, 0x82 and 0x04.
constexpr const char* kDescriptors =
    "12010002000000403c5d3c5d000101020001"
    "090227000101008032"
    "0904000003ff000000"
    "07058602000200"
    "07058202000200"
    "07050402000200";

constexpr const char* kDevices =
    "P: /devices/pci0000:00/0000:00:14.0/usb1\n"
    "N: bus/usb/001/001\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_device\n"
    "A: idVendor=1d6b\\n\n"
    "A: idProduct=0002\\n\n"
    "A: bcdDevice=0601\\n\n"
    "A: bDeviceClass=09\\n\n"
    "A: bDeviceSubClass=00\\n\n"
    "A: bDeviceProtocol=01\\n\n"
    "A: busnum=1\\n\n"
    "A: devnum=1\\n\n"
    "A: devpath=0\\n\n"
    "A: product=xHCI Host Controller\\n\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2\n"
    "N: bus/usb/001/005\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_device\n"
    "E: BUSNUM=001\n"
    "E: DEVNUM=005\n"
    "L: driver=../../../../../../bus/usb/drivers/usb\n"
    "A: idVendor=5d3c\\n\n"
    "A: idProduct=5d3c\\n\n"
    "A: bcdDevice=0100\\n\n"
    "A: bDeviceClass=00\\n\n"
    "A: bDeviceSubClass=00\\n\n"
    "A: bDeviceProtocol=00\\n\n"
    "A: bConfigurationValue=1\\n\n"
    "A: busnum=1\\n\n"
    "A: devnum=5\\n\n"
    "A: devpath=2\\n\n"
    "A: speed=480\\n\n"
    "A: manufacturer=Maker\\n\n"
    "A: product=QZ418\\n\n"
    "\n"
    "P: /devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0\n"
    "E: SUBSYSTEM=usb\n"
    "E: DEVTYPE=usb_interface\n"
    "A: bInterfaceNumber=00\\n\n"
    "A: bInterfaceClass=ff\\n\n"
    "A: bInterfaceSubClass=00\\n\n"
    "A: bInterfaceProtocol=00\\n\n";

// Plays the synthesizer behind the device node. Called on umockdev's worker thread.
class EmulatedSynthesizer {
 public:
  enum class Mode { Answer, Silent, Gone };

  EmulatedSynthesizer() {
    for (std::size_t i = 0; i + 1 < std::strlen(kDescriptors); i += 2)
      descriptors_.push_back(std::uint8_t(std::stoi(std::string(kDescriptors + i, 2), nullptr, 16)));
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(onRead), this);
    g_signal_connect(handler_, "client-connected", G_CALLBACK(onConnected), this);
  }
  ~EmulatedSynthesizer() {
    for (auto* d : submitted_) g_object_unref(d);
    for (auto* d : discarded_) g_object_unref(d);
    g_object_unref(handler_);
  }
  UMockdevIoctlBase* handler() const { return handler_; }

  void setMode(Mode m) {
    std::lock_guard lock(mutex_);
    mode_ = m;
  }
  VirtualSynthesizer& synth() { return synth_; }  // only while no transfer runs
  int claims() {
    std::lock_guard lock(mutex_);
    return claims_;
  }
  int releases() {
    std::lock_guard lock(mutex_);
    return releases_;
  }
  int urbs() {
    std::lock_guard lock(mutex_);
    return urbs_;
  }

 private:
  static void onConnected(UMockdevIoctlBase*, UMockdevIoctlClient*, gpointer self) {
    auto* s = static_cast<EmulatedSynthesizer*>(self);
    std::lock_guard lock(s->mutex_);
    s->readOffset_ = 0;
  }

  // The node read gives the descriptors, as usbfs does.
  static gboolean onRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* s = static_cast<EmulatedSynthesizer*>(self);
    std::lock_guard lock(s->mutex_);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const std::size_t n = std::min(std::size_t(arg->data_len), s->descriptors_.size() - s->readOffset_);
    std::memcpy(arg->data, s->descriptors_.data() + s->readOffset_, n);
    s->readOffset_ += n;
    umockdev_ioctl_client_complete(client, glong(n), 0);
    return TRUE;
  }

  static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    auto* s = static_cast<EmulatedSynthesizer*>(self);
    std::lock_guard lock(s->mutex_);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (umockdev_ioctl_client_get_request(client)) {
      case USBDEVFS_CLAIMINTERFACE:
        ++s->claims_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
        ++s->releases_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_CONNECTINFO: {
        UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), nullptr);
        reinterpret_cast<usbdevfs_connectinfo*>(d->data)->devnum = 5;
        g_object_unref(d);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_SUBMITURB: {
        if (s->mode_ == Mode::Gone) {
          umockdev_ioctl_client_complete(client, -1, ENODEV);
          return TRUE;
        }
        UMockdevIoctlData* urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        const auto* u = reinterpret_cast<const usbdevfs_urb*>(urb->data);
        UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(urb, offsetof(usbdevfs_urb, buffer),
                                                                std::size_t(u->buffer_length), nullptr);
        g_object_unref(buffer);  // urb keeps it and syncs it back with itself
        s->submitted_.push_back(urb);
        ++s->urbs_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_DISCARDURB: {
        const gulong address = gulong(*reinterpret_cast<void**>(arg->data));
        for (auto it = s->submitted_.begin(); it != s->submitted_.end(); ++it) {
          if ((*it)->client_addr != address) continue;
          s->discarded_.push_back(*it);
          s->submitted_.erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        UMockdevIoctlData* urb = nullptr;
        int status = 0;
        if (!s->discarded_.empty()) {
          urb = s->discarded_.front();
          s->discarded_.pop_front();
          status = -ENOENT;
        } else if (s->mode_ == Mode::Answer && !s->submitted_.empty()) {
          urb = s->submitted_.front();
          s->submitted_.pop_front();
        }
        if (!urb) {
          umockdev_ioctl_client_complete(client, -1, EAGAIN);
          return TRUE;
        }
        auto* u = reinterpret_cast<usbdevfs_urb*>(urb->data);
        u->status = status;
        if (status == 0) {
          status = s->synth_.transfer(u->endpoint, static_cast<std::uint8_t*>(u->buffer),
                                      std::uint32_t(u->buffer_length));
          u->status = status ? -EPIPE : 0;
          u->actual_length = status ? 0 : u->buffer_length;
        }
        UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
        umockdev_ioctl_data_set_ptr(pointer, 0, urb);
        g_object_unref(pointer);
        g_object_unref(urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      default:
        return FALSE;  // ENOTTY, as for a request the kernel does not know
    }
  }

  UMockdevIoctlBase* handler_ = nullptr;
  std::mutex mutex_;
  Mode mode_ = Mode::Answer;
  VirtualSynthesizer synth_;
  std::vector<std::uint8_t> descriptors_;
  std::size_t readOffset_ = 0;
  std::deque<UMockdevIoctlData*> submitted_, discarded_;
  int claims_ = 0, releases_ = 0, urbs_ = 0;
};

class UmockdevUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    testbed_ = umockdev_testbed_new();
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_attach_ioctl(testbed_, kNode, device_.handler(), &error))
        << (error ? error->message : "");
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, kDevices, &error))
        << (error ? error->message : "");
  }
  void TearDown() override { g_object_unref(testbed_); }

  UMockdevTestbed* testbed_ = nullptr;
  EmulatedSynthesizer device_;
};

std::vector<std::uint8_t> sizeRequest(std::uint8_t ep, std::uint32_t size) {
  std::vector<std::uint8_t> b(io::kSizeRequestLength, 0);
  b[0] = ep;
  writeLe32(b.data() + 4, size);
  return b;
}

std::vector<std::uint8_t> transferRequest(std::uint8_t ep, std::uint32_t payload) {
  std::vector<std::uint8_t> b(io::kHeaderSize + payload, 0);
  b[io::kEndpointOffset] = ep;
  writeLe32(b.data() + io::kPayloadOffsetField, io::kHeaderSize);
  writeLe32(b.data() + io::kPayloadLengthField, payload);
  return b;
}

int issue(DeviceTransport& t, std::vector<std::uint8_t>& b, std::uint32_t code, std::uint32_t waitMs = 2000) {
  return t.request(code, b.data(), std::uint32_t(b.size()), waitMs);
}

}  // namespace

TEST_F(UmockdevUsb, DiscoversTheSynthesizerWithItsProperties) {
  const auto records = LinuxUsbEnumerator().enumerate();
  ASSERT_EQ(records.size(), 2u) << "the two USB devices, not the interface";
  EXPECT_EQ(records[0].devicePath, "/dev/bus/usb/001/001");
  EXPECT_EQ(records[0].compatibleIds,
            QStringList({"USB\\Class_09&SubClass_00&Prot_01", "USB\\Class_09&SubClass_00", "USB\\Class_09"}));
  const DeviceRecord& r = records[1];
  EXPECT_EQ(r.devicePath, kNode);
  EXPECT_EQ(r.hardwareIds, QStringList({"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"}));
  EXPECT_EQ(r.compatibleIds,
            QStringList({"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"}))
      << "device class 0: the interface's class";
  EXPECT_EQ(r.deviceDescription, "QZ418");
  EXPECT_EQ(r.manufacturer, "Maker");
  EXPECT_EQ(r.locationInformation, "bus 1 port 2 address 5");
  EXPECT_EQ(r.busNumber, 1u);
  EXPECT_EQ(r.address, "5");
  EXPECT_EQ(r.enumeratorName, "USB");
  EXPECT_EQ(r.service, "usb");

  // The system enumerator lists real devices before virtual ones.
  QTemporaryDir runtime;
  qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
  const auto all = makeSystemEnumerator()->enumerate();
  ASSERT_GE(all.size(), 2u);
  EXPECT_EQ(all[1].devicePath, kNode);
}

TEST_F(UmockdevUsb, FullExchangeThroughLibusb) {
  device_.synth().setPulse(100.0, 2.0);
  int error = -1;
  auto t = openDeviceTransport(kNode, &error);
  ASSERT_TRUE(t) << error;
  EXPECT_EQ(device_.claims(), 1);
  for (auto [ep, size] : {std::pair{0x86, 32}, {0x82, 8192}, {0x04, 64}}) {
    auto b = sizeRequest(std::uint8_t(ep), std::uint32_t(size));
    ASSERT_EQ(issue(*t, b, io::kSetTransferSize), 0);
  }
  EXPECT_EQ(device_.urbs(), 0) << "sizes are the driver's business, not the device's";

  auto command = transferRequest(0x04, 64);
  for (int i = 0; i < 64; ++i) command[io::kHeaderSize + i] = std::uint8_t(0xA0 + i);
  command[io::kHeaderSize + 1] = 0x00;  // input range code 0: 300 V
  ASSERT_EQ(issue(*t, command, io::kTransfer), 0);

  auto status = transferRequest(0x86, 32);
  const std::vector<std::uint8_t> header(status.begin(), status.begin() + io::kHeaderSize);
  ASSERT_EQ(issue(*t, status, io::kTransfer), 0);
  const std::uint8_t* s = status.data() + io::kHeaderSize;
  EXPECT_EQ(s[0], 0xA0);
  EXPECT_EQ(s[1], 0x88) << "c1 bit 0 clear, c2 not 0xFF, range code 0, c56 = 0xD8";
  EXPECT_EQ(s[3], 0xA6);
  EXPECT_EQ(s[14], 0xA0 + 48);
  EXPECT_EQ(s[16] * 256 + s[17], 1000);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), status.begin())) << "the header comes back as sent";

  auto rx = transferRequest(0x82, 8192);
  ASSERT_EQ(issue(*t, rx, io::kTransfer), 0);
  auto sample = [&](int n) {
    return int(rx[io::kHeaderSize + 2 * n]) | int(rx[io::kHeaderSize + 2 * n + 1]) << 8;
  };
  EXPECT_NEAR(sample(100), 255, 2);
  EXPECT_NEAR(sample(500), 255 + 85, 2) << "100 V in counts of the 300 V range";
  EXPECT_EQ(device_.urbs(), 3);

  EXPECT_TRUE(t->cancel());
  EXPECT_TRUE(t->cancel()) << "cancelling leaves the device claimed";
  EXPECT_EQ(device_.releases(), 0);
  t.reset();
  EXPECT_EQ(device_.releases(), 1) << "destroying the transport releases the interface";
}

TEST_F(UmockdevUsb, SilentVanishedAndMisusedDevice) {
  int error = -1;
  auto t = openDeviceTransport(kNode, &error);
  ASSERT_TRUE(t) << error;
  auto status = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, status, io::kTransfer), 22) << "no size set";
  EXPECT_EQ(issue(*t, status, 0x220000), 25);
  EXPECT_EQ(device_.urbs(), 0) << "refused before any USB traffic";
  auto size = sizeRequest(0x86, 32);
  ASSERT_EQ(issue(*t, size, io::kSetTransferSize), 0);

  struct Case {
    EmulatedSynthesizer::Mode mode;
    int error;
  } cases[] = {
      {EmulatedSynthesizer::Mode::Silent, 110},
      {EmulatedSynthesizer::Mode::Gone, 19},
      {EmulatedSynthesizer::Mode::Answer, 0},
  };
  for (const Case& c : cases) {
    device_.setMode(c.mode);
    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(issue(*t, status, io::kTransfer, 150), c.error);
    EXPECT_LT(timer.elapsed(), 1500);
    if (c.error == 110) {
      EXPECT_GE(timer.elapsed(), 140);
    }
  }
}

TEST_F(UmockdevUsb, ChangeMonitorSeesPlugAndUnplug) {
  QTemporaryDir folder;
  SystemDeviceChangeMonitor monitor(folder.path() + "/qz418");
  ASSERT_TRUE(monitor.watchesUdev());
  QSignalSpy spy(&monitor, &DeviceChangeMonitor::devicesChanged);
  umockdev_testbed_uevent(testbed_, kSysPath, "remove");
  EXPECT_TRUE(spy.wait(5000)) << "unplugged";
  spy.clear();
  umockdev_testbed_uevent(testbed_, kSysPath, "add");
  EXPECT_TRUE(spy.wait(5000)) << "plugged";
}

int main(int argc, char** argv) {
  // umockdev works through its preload library; start again with it when it is missing.
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "libumockdev-preload")) {
    std::string value = "libumockdev-preload.so.0";
    if (preload && *preload) value += std::string(":") + preload;
    setenv("LD_PRELOAD", value.c_str(), 1);
    // With AddressSanitizer its runtime must come first, which the preload list breaks.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    setenv("ASAN_OPTIONS", (asan.empty() ? asan : asan + ":").append("verify_asan_link_order=0").c_str(), 1);
    execv("/proc/self/exe", argv);
    std::perror("umockdev test: cannot restart with libumockdev-preload.so.0");
    return 1;
  }
  ::testing::InitGoogleTest(&argc, argv);
  QCoreApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
