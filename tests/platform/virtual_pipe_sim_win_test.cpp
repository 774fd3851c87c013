// The program's pipe transport and listing against the real qz418-sim.exe on Windows: the
// protocol both ways, errors, a late answer dropped after a timeout, unplug and plug, a second
// device of the same name, and the device-change broadcasts a hidden window receives.
#ifdef _WIN32

#include <gtest/gtest.h>
#include <windows.h>
// windows.h first: dbt.h needs its types.
#include <dbt.h>

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QWidget>
#include <functional>

#include "platform/device_request.h"
#include "platform/virtual_device_pipe_win.h"
#include "support/program_paths.h"

namespace {

namespace io = driver_ioctl;

// Waits for a condition, letting the window messages in meanwhile.
bool eventually(const std::function<bool()>& condition, int ms = 10000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents();
    QThread::msleep(10);
  }
  return true;
}

// A hidden top-level window, as the events window is, counting the device-change broadcasts.
class BroadcastCounter : public QAbstractNativeEventFilter {
 public:
  BroadcastCounter() {
    window_.winId();
    qApp->installNativeEventFilter(this);
  }
  ~BroadcastCounter() override { qApp->removeNativeEventFilter(this); }
  bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
    const MSG* m = static_cast<const MSG*>(message);
    if (type == "windows_generic_MSG" && m->hwnd == reinterpret_cast<HWND>(window_.winId()) &&
        m->message == WM_DEVICECHANGE && m->wParam == DBT_DEVNODES_CHANGED)
      ++count;
    return false;
  }
  int count = 0;

 private:
  QWidget window_;
};

class Sim {
 public:
  Sim(const QString& folder, const QStringList& extra = {}) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(qz418SimPath(), QStringList{"--folder", QDir::toNativeSeparators(folder)} + extra);
    process_.waitForStarted(10000);
  }
  ~Sim() {
    if (process_.state() == QProcess::NotRunning) return;
    say("quit");
    if (!process_.waitForFinished(5000)) process_.kill(), process_.waitForFinished(5000);
  }
  void say(const char* line) {
    process_.write(line);
    process_.write("\n");
    process_.waitForBytesWritten(2000);
  }
  QProcess& process() { return process_; }

 private:
  QProcess process_;
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

std::unique_ptr<DeviceTransport> openOnly(const QString& folder) {
  const std::vector<DeviceRecord> listed = enumerateVirtualPipes(folder);
  if (listed.size() != 1) return nullptr;
  int error = -1;
  return openVirtualPipeTransport(listed[0].devicePath, &error);
}

