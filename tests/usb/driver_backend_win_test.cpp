// The synthesizer driver's back end through its one seam, the table of system calls: a
// stand-in plays the device-setup library and the driver, checks every call and request to
// the byte and answers from a scripted synthesizer. Discovery, the exchange cycle, a removal
// and a new device, and the hidden events window on top of it all. The window-system cases
// need the windows platform (-platform windows) and skip themselves elsewhere.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <QGuiApplication>
#include <QTemporaryDir>
#include <deque>
#include <map>
#include <set>

#include "platform/devices.h"
#include "platform/windows_driver_enumerator_win.h"
#include "platform/windows_driver_transport_win.h"
#include "usb/link_form.h"
#include "usb/pnp_info.h"
#include "usb/usb_thread.h"
#include "usb_fakes.h"

namespace {

using Bytes = std::string;
struct Property {
  DWORD type;
  Bytes value;
};
Property text(const char* s) { return {REG_SZ, Bytes(s) + '\0'}; }
Property number(DWORD v) { return {REG_DWORD, Bytes(reinterpret_cast<const char*>(&v), 4)}; }
Property list(std::initializer_list<const char*> items) {
  Bytes b;
  for (const char* i : items) b += Bytes(i) + '\0';
  return {REG_MULTI_SZ, b + '\0'};
}

struct Device {
  std::string path;
  std::map<DWORD, Property> properties;
  bool detailFails = false;
};

// Each request the driver got, as it arrived.
struct Request {
  DWORD code;
  HANDLE file, event;
  std::uint8_t endpoint;
  DWORD length, waitMs = 0;
};

// One handle of the stand-in: a device information set, an opened device or an event.
struct Object {
  enum Kind { Set, File, Event } kind;
  explicit Object(Kind k, std::string p = {}, std::vector<Device> d = {})
      : kind(k), path(std::move(p)), devices(std::move(d)) {}
  std::string path;                             // File
  std::vector<Device> devices;                  // Set: the devices present when it was made
  std::map<std::uint8_t, std::uint32_t> sizes;  // File: transfer size per endpoint
  bool open = true, signalled = false;
  int cancels = 0;
};

thread_local DWORD lastError = 0;
thread_local HANDLE lastReset = nullptr;  // the event of the last ResetEvent on this thread

class System;
System* sys = nullptr;

// SetupAPI and the driver as the back end must find them. Violations are collected, not thrown:
// most calls come from the exchange thread.
class System {
 public:
  System() { sys = this; }
  ~System() { sys = nullptr; }

  std::mutex mutex;
  std::vector<Device> present;
  std::deque<Object> objects;  // handle n is objects[n - 1]
  std::vector<Request> requests;
  std::vector<std::string> violations;
  std::map<DWORD, std::vector<DWORD>> propertyReads;  // by device instance, in order
  bool classDevsFail = false;
  int statusAnswers = 0, rxAnswers = 0;
  Bytes lastCommand;

  void check(bool ok, const std::string& what) {
    if (!ok) violations.push_back(what);
  }
  HANDLE add(Object o) {
    objects.push_back(std::move(o));
    return reinterpret_cast<HANDLE>(objects.size());
  }
  Object* find(HANDLE h, Object::Kind kind) {
    const auto n = reinterpret_cast<std::uintptr_t>(h);
    Object* o = n >= 1 && n <= objects.size() ? &objects[n - 1] : nullptr;
    return o && o->open && o->kind == kind ? o : nullptr;
  }
  static DWORD instance(std::size_t index) { return DWORD(0x1001 + index); }
  BOOL fail(DWORD error) {
    lastError = error;
    return FALSE;
  }

  WinDriverCalls calls();
};

const std::uint8_t kGuidBytes[16] = {0x60, 0xAA, 0x18, 0xAE, 0x6A, 0x7F, 0xD4, 0x11,
                                     0x97, 0xDD, 0x00, 0x01, 0x02, 0x29, 0xB9, 0x59};

// The buffer each property's reader must bring: numbers 4 bytes, lists 16 KiB, texts 257.
DWORD readerBuffer(DWORD property) {
  const std::set<DWORD> numbers{10, 15, 16, 20, 21, 25, 26}, lists{1, 2, 17, 18};
  return numbers.count(property) ? 4 : lists.count(property) ? 16384 : 257;
}

WinDriverCalls System::calls() {
  WinDriverCalls c;
  c.loadSetupApi = [](WinDriverCalls&) { return true; };
  c.getClassDevs = [](const GUID* guid, PCSTR enumerator, HWND window, DWORD flags) -> HDEVINFO {
    std::lock_guard lock(sys->mutex);
    sys->check(guid && std::memcmp(guid, kGuidBytes, 16) == 0 && !enumerator && !window && flags == 0x12,
               "SetupDiGetClassDevsA arguments");
    if (sys->classDevsFail) return INVALID_HANDLE_VALUE;
    return sys->add(Object(Object::Set, {}, sys->present));
  };
  c.enumDeviceInterfaces = [](HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* guid, DWORD index,
                              PSP_DEVICE_INTERFACE_DATA data) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* s = sys->find(set, Object::Set);
    // 64-bit layouts: 32 bytes where the 32-bit program had 28.
    sys->check(s && !info && std::memcmp(guid, kGuidBytes, 16) == 0 && data && data->cbSize == 32,
               "SetupDiEnumDeviceInterfaces arguments");
    if (!s || index >= s->devices.size()) return sys->fail(ERROR_NO_MORE_ITEMS);
    data->Reserved = index + 1;
    return TRUE;
  };
  c.getDeviceInterfaceDetail = [](HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                  PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size, PDWORD required,
                                  PSP_DEVINFO_DATA info) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* s = sys->find(set, Object::Set);
    sys->check(s && data && info && info->cbSize == 32, "SetupDiGetDeviceInterfaceDetailA arguments");
    if (!s || !data || data->Reserved == 0 || data->Reserved > s->devices.size())
      return sys->fail(ERROR_INVALID_PARAMETER);
    const std::size_t index = data->Reserved - 1;
    const Device& d = s->devices[index];
    if (d.detailFails) return sys->fail(ERROR_INVALID_PARAMETER);
    const DWORD need = DWORD(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) + d.path.size() + 1);
    if (!detail) {
      sys->check(size == 0 && required && *required == 0, "size question");
      if (required) *required = need;
      return sys->fail(ERROR_INSUFFICIENT_BUFFER);
    }
    sys->check(detail->cbSize == 8 && size == need, "detail buffer: size field 8, the size asked for");
    std::memcpy(detail->DevicePath, d.path.c_str(), d.path.size() + 1);
    info->DevInst = instance(index);
    return TRUE;
  };
  c.getDeviceRegistryProperty = [](HDEVINFO set, PSP_DEVINFO_DATA info, DWORD property, PDWORD type,
                                   PBYTE buffer, DWORD size, PDWORD) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* s = sys->find(set, Object::Set);
    sys->check(s && info && info->cbSize == 32 && buffer, "SetupDiGetDeviceRegistryPropertyA arguments");
    if (!s || !info || !buffer) return sys->fail(ERROR_INVALID_PARAMETER);
    sys->propertyReads[info->DevInst].push_back(property);
    sys->check(size == readerBuffer(property), "reader buffer size of property " + std::to_string(property));
    sys->check(size == 4 ? std::memcmp(buffer, "\0\0\0\0", 4) == 0 : buffer[0] == 0,
               "reader buffer not cleared for property " + std::to_string(property));
    const Device& d = s->devices[info->DevInst - instance(0)];
    const auto p = d.properties.find(property);
    if (p == d.properties.end()) return sys->fail(ERROR_INVALID_DATA);
    if (p->second.value.size() > size) return sys->fail(ERROR_INSUFFICIENT_BUFFER);
    if (type) *type = p->second.type;
    std::memcpy(buffer, p->second.value.data(), p->second.value.size());
    return TRUE;
  };
  c.destroyDeviceInfoList = [](HDEVINFO set) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* s = sys->find(set, Object::Set);
    sys->check(s, "destroying a set that is not open");
    if (s) s->open = false;
    return s != nullptr;
  };
  c.createFile = [](LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                    DWORD flags, HANDLE model) -> HANDLE {
    std::lock_guard lock(sys->mutex);
    sys->check(access == (GENERIC_READ | GENERIC_WRITE) && share == (FILE_SHARE_READ | FILE_SHARE_WRITE) &&
                   !security && disposition == OPEN_EXISTING && flags == 0 && !model,
               "CreateFileA arguments");
    for (const Device& d : sys->present)
      if (d.path == name) return sys->add(Object(Object::File, name));
    lastError = ERROR_FILE_NOT_FOUND;
    return INVALID_HANDLE_VALUE;
  };
  c.createEvent = [](LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name) -> HANDLE {
    std::lock_guard lock(sys->mutex);
    sys->check(!security && !manual && !initial && !name, "CreateEventA: unnamed, auto-reset, unsignalled");
    return sys->add(Object(Object::Event));
  };
  c.resetEvent = [](HANDLE event) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* e = sys->find(event, Object::Event);
    sys->check(e, "ResetEvent on no event");
    if (e) e->signalled = false;
    lastReset = event;
    return e != nullptr;
  };
  c.deviceIoControl = [](HANDLE file, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                         LPDWORD returned, LPOVERLAPPED overlapped) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* f = sys->find(file, Object::File);
    auto* b = static_cast<std::uint8_t*>(in);
    const HANDLE event = overlapped ? overlapped->hEvent : nullptr;
    sys->check(f && in && in == out && inLength == outLength && returned && sys->find(event, Object::Event) &&
                   lastReset == event,
               "DeviceIoControl: one buffer both ways, an event just reset");
    lastReset = nullptr;
    if (!f || !in) return sys->fail(ERROR_INVALID_PARAMETER);
    const bool present = std::any_of(sys->present.begin(), sys->present.end(),
                                     [f](const Device& d) { return d.path == f->path; });
    if (code == 0x220038) {
      sys->requests.push_back({code, file, event, b[0], inLength});
      const std::uint32_t size = usb::getU32(b + 4);
      const bool known =
          (b[0] == 0x86 && size == 32) || (b[0] == 0x82 && size == 8192) || (b[0] == 0x04 && size == 64);
      sys->check(inLength == 8 && known, "TransferSizeRequest bytes");
      if (!present) return sys->fail(ERROR_DEVICE_NOT_CONNECTED);
      f->sizes[b[0]] = size;
    } else {
      sys->check(code == 0x220024 && inLength >= 38, "request code");
      if (inLength < 38) return sys->fail(ERROR_INVALID_PARAMETER);
      const std::uint8_t ep = b[13];
      sys->requests.push_back({code, file, event, ep, inLength});
      // The whole header as it must be: zero but for endpoint, payload offset and length.
      std::uint8_t header[38] = {};
      header[13] = ep;
      usb::putU32(header + 30, 38);
      usb::putU32(header + 34, inLength - 38);
      sys->check(std::memcmp(b, header, 38) == 0 && f->sizes.count(ep) && f->sizes[ep] == inLength - 38,
                 "TransferRequest header for endpoint " + std::to_string(ep));
      if (!present) return sys->fail(ERROR_DEVICE_NOT_CONNECTED);
      // The driver writes the header back: a next request must clear what it leaves.
      std::memset(b + 14, 0xEE, 16);
      if (ep == 0x86) {
        ++sys->statusAnswers;
        for (int i = 0; i < 32; ++i) b[38 + i] = std::uint8_t(0x30 + i);
        b[38] = std::uint8_t(sys->statusAnswers);
      } else if (ep == 0x82) {
        ++sys->rxAnswers;
        for (std::uint32_t k = 0; k < 4096; ++k) {
          const auto sample = std::uint16_t(k * 7 + std::uint32_t(sys->rxAnswers));
          b[38 + 2 * k] = std::uint8_t(sample);
          b[39 + 2 * k] = std::uint8_t(sample >> 8);
        }
      } else {
        sys->lastCommand.assign(reinterpret_cast<char*>(b + 38), inLength - 38);
      }
    }
    *returned = inLength;
    if (Object* e = sys->find(event, Object::Event)) e->signalled = true;
    return TRUE;
  };
  c.waitForSingleObject = [](HANDLE event, DWORD ms) -> DWORD {
    std::lock_guard lock(sys->mutex);
    Object* e = sys->find(event, Object::Event);
    sys->check(e && !sys->requests.empty() && sys->requests.back().event == event &&
                   sys->requests.back().waitMs == 0,
               "a wait after each request, on its event");
    if (!sys->requests.empty()) sys->requests.back().waitMs = ms;
    // No time passes here: the caller's own wait stands for it.
    if (!e || !e->signalled) return WAIT_TIMEOUT;
    e->signalled = false;
    return WAIT_OBJECT_0;
  };
  c.cancelIo = [](HANDLE file) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* f = sys->find(file, Object::File);
    if (f) ++f->cancels;
    return f != nullptr;
  };
  c.closeHandle = [](HANDLE h) -> BOOL {
    std::lock_guard lock(sys->mutex);
    Object* o = sys->find(h, Object::File);
    if (!o) o = sys->find(h, Object::Event);
    sys->check(o, "closing a handle that is not open");
    if (o) o->open = false;
    return o != nullptr;
  };
  c.getLastError = []() -> DWORD { return lastError; };
  return c;
}