TEST(WindowsVirtualSim, ServesTheProtocolOnItsPipeAndAnnouncesEveryChange) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  BroadcastCounter broadcasts;
  Sim sim(dir.path());
  ASSERT_TRUE(eventually([&] { return enumerateVirtualPipes(dir.path()).size() == 1; }));
  const DeviceRecord r = enumerateVirtualPipes(dir.path())[0];
  EXPECT_EQ(r.locationInformation, "virtual:sim0");
  EXPECT_TRUE(r.devicePath.startsWith("\\\\.\\pipe\\qz418-")) << r.devicePath.toStdString();
  EXPECT_TRUE(eventually([&] { return broadcasts.count >= 1; })) << "start announced";

  int error = -1;
  std::unique_ptr<DeviceTransport> t = openVirtualPipeTransport(r.devicePath, &error);
  ASSERT_TRUE(t) << error;
  for (auto [ep, size] : {std::pair{0x86, 32}, {0x82, 8192}, {0x04, 64}}) {
    auto b = sizeRequest(std::uint8_t(ep), std::uint32_t(size));
    ASSERT_EQ(issue(*t, b, io::kSetTransferSize), 0) << ep;
  }
  auto command = transferRequest(0x04, 64);
  command[io::kHeaderSize + 0] = 0x5A;
  command[io::kHeaderSize + 6] = 0x12;
  command[io::kHeaderSize + 8] = 0x34;
  ASSERT_EQ(issue(*t, command, io::kTransfer), 0);
  auto status = transferRequest(0x86, 32);
  ASSERT_EQ(issue(*t, status, io::kTransfer), 0);
  const std::uint8_t* s = status.data() + io::kHeaderSize;
  EXPECT_EQ(s[0], 0x5A);
  EXPECT_EQ(s[3], 0x12);
  EXPECT_EQ(s[5], 0x34);
  EXPECT_EQ(s[16] << 8 | s[17], 1000) << "probe-pulse frequency, big-endian";
  auto samples = transferRequest(0x82, 8192);
  EXPECT_EQ(issue(*t, samples, io::kTransfer), 0);

  struct Bad {
    const char* what;
    std::vector<std::uint8_t> buffer;
    std::uint32_t code;
    int error;
  } bad[] = {
      {"unknown request code", sizeRequest(0x86, 32), 0x220000, 25},
      {"size for an unknown endpoint", sizeRequest(0x33, 8), io::kSetTransferSize, 22},
      {"transfer of another length than its size", transferRequest(0x86, 16), io::kTransfer, 22},
  };
  for (Bad& b : bad) EXPECT_EQ(issue(*t, b.buffer, b.code), b.error) << b.what;
  EXPECT_FALSE(t->connectionClosed()) << "errors of the device keep the connection";

  // A second device of the same name in the same folder refuses to start.
  Sim second(dir.path());
  ASSERT_TRUE(second.process().waitForFinished(10000));
  EXPECT_EQ(second.process().exitCode(), 1);

  // A broken answer ends the connection: 71, then 19 as for a removed device.
  sim.say("garble");
  // Answered normally until the simulator has read the line.
  auto again = transferRequest(0x86, 32);
  int garbled = 0;
  ASSERT_TRUE(eventually([&] { return (garbled = issue(*t, again, io::kTransfer)) != 0; }));
  EXPECT_EQ(garbled, 71);
  EXPECT_TRUE(t->connectionClosed());
  EXPECT_EQ(issue(*t, again, io::kTransfer), 19);

  const int before = broadcasts.count;
  sim.say("unplug");
  // The pipe goes first, then the file that names it.
  EXPECT_TRUE(eventually([&] { return !QFile::exists(dir.filePath("sim0.pipe")); }));
  EXPECT_TRUE(enumerateVirtualPipes(dir.path()).empty());
  EXPECT_EQ(openVirtualPipeTransport(r.devicePath, &error), nullptr);
  EXPECT_EQ(error, 19);
  sim.say("plug");
  EXPECT_TRUE(eventually([&] { return enumerateVirtualPipes(dir.path()).size() == 1; }));
  sim.say("quit");
  ASSERT_TRUE(sim.process().waitForFinished(10000));
  EXPECT_EQ(sim.process().exitCode(), 0);
  EXPECT_FALSE(QFile::exists(dir.filePath("sim0.pipe")));
  EXPECT_TRUE(eventually([&] { return broadcasts.count >= before + 3; })) << "unplug, plug, quit";
}

TEST(WindowsVirtualSim, LateAnswerIsDroppedAndUnansweredOnesTimeOut) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  {
    Sim slow(dir.path(), {"--latency", "600"});
    ASSERT_TRUE(eventually([&] { return enumerateVirtualPipes(dir.path()).size() == 1; }));
    std::unique_ptr<DeviceTransport> t = openOnly(dir.path());
    ASSERT_TRUE(t);
    auto size = sizeRequest(0x86, 32);
    EXPECT_EQ(issue(*t, size, io::kSetTransferSize, 100), 110) << "given up before the answer";
    auto status = transferRequest(0x86, 32);
    // The size's late answer arrives first and is dropped; this one's follows.
    EXPECT_EQ(issue(*t, status, io::kTransfer, 5000), 0);
    EXPECT_FALSE(t->connectionClosed());
  }
  Sim dropping(dir.path(), {"--drop-every", "2"});
  ASSERT_TRUE(eventually([&] { return enumerateVirtualPipes(dir.path()).size() == 1; }));
  std::unique_ptr<DeviceTransport> t = openOnly(dir.path());
  ASSERT_TRUE(t);
  const int expected[] = {0, 110, 0, 110};
  for (int e : expected) {
    auto size = sizeRequest(0x86, 32);
    EXPECT_EQ(issue(*t, size, io::kSetTransferSize, 400), e);
  }
}

}  // namespace

#endif