Bytes guidBytes(const GUID& g) { return Bytes(reinterpret_cast<const char*>(&g), sizeof g); }

// A synthesizer with every property the registry holds, among them those Linux leaves empty.
Device fullSynthesizer() {
  const GUID busType = {0x9D7DEBBC, 0xC85D, 0x11D1, {0x9E, 0xB4, 0x00, 0x60, 0x08, 0xC3, 0xA1, 0x9A}};
  return {"\\\\?\\usb#vid_5d3c&pid_5d3c#1#{ae18aa60-7f6a-11d4-97dd-00010229b959}",
          {{15, number(0x84)},
           {7, text("USB")},
           {8, text("{36FC9E60-C465-11CF-8056-444553540000}")},
           {2, list({"USB\\Class_FF&SubClass_00&Prot_00", "USB\\Class_FF&SubClass_00", "USB\\Class_FF"})},
           {10, number(0)},
           {0, text("QZ418 synthesizer")},
           {9, text("{36FC9E60-C465-11CF-8056-444553540000}\\0007")},
           {12, text("QZ418 (USB)")},
           {1, list({"USB\\VID_5D3C&PID_5D3C&REV_0100", "USB\\VID_5D3C&PID_5D3C"})},
           {11, text("QZ")},
           {17, list({"QzFilter"})},
           {28, number(3)},
           {21, number(1)},
           {19, {REG_BINARY, guidBytes(busType)}},
           {27, number(0x100)},
           {25, number(0x22)},
           {22, text("USB")},
           {26, number(1)},
           {20, number(15)},
           {13, text("Port_#0002.Hub_#0001")},
           {14, text("\\Device\\USBPDO-5")},
           {24, text("D:P(A;;GA;;;SY)")},
           {4, text("QZ418USB")},
           {16, number(2)},
           {30, text("Port %1")}}};
}

Device synthesizer(const char* path, std::initializer_list<const char*> ids) {
  return {path, {{1, list(ids)}}};
}

class DriverBackend : public ::testing::Test {
 protected:
  System system;
  WinDriverCalls calls = system.calls();
  WinDriverEnumerator enumerator{calls};

  // The paths FindSynthesizers lists; the list itself into *keep.
  std::vector<std::string> listed(TUSBPnPList* keep = nullptr) {
    TUSBPnPList list;
    FindSynthesizers(list, &enumerator);
    std::vector<std::string> paths;
    for (const auto& r : list) paths.push_back(r->devicePath.toStdString());
    if (keep) *keep = std::move(list);
    return paths;
  }
};

TEST_F(DriverBackend, DiscoveryListsTheSynthesizersOfTheInterfaceClassWithAllTheirProperties) {
  system.present = {fullSynthesizer(),
                    synthesizer("lower-case", {"usb\\vid_5d3c&pid_5d3c"}),
                    synthesizer("other product", {"USB\\VID_5D3C&PID_5D3D"}),
                    synthesizer("revision only", {"USB\\VID_5D3C&PID_5D3C&REV_0100"}),
                    {"no details", {{1, list({"USB\\VID_5D3C&PID_5D3C"})}}, true},
                    synthesizer("after a skipped one", {"USB\\VID_5D3C&PID_5D3C"})};
  TUSBPnPList list;
  EXPECT_EQ(listed(&list),
            (std::vector<std::string>{system.present[0].path, "lower-case", "after a skipped one"}));
  const QString stars(53, u'*');
  const QStringList expected = {
      "УСТРОЙСТВО    - 0 " + stars,
      "DeviceID     00001001h",
      "DevPath      \\\\?\\usb#vid_5d3c&pid_5d3c#1#{ae18aa60-7f6a-11d4-97dd-00010229b959}",
      "Capabilities 00000084h",
      "ClassDescr   USB",
      "ClassGUID    {36FC9E60-C465-11CF-8056-444553540000}",
      "ConfigFlags  00000000h",
      "DeviceDescr  QZ418 synthesizer",
      "Driver       {36FC9E60-C465-11CF-8056-444553540000}\\0007",
      "FriendlyName QZ418 (USB)",
      "CompatibleIDs       3",
      "CompatibleIDs 0  USB\\Class_FF&SubClass_00&Prot_00",
      "CompatibleIDs 1  USB\\Class_FF&SubClass_00",
      "CompatibleIDs 2  USB\\Class_FF",
      "HardwareID       2",
      "HardwareID 0  USB\\VID_5D3C&PID_5D3C&REV_0100",
      "HardwareID 1  USB\\VID_5D3C&PID_5D3C",
      "Mfg     QZ",
      "LowerFilters       0",
      "UpperFilters       1",
      "UpperFilters 0  QzFilter",
      "Address 3",
      "BusNumber       00000001h",
      "BusType         {9D7DEBBC-C85D-11D1-9EB4-006008C3A19A}",
      "Characteristics 00000100h",
      "DevType         00000022h",
      "EnumeratorName  USB",
      "Exclusive       00000001h",
      "LegacyBusType   0000000Fh",
      "LocationInfo    Port_#0002.Hub_#0001",
      "PhysDevObjName  \\Device\\USBPDO-5",
      "SecuritySDS     D:P(A;;GA;;;SY)",
      "Service         QZ418USB",
      "UINumber        00000002h",
      "UINumberFormat  Port %1",
      ""};
  const auto text = [](const QStringList& lines) { return lines.join(u'\n').toStdString(); };
  EXPECT_EQ(text(devicePropertyLines(list, 0)), text(expected));
  // A device with nothing but its hardware ID: empty texts and lists, zero numbers.
  const QStringList bare = devicePropertyLines(list, 1);
  EXPECT_EQ(text(bare.mid(3, 7)),
            text(QStringList{"Capabilities 00000000h", "ClassDescr   ", "ClassGUID    ",
                             "ConfigFlags  00000000h", "DeviceDescr  ", "Driver       ", "FriendlyName "}));
  EXPECT_EQ(bare[1], "DeviceID     00001002h");
  EXPECT_EQ(text(bare.mid(13, 4)),
            text({"Mfg     ", "LowerFilters       0", "UpperFilters       0", "Address "}));

  // Every listed device had its properties read once, in the record's order.
  const std::vector<DWORD> order = {15, 7,  8,  2,  10, 0,  9,  12, 1,  18, 11, 17, 28,
                                    21, 19, 27, 25, 22, 26, 20, 13, 14, 24, 4,  16, 30};
  EXPECT_EQ(system.propertyReads[0x1001], order);
  EXPECT_EQ(system.propertyReads.count(0x1005), 0u) << "the device without details";
  ASSERT_EQ(system.objects.size(), 1u);
  EXPECT_FALSE(system.objects[0].open) << "the set is destroyed";
  EXPECT_EQ(system.violations, std::vector<std::string>{});
}

TEST_F(DriverBackend, NoSetOrNoLibraryListsNothing) {
  system.present = {fullSynthesizer()};
  system.classDevsFail = true;
  EXPECT_TRUE(listed().empty());
  EXPECT_TRUE(enumerator.notes().isEmpty());
  calls.loadSetupApi = [](WinDriverCalls&) { return false; };
  EXPECT_TRUE(listed().empty());
  EXPECT_EQ(enumerator.notes().size(), 1);
  EXPECT_EQ(system.violations, std::vector<std::string>{});
}

// The exchange of the events window, run by hand: open the first listed synthesizer, cycle,
// stop and cancel.
struct Exchange {
  std::vector<std::pair<std::array<std::uint8_t, 32>, std::uint32_t>> statuses;
  std::vector<std::uint16_t> firstSamples;
  std::unique_ptr<TUSB_Thread> thread;

  bool start(WinDriverCalls& calls, const QString& path) {
    LinkReceivers r;
    r.showStatus = [this](const auto& report, std::uint32_t error) { statuses.push_back({report, error}); };
    r.showRx = [this](auto samples) { firstSamples.push_back(samples[0]); };
    r.buildCommand = [this](auto packet) {
      for (std::size_t i = 0; i < packet.size(); ++i) packet[i] = std::uint8_t(i + statuses.size());
    };
    thread = std::make_unique<TUSB_Thread>(r, [&calls](const QString& p, int* error) {
      return std::unique_ptr<DeviceTransport>(WinDriverTransport::open(calls, p, error));
    });
    if (!thread->OpenDeviceHandle(path)) return false;
    thread->setWaitTime(400);
    thread->resume();
    return true;
  }
  bool stop() {
    thread->terminate();
    thread->waitFor();
    return thread->CancelTransfers();
  }
};

TEST_F(DriverBackend, CycleThroughTheDriverThenRemovalAndANewDevice) {
  system.present = {fullSynthesizer()};
  const std::vector<std::string> first = listed();
  ASSERT_EQ(first.size(), 1u);
  Exchange a;
  ASSERT_TRUE(a.start(calls, QString::fromStdString(first[0])));
  ASSERT_TRUE(fake::runUntil([&] { return a.statuses.size() >= 3; }, 30000));

  // Unplugged: every request fails, the status hand-over carries the code with the last report.
  {
    std::lock_guard lock(system.mutex);
    system.present.clear();
  }
  ASSERT_TRUE(fake::runUntil([&] { return a.statuses.back().second != 0; }, 30000));
  EXPECT_EQ(a.statuses.back().second, DWORD(ERROR_DEVICE_NOT_CONNECTED));
  EXPECT_EQ(a.statuses.back().first, a.statuses[a.statuses.size() - 2].first);
  EXPECT_TRUE(a.stop()) << "CancelIo on the open handle";
  EXPECT_TRUE(listed().empty());
  EXPECT_FALSE(a.thread->OpenDeviceHandle(QString::fromStdString(first[0])));
  EXPECT_EQ(a.thread->openError(), ERROR_FILE_NOT_FOUND);

  // The exchange with the first synthesizer: its reports and samples reached the windows as the
  // driver wrote them.
  EXPECT_EQ(a.statuses[0].first[0], 1);
  EXPECT_EQ(a.statuses[1].first[0], 2);
  EXPECT_EQ(a.statuses[1].first[31], 0x30 + 31);
  EXPECT_EQ(a.statuses[0].second, 0u);
  EXPECT_EQ(std::vector<std::uint16_t>(a.firstSamples.begin(), a.firstSamples.begin() + 2),
            (std::vector<std::uint16_t>{1, 2}));

  // A new synthesizer: found and served on a handle of its own.
  Device b = synthesizer("\\\\?\\usb#vid_5d3c&pid_5d3c#2#{ae18aa60-7f6a-11d4-97dd-00010229b959}",
                         {"USB\\VID_5D3C&PID_5D3C"});
  {
    std::lock_guard lock(system.mutex);
    system.present = {b};
  }
  ASSERT_EQ(listed(), std::vector<std::string>{b.path});
  Exchange next;
  ASSERT_TRUE(next.start(calls, QString::fromStdString(b.path)));
  ASSERT_TRUE(fake::runUntil([&] { return next.statuses.size() >= 2; }, 30000));
  EXPECT_TRUE(next.stop());
  EXPECT_EQ(next.statuses[0].second, 0u);
  const auto& sent = next.thread->commandPayload();
  EXPECT_EQ(system.lastCommand, Bytes(reinterpret_cast<const char*>(sent.data()), sent.size()));

  a.thread.reset();
  next.thread.reset();
  std::lock_guard lock(system.mutex);
  // Per device handle: three size requests on an event of their own (500 ms each), then the
  // cycle's transfers on the completion event (400 ms each).
  std::map<HANDLE, std::vector<Request>> byFile;
  for (const Request& r : system.requests) byFile[r.file].push_back(r);
  ASSERT_EQ(byFile.size(), 2u);
  for (const auto& [file, rs] : byFile) {
    ASSERT_GE(rs.size(), 9u);
    const std::uint8_t order[] = {0x86, 0x82, 0x04, 0x86, 0x82, 0x04, 0x86, 0x82, 0x04};
    const DWORD lengths[] = {8, 8, 8, 70, 8230, 102, 70, 8230, 102};
    for (std::size_t i = 0; i < 9; ++i) {
      EXPECT_EQ(rs[i].code, i < 3 ? 0x220038u : 0x220024u) << i;
      EXPECT_EQ(rs[i].endpoint, order[i]) << i;
      EXPECT_EQ(rs[i].length, lengths[i]) << i;
      EXPECT_EQ(rs[i].waitMs, i < 3 ? 500u : 400u) << i;
      EXPECT_EQ(rs[i].event, i < 3 ? rs[0].event : rs[3].event) << i;
    }
    EXPECT_NE(rs[0].event, rs[3].event);
    EXPECT_EQ(system.objects[reinterpret_cast<std::uintptr_t>(file) - 1].cancels, 1);
  }
  // Every handle made was closed: the sets, both devices, their events.
  for (const Object& o : system.objects) EXPECT_FALSE(o.open) << o.kind;
  EXPECT_EQ(system.violations, std::vector<std::string>{});
}

// The events window on the driver's back end and the system's change monitor, hidden all along:
// each device-change message sent or posted to it is one logged sequence, which finds the
// synthesizer gone and then a new one.
TEST_F(DriverBackend, HiddenEventsWindowFollowsDeviceChangeMessages) {
  if (QGuiApplication::platformName() != QLatin1String("windows"))
    GTEST_SKIP() << "needs the windows platform (-platform windows)";
  system.present = {fullSynthesizer()};
  QTemporaryDir dir;
  LinkPlatform p;
  p.makeEnumerator = [this] { return std::make_unique<WinDriverEnumerator>(calls); };
  p.openTransport = [this](const QString& path, int* error) -> std::unique_ptr<DeviceTransport> {
    return WinDriverTransport::open(calls, path, error);
  };
  p.makeChangeMonitor = [](QObject* parent) { return makeSystemChangeMonitor(parent); };
  p.stateFile = dir.filePath(QStringLiteral("state.ini"));
  TLinkForm form(std::move(p));
  const HWND handle = reinterpret_cast<HWND>(form.internalWinId());
  ASSERT_TRUE(handle && !form.isVisible());
  ASSERT_TRUE(fake::runUntil([&] { return form.linkUp(); }, 30000));
  // The log lines after the first `from`, numbered ones without their numbers.
  const auto linesFrom = [&form](qsizetype from) {
    QStringList texts;
    for (const QString& l : form.logLines().mid(from))
      texts << (l.size() >= 5 && l[0].isDigit() && l.mid(3, 2) == QLatin1String("  ") ? l.mid(5) : l);
    return texts.join(u'|').toStdString();
  };

  qsizetype seen = form.logLines().size();
  {
    std::lock_guard lock(system.mutex);
    system.present.clear();
  }
  PostMessageA(handle, WM_DEVICECHANGE, TLinkForm::DBT_DEVNODES_CHANGED, 0);
  ASSERT_TRUE(fake::runUntil([&] { return form.logLines().last().endsWith(QStringLiteral("  ")); }, 30000));
  EXPECT_EQ(linesFrom(seen),
            "USB событие DBT_DEVNODES_CHANGED|Поток USB УЖЕ работает!|Поток данных USB разрушен!||"
            "Подключено 0 синтезаторов|");
  EXPECT_FALSE(form.linkUp());

  Device b = fullSynthesizer();
  b.path = "\\\\?\\usb#vid_5d3c&pid_5d3c#2#{ae18aa60-7f6a-11d4-97dd-00010229b959}";
  b.properties[13] = text("Port_#0003.Hub_#0001");
  {
    std::lock_guard lock(system.mutex);
    system.present = {b};
  }
  seen = form.logLines().size();
  SendMessageA(handle, WM_DEVICECHANGE, TLinkForm::DBT_DEVNODES_CHANGED, 0);
  SendMessageA(handle, WM_DEVICECHANGE, 0x8000, 0);  // DBT_DEVICEARRIVAL
  ASSERT_TRUE(fake::runUntil([&] { return form.linkUp(); }, 30000));
  EXPECT_EQ(linesFrom(seen),
            "другое событие 00008000h|USB событие DBT_DEVNODES_CHANGED|Поток USB УЖЕ работает!|"
            "Поток данных USB разрушен!|String=  QZ418 synthesizer  Port_#0003.Hub_#0001||"
            "Подключено 1 синтезаторов||Поток данных USB разрушен!|Старт потока данных USB!");
  EXPECT_EQ(form.currentDevicePath().toStdString(), b.path);
  form.StopExchangeForExit();
  EXPECT_EQ(system.violations, std::vector<std::string>{});
}

TEST(SystemDriverCalls, ResolveTheSetupLibraryByName) {
  WinDriverCalls& calls = systemDriverCalls();
  WinDriverEnumerator enumerator(calls);
  for (const DeviceRecord& r : enumerator.enumerate()) EXPECT_FALSE(r.devicePath.isEmpty());
  EXPECT_TRUE(enumerator.notes().isEmpty());
  EXPECT_TRUE(calls.getClassDevs && calls.enumDeviceInterfaces && calls.getDeviceInterfaceDetail &&
              calls.getDeviceRegistryProperty && calls.destroyDeviceInfoList);
  int error = 0;
  EXPECT_EQ(WinDriverTransport::open(calls, QStringLiteral("\\\\.\\QZ418-absent"), &error), nullptr);
  EXPECT_NE(error, 0);
}

}  // namespace

#endif  // _WIN32
