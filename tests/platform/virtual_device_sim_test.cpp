// The virtual back end against the real qz418-sim (and, for answers qz418-sim never sends,
// a scripted fake device): enumeration, the wire protocol both ways, the change monitor.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/device_change_monitor.h"
#include "platform/device_request.h"
#include "platform/devices.h"
#include "platform/virtual_device_enumerator.h"
#include "support/program_paths.h"

namespace {

namespace io = driver_ioctl;

// XDG_RUNTIME_DIR pointed at a private temporary folder for the life of the test.
class RuntimeDir {
 public:
  RuntimeDir() {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old, hadOld_ = true;
    ::chmod(QFile::encodeName(dir_.path()).constData(), 0700);
    setenv("XDG_RUNTIME_DIR", QFile::encodeName(dir_.path()).constData(), 1);
  }
  ~RuntimeDir() {
    if (hadOld_)
      setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
    else
      unsetenv("XDG_RUNTIME_DIR");
  }
  QString path() const { return dir_.path(); }
  QString folder() const { return dir_.path() + "/qz418"; }

 private:
  QTemporaryDir dir_;
  std::string saved_;
  bool hadOld_ = false;
};

bool eventually(const std::function<bool()>& condition, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!condition()) {
    if (t.elapsed() > ms) return false;
    QThread::msleep(10);
  }
  return true;
}

bool connectable(const QString& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, QFile::encodeName(path).constData(), sizeof(a.sun_path) - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0;
  ::close(fd);
  return ok;
}

class Sim {
 public:
  explicit Sim(const QString& folder, const QString& name = "sim0", const QStringList& extra = {}) {
    socket_ = (folder.isEmpty() ? virtualDeviceFolder() : folder) + "/" + name + ".sock";
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{"--name", name};
    if (!folder.isEmpty()) args << "--folder" << folder;
    process_.start(qz418SimPath(), args + extra);
    process_.waitForStarted(5000);
  }
  ~Sim() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(3000)) process_.kill(), process_.waitForFinished(3000);
  }
  bool ready() {
    return eventually([&] { return QFile::exists(socket_) && connectable(socket_); });
  }
  void say(const char* line) {
    process_.write(line);
    process_.write("\n");
    process_.waitForBytesWritten(2000);
  }
  QProcess& process() { return process_; }
  const QString& socket() const { return socket_; }

 private:
  QProcess process_;
  QString socket_;
};

std::vector<std::uint8_t> sizeRequest(std::uint8_t ep, std::uint32_t size) {
  std::vector<std::uint8_t> b(io::kSizeRequestLength, 0);
  b[0] = ep;
  writeLe32(b.data() + 4, size);
  return b;
}

std::vector<std::uint8_t> transferRequest(std::uint8_t ep, std::uint32_t payload, std::uint32_t total = 0) {
  std::vector<std::uint8_t> b(total ? total : io::kHeaderSize + payload, 0);
  b[io::kEndpointOffset] = ep;
  writeLe32(b.data() + io::kPayloadOffsetField, io::kHeaderSize);
  writeLe32(b.data() + io::kPayloadLengthField, payload);
  return b;
}

int issue(DeviceTransport& t, std::vector<std::uint8_t>& b, std::uint32_t code, std::uint32_t waitMs = 2000) {
  return t.request(code, b.data(), std::uint32_t(b.size()), waitMs);
}

std::unique_ptr<DeviceTransport> openOk(const QString& path) {
  int error = -1;
  auto t = openDeviceTransport(path, &error);
  EXPECT_TRUE(t) << "open " << path.toStdString() << " error " << error;
  EXPECT_EQ(error, 0);
  return t;
}

void setSizes(DeviceTransport& t) {
  for (auto [ep, size] : {std::pair{0x86, 32}, {0x82, 8192}, {0x04, 64}}) {
    auto b = sizeRequest(std::uint8_t(ep), std::uint32_t(size));
    ASSERT_EQ(issue(t, b, io::kSetTransferSize), 0) << ep;
  }
}

std::array<std::uint8_t, 32> readStatus(DeviceTransport& t) {
  auto b = transferRequest(0x86, 32);
  std::fill(b.begin() + io::kHeaderSize, b.end(), 0xEE);
  std::array<std::uint8_t, 32> s{};
  EXPECT_EQ(issue(t, b, io::kTransfer), 0);
  std::copy(b.begin() + io::kHeaderSize, b.end(), s.begin());
  return s;
}

// A socket file nothing listens on, as a device killed without cleaning up leaves it.
void makeStaleSocket(const QString& path) {
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, QFile::encodeName(path).constData(), sizeof(a.sun_path) - 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
  ::close(fd);
}

}  // namespace

TEST(VirtualDevices, EnumerationListsLiveSocketsSortedWithTheirRecord) {
  RuntimeDir rt;
  Sim b(QString(), "beta");  // the default folder, from XDG_RUNTIME_DIR
  ASSERT_TRUE(b.ready()) << b.socket().toStdString();
  EXPECT_EQ(b.socket(), rt.folder() + "/beta.sock");
  Sim a(rt.folder(), "alpha");
  ASSERT_TRUE(a.ready());
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(rt.folder()).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  makeStaleSocket(rt.folder() + "/stale.sock");
  QFile plain(rt.folder() + "/plain.sock");  // not a socket at all
  ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
  makeStaleSocket(rt.folder() + "/.gamma.77.tmp");  // a device still starting

  const auto records = makeSystemEnumerator()->enumerate();
  std::vector<DeviceRecord> virtuals;
  for (const auto& r : records)
    if (r.devicePath.startsWith(rt.folder())) virtuals.push_back(r);
  ASSERT_EQ(virtuals.size(), 2u);
  EXPECT_EQ(virtuals[0].devicePath, rt.folder() + "/alpha.sock");
  EXPECT_EQ(virtuals[1].devicePath, rt.folder() + "/beta.sock");
  const DeviceRecord& r = virtuals[1];
  EXPECT_EQ(r.hardwareIds, QStringList({"USB\\VID_5D3C&PID_5D3C&REV_0001", "USB\\VID_5D3C&PID_5D3C"}));
  EXPECT_EQ(r.locationInformation, "virtual:beta");
  EXPECT_EQ(r.deviceDescription, "QZ418 (virtual)");
  EXPECT_EQ(r.manufacturer, "qz418-sim");
  EXPECT_TRUE(r.compatibleIds.isEmpty() && r.lowerFilters.isEmpty() && r.upperFilters.isEmpty());
  EXPECT_TRUE(r.className.isEmpty() && r.classGuid.isEmpty() && r.service.isEmpty() &&
              r.enumeratorName.isEmpty() && r.address.isEmpty() && r.friendlyName.isEmpty() &&
              r.driverKey.isEmpty());
  EXPECT_EQ(r.deviceInstance | r.capabilities | r.configFlags | r.busNumber | r.deviceType | r.exclusive |
                r.legacyBusType | r.uiNumber,
            0u);
  EXPECT_TRUE(isVirtualDevicePath(r.devicePath));
}

TEST(VirtualDevices, FoldersAndSocketsOthersCouldPlantAreIgnored) {
  struct Case {
    const char* what;
    std::function<void(const QString& folder, const QString& socket)> spoil;
    bool needsRoot;
    const char* why;  // the reason given for a refused folder; nullptr: the folder is not refused
  } cases[] = {
      {"folder writable by the group",
       [](auto& f, auto&) { ::chmod(QFile::encodeName(f).constData(), 0770); }, false,
       "открыта для записи другим пользователям (права 0770)"},
      {"folder writable by others", [](auto& f, auto&) { ::chmod(QFile::encodeName(f).constData(), 0703); },
       false, "открыта для записи другим пользователям (права 0703)"},
      {"folder of another user",
       [](auto& f, auto&) { ASSERT_EQ(::chown(QFile::encodeName(f).constData(), 65534, 65534), 0); }, true,
       "принадлежит другому пользователю (uid 65534)"},
      {"socket of another user",
       [](auto&, auto& s) { ASSERT_EQ(::lchown(QFile::encodeName(s).constData(), 65534, 65534), 0); }, true,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.needsRoot && ::geteuid() != 0) continue;
    RuntimeDir rt;
    Sim sim(rt.folder());
    ASSERT_TRUE(sim.ready());
    VirtualDeviceEnumerator e(rt.folder());
    ASSERT_EQ(e.enumerate().size(), 1u);
    EXPECT_TRUE(e.notes().isEmpty());
    c.spoil(rt.folder(), sim.socket());
    EXPECT_TRUE(e.enumerate().empty());
    const QStringList expected =
        c.why ? QStringList{"Папка виртуальных синтезаторов " + rt.folder() + " отклонена: " + c.why}
              : QStringList{};
    EXPECT_EQ(e.notes(), expected);
    ::chmod(QFile::encodeName(rt.folder()).constData(), 0700);
  }
  // A link to a good folder is not the folder: whoever owns the link's folder chose it.
  RuntimeDir rt;
  Sim sim(rt.folder());
  ASSERT_TRUE(sim.ready());
  const QString link = rt.path() + "/link";
  ASSERT_TRUE(QFile::link(rt.folder(), link));
  VirtualDeviceEnumerator e(link);
  EXPECT_TRUE(e.enumerate().empty());
  EXPECT_EQ(e.notes(),
            QStringList{"Папка виртуальных синтезаторов " + link + " отклонена: это символьная ссылка"});
  // A folder that is not there yet is no refusal.
  VirtualDeviceEnumerator missing(rt.path() + "/none");
  EXPECT_TRUE(missing.enumerate().empty());
  EXPECT_TRUE(missing.notes().isEmpty());
}

TEST(VirtualDevices, FullCycleDerivesTheStatusFromTheLastCommand) {
  RuntimeDir rt;
  const QString log = rt.path() + "/commands.log";
  Sim sim(rt.folder(), "sim0", {"--log", log});
  ASSERT_TRUE(sim.ready());
  auto t = openOk(sim.socket());
  ASSERT_TRUE(t);
  setSizes(*t);

  // Before the first command packet the report is built from an all-zero packet.
  auto s = readStatus(*t);
  std::array<std::uint8_t, 32> expected{};
  expected[1] = 0x08;                        // range code 0
  expected[16] = 0x03, expected[17] = 0xE8;  // 1000 Hz
  EXPECT_EQ(s, expected);

  struct Case {
    std::vector<std::pair<int, int>> command;  // byte index, value
    std::vector<std::pair<int, int>> status;   // the report bytes that are not zero
  } cases[] = {
      {{{0, 0x6C}, {1, 0x01}, {2, 0xFF}, {3, 0x0D}, {30, 0x1A}, {56, 0x02}},
       {{0, 0x6C}, {1, 0x2D}, {2, 0x25}}},
      // Range code 3 (bits 3-4), other bits of c1 ignored; c2 just short of 0xFF; c56 over 15.
      {{{1, 0xFE}, {2, 0xFE}, {56, 0x1F}}, {{1, 0xF0}}},
      {{{1, 0x08},
        {6, 0x12},
        {7, 0x34},
        {8, 0x56},
        {19, 0x78},
        {20, 0x9A},
        {21, 0xBC},
        {33, 1},
        {34, 2},
        {35, 3},
        {46, 4},
        {47, 5},
        {48, 6},
        {5, 0x77},
        {9, 0x77},
        {63, 0x77}},
       {{3, 0x12},
        {4, 0x34},
        {5, 0x56},
        {6, 0x78},
        {7, 0x9A},
        {8, 0xBC},
        {9, 1},
        {10, 2},
        {11, 3},
        {12, 4},
        {13, 5},
        {14, 6}}},
  };
  QStringList logged;
  for (const Case& c : cases) {
    auto w = transferRequest(0x04, 64);
    for (auto [i, v] : c.command) w[io::kHeaderSize + i] = std::uint8_t(v);
    const auto sent = w;
    ASSERT_EQ(issue(*t, w, io::kTransfer), 0);
    EXPECT_EQ(w, sent) << "an OUT transfer comes back as sent";
    logged << QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(sent.data()) + io::kHeaderSize, 64).toHex());
    expected = {};
    for (auto [i, v] : c.status) expected[i] = std::uint8_t(v);
    expected[16] = 0x03, expected[17] = 0xE8;
    EXPECT_EQ(readStatus(*t), expected) << "case " << (&c - cases);
  }

  sim.say("scene 7");
  sim.say("freq 2500");
  s = readStatus(*t);
  EXPECT_EQ(s[15], 7);
  EXPECT_EQ(s[16] * 256 + s[17], 2500);

  // The receive buffer: 255 with +-2 counts of noise, a 50 V pulse of 1 us at sample 400,
  // in counts of the 150 V range (range code 1 was the last one sent), so 255 + 50 / (150 / 256).
  auto w = transferRequest(0x04, 64);
  w[io::kHeaderSize + 1] = 0x08;
  ASSERT_EQ(issue(*t, w, io::kTransfer), 0);
  sim.say("pulse 50 1");
  auto rx = transferRequest(0x82, 8192);
  const auto header = std::vector<std::uint8_t>(rx.begin(), rx.begin() + io::kHeaderSize);
  ASSERT_EQ(issue(*t, rx, io::kTransfer), 0);
  EXPECT_TRUE(std::equal(header.begin(), header.end(), rx.begin())) << "the header comes back as sent";
  auto sample = [&](int n) {
    return int(rx[io::kHeaderSize + 2 * n]) | int(rx[io::kHeaderSize + 2 * n + 1]) << 8;
  };
  const int top = 255 + int(std::lround(50.0 / (150.0 / 256.0)));
  for (int n = 32; n < 4096; ++n) {
    const int want = (n < 400 || n >= 603) ? 255 : (n >= 403 && n < 600) ? top : -1;
    if (want < 0) {
      EXPECT_TRUE(sample(n) > 255 - 3 && sample(n) < top + 3) << n;  // rise or fall
    } else {
      ASSERT_LE(std::abs(sample(n) - want), 2) << "sample " << n;
    }
  }

  // One log line per command packet: milliseconds, then the 64 bytes in hex.
  logged << QString::fromLatin1(
      QByteArray(reinterpret_cast<const char*>(w.data()) + io::kHeaderSize, 64).toHex());
  QFile f(log);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), logged.size());
  for (int i = 0; i < lines.size(); ++i) {
    const QStringList parts = lines[i].split(' ');
    ASSERT_EQ(parts.size(), 2) << lines[i].toStdString();
    bool ok = false;
    parts[0].toLongLong(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(parts[1], logged[i]);
  }
}

TEST(VirtualDevices, MalformedRequestsFailAndTheConnectionGoesOn) {
  RuntimeDir rt;
  Sim sim(rt.folder());
  ASSERT_TRUE(sim.ready());
  auto t = openOk(sim.socket());
  ASSERT_TRUE(t);
  auto statusSize = sizeRequest(0x86, 32);
  ASSERT_EQ(issue(*t, statusSize, io::kSetTransferSize), 0);

  struct Case {
    const char* what;
    std::uint32_t code;
    std::vector<std::uint8_t> buffer;
    int error;
  } cases[] = {
      {"unknown code", 0x220028, transferRequest(0x86, 32), 25},
      {"transfer before its size is set", io::kTransfer, transferRequest(0x82, 8192), 22},
      {"payload shorter than the size", io::kTransfer, transferRequest(0x86, 31), 22},
      {"payload longer than the size", io::kTransfer, transferRequest(0x86, 33), 22},
      {"buffer shorter than its payload", io::kTransfer, transferRequest(0x86, 32, 60), 22},
      {"buffer shorter than the header", io::kTransfer, std::vector<std::uint8_t>(37, 0), 22},
      {"size of an endpoint the device lacks", io::kSetTransferSize, sizeRequest(0x81, 64), 22},
      {"size request too short", io::kSetTransferSize, std::vector<std::uint8_t>{0x86, 0, 0, 0, 32, 0, 0},
       22},
      {"the same endpoint number in the other direction", io::kTransfer, transferRequest(0x06, 32), 22},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto before = c.buffer;
    EXPECT_EQ(issue(*t, c.buffer, c.code), c.error);
    EXPECT_EQ(c.buffer, before) << "a failed request leaves the buffer as it was";
  }
  auto bad = transferRequest(0x86, 32);
  writeLe32(bad.data() + io::kPayloadOffsetField, 40);
  EXPECT_EQ(issue(*t, bad, io::kTransfer), 22) << "payload offset other than 38";

  // Frames the simulator cannot take close that connection only: one over the limit, and
  // one cut off by its client.
  auto rawClient = [&](std::vector<std::uint8_t> bytes) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, QFile::encodeName(sim.socket()).constData(), sizeof(a.sun_path) - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    return fd;
  };
  std::vector<std::uint8_t> huge(12, 0);
  writeLe32(huge.data() + 8, 65537);
  const int hugeFd = rawClient(huge);
  pollfd p{hugeFd, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 3000), 1);
  char byte;
  EXPECT_EQ(::recv(hugeFd, &byte, 1, 0), 0) << "closed without an answer";
  ::close(hugeFd);
  std::vector<std::uint8_t> cut(12, 0);
  writeLe32(cut.data() + 8, 70);
  cut.resize(40);
  ::close(rawClient(cut));

  auto good = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, good, io::kTransfer), 0);
  EXPECT_EQ(good[io::kHeaderSize + 17], 0xE8);
  EXPECT_EQ(sim.process().state(), QProcess::Running);
}

TEST(VirtualDevices, UnansweredRequestTimesOutAndTheNextOneIsServed) {
  RuntimeDir rt;
  Sim sim(rt.folder(), "sim0", {"--drop-every", "3"});
  ASSERT_TRUE(sim.ready());
  auto t = openOk(sim.socket());
  ASSERT_TRUE(t);
  auto a = sizeRequest(0x86, 32), b = sizeRequest(0x04, 64), c = sizeRequest(0x82, 8192);
  EXPECT_EQ(issue(*t, a, io::kSetTransferSize, 500), 0);
  EXPECT_EQ(issue(*t, b, io::kSetTransferSize, 500), 0);
  QElapsedTimer timer;
  timer.start();
  EXPECT_EQ(issue(*t, c, io::kSetTransferSize, 150), 110);
  EXPECT_GE(timer.elapsed(), 140);
  EXPECT_LT(timer.elapsed(), 1000);
  // The dropped request was still carried out: the size of 0x82 is set.
  auto rx = transferRequest(0x82, 8192);
  EXPECT_EQ(issue(*t, rx, io::kTransfer, 500), 0);
}

TEST(VirtualDevices, LateAnswerIsDroppedBeforeTheCurrentOneIsTaken) {
  RuntimeDir rt;
  Sim sim(rt.folder(), "sim0", {"--latency", "300"});
  ASSERT_TRUE(sim.ready());
  auto t = openOk(sim.socket());
  ASSERT_TRUE(t);
  auto size = sizeRequest(0x86, 32);
  EXPECT_EQ(issue(*t, size, io::kSetTransferSize, 50), 110);
  // The size answer (8 bytes) arrives first; taken for this 70-byte request it would be
  // malformed (71). The size was set even though its answer came too late.
  auto status = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, status, io::kTransfer, 3000), 0);
  EXPECT_EQ(status[io::kHeaderSize + 1], 0x08);
  EXPECT_EQ(status[io::kHeaderSize + 17], 0xE8);
}

TEST(VirtualDevices, KilledSimulatorIsNoDeviceAndItsSocketStale) {
  RuntimeDir rt;
  auto sim = std::make_unique<Sim>(rt.folder());
  ASSERT_TRUE(sim->ready());
  const QString path = sim->socket();
  auto t = openOk(path);
  ASSERT_TRUE(t);
  auto a = sizeRequest(0x86, 32);
  ASSERT_EQ(issue(*t, a, io::kSetTransferSize), 0);
  sim->process().kill();
  sim->process().waitForFinished(3000);
  EXPECT_EQ(issue(*t, a, io::kSetTransferSize), 19);
  EXPECT_EQ(issue(*t, a, io::kSetTransferSize), 19);
  EXPECT_TRUE(t->cancel());
  EXPECT_TRUE(t->cancel()) << "the transport stays valid until it is destroyed, as a handle does";

  ASSERT_TRUE(QFile::exists(path)) << "SIGKILL leaves the socket behind";
  EXPECT_TRUE(VirtualDeviceEnumerator(rt.folder()).enumerate().empty());
  int error = 0;
  EXPECT_FALSE(openDeviceTransport(path, &error));
  EXPECT_EQ(error, 19);
  EXPECT_FALSE(openDeviceTransport(rt.folder() + "/none.sock", &error));
  EXPECT_EQ(error, 19);

  // A new simulator of the same name replaces the stale socket.
  sim = std::make_unique<Sim>(rt.folder());
  ASSERT_TRUE(sim->ready());
  EXPECT_EQ(VirtualDeviceEnumerator(rt.folder()).enumerate().size(), 1u);
}

TEST(VirtualDevices, UnplugPlugQuitAndNoSecondDeviceOfTheSameName) {
  RuntimeDir rt;
  Sim sim(rt.folder());
  ASSERT_TRUE(sim.ready());
  Sim twin(rt.folder());
  ASSERT_TRUE(twin.process().waitForFinished(5000));
  EXPECT_EQ(twin.process().exitCode(), 1);
  ASSERT_TRUE(QFile::exists(sim.socket())) << "the refused twin left the live socket alone";

  auto t = openOk(sim.socket());
  ASSERT_TRUE(t);
  auto a = sizeRequest(0x86, 32);
  ASSERT_EQ(issue(*t, a, io::kSetTransferSize), 0);
  sim.say("unplug");
  EXPECT_EQ(issue(*t, a, io::kSetTransferSize), 19);
  EXPECT_TRUE(eventually([&] { return !QFile::exists(sim.socket()); }));

  sim.say("plug");
  ASSERT_TRUE(sim.ready());
  t = openOk(sim.socket());
  ASSERT_TRUE(t);
  auto status = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, status, io::kTransfer), 22) << "sizes belong to the connection that set them";
  EXPECT_EQ(issue(*t, a, io::kSetTransferSize), 0);

  sim.process().closeWriteChannel();  // end of input does not end the simulator
  EXPECT_FALSE(sim.process().waitForFinished(300));
  EXPECT_EQ(issue(*t, status, io::kTransfer), 0);
  sim.process().terminate();
  ASSERT_TRUE(sim.process().waitForFinished(3000));
  EXPECT_EQ(sim.process().exitCode(), 0);
  EXPECT_FALSE(QFile::exists(sim.socket())) << "SIGTERM removes the socket";
}

namespace {

// A device that answers each request with whatever the test scripts, to produce answers
// qz418-sim never sends. respond() gets the request and returns the pieces to send, each
// after its delay; an empty list, or a piece marked so, closes the connection.
struct Piece {
  int delayMs;
  std::vector<std::uint8_t> bytes;
  bool close = false;
};
using Responder =
    std::function<std::vector<Piece>(std::uint32_t seq, const std::vector<std::uint8_t>& request)>;

std::vector<std::uint8_t> answerFrame(std::uint32_t seq, std::uint32_t error, std::uint32_t length,
                                      const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> f(16 + data.size());
  writeLe32(f.data(), seq);
  writeLe32(f.data() + 4, error);
  writeLe32(f.data() + 8, error ? 0 : length);
  writeLe32(f.data() + 12, length);
  std::copy(data.begin(), data.end(), f.begin() + 16);
  return f;
}

class FakeDevice {
 public:
  FakeDevice(const QString& path, Responder respond) : respond_(std::move(respond)) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, QFile::encodeName(path).constData(), sizeof(a.sun_path) - 1);
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof(a)), 0);
    EXPECT_EQ(::listen(listen_, 4), 0);
    thread_ = std::thread([this] { serve(); });
  }
  ~FakeDevice() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
  }

 private:
  bool waitReadable(int fd) {
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }
  bool readAll(int fd, std::uint8_t* p, std::size_t n) {
    while (n > 0) {
      if (!waitReadable(fd)) return false;
      const ssize_t r = ::recv(fd, p, n, 0);
      if (r <= 0) return false;
      p += r, n -= std::size_t(r);
    }
    return true;
  }
  void serve() {
    if (!waitReadable(listen_)) return;
    const int fd = ::accept(listen_, nullptr, nullptr);
    for (;;) {
      std::uint8_t h[12];
      if (!readAll(fd, h, 12)) break;
      std::vector<std::uint8_t> req(readLe32(h + 8));
      if (!readAll(fd, req.data(), req.size())) break;
      const auto pieces = respond_(readLe32(h), req);
      bool close = pieces.empty();
      for (const Piece& p : pieces) {
        std::this_thread::sleep_for(std::chrono::milliseconds(p.delayMs));
        if (!p.bytes.empty()) ::send(fd, p.bytes.data(), p.bytes.size(), MSG_NOSIGNAL);
        close = close || p.close;
      }
      if (close) break;
    }
    ::close(fd);
  }

  Responder respond_;
  int listen_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace

TEST(VirtualDevices, MalformedAnswerFailsWithProtocolErrorThenNoDevice) {
  struct Case {
    const char* what;
    std::function<std::vector<std::uint8_t>(std::uint32_t seq, const std::vector<std::uint8_t>& req)> answer;
    int first;
    int goodBefore = 0;  // requests answered correctly before the bad answer
  } cases[] = {
      {"sequence number already answered",
       [](auto seq, auto& r) { return answerFrame(seq - 1, 0, r.size(), r); }, 71, 1},
      {"sequence number ahead", [](auto seq, auto& r) { return answerFrame(seq + 1, 0, r.size(), r); }, 71},
      {"sequence number never sent", [](auto, auto& r) { return answerFrame(0, 0, r.size(), r); }, 71},
      {"length other than the request's",
       [](auto seq, auto& r) {
         return answerFrame(seq, 0, r.size() - 1, {r.begin(), r.end() - 1});
       },
       71},
      {"length over the limit", [](auto seq, auto&) { return answerFrame(seq, 0, 65537, {}); }, 71},
      {"error that is no errno value", [](auto seq, auto& r) { return answerFrame(seq, 70000, r.size(), r); },
       71},
      {"connection closed mid-answer",
       [](auto seq, auto& r) {
         auto f = answerFrame(seq, 0, r.size(), r);
         f.resize(20);
         return f;
       },
       19},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.path() + "/fake.sock";
    int calls = 0;
    FakeDevice fake(path, [&](std::uint32_t seq, const std::vector<std::uint8_t>& r) -> std::vector<Piece> {
      const int call = calls++;
      if (call < c.goodBefore) return {{0, answerFrame(seq, 0, std::uint32_t(r.size()), r)}};
      if (call > c.goodBefore) return {};
      return {{0, c.answer(seq, r)}, {50, {}, true}};
    });
    auto t = openOk(path);
    ASSERT_TRUE(t);
    auto b = transferRequest(0x86, 32);
    for (int i = 0; i < c.goodBefore; ++i) EXPECT_EQ(issue(*t, b, io::kTransfer, 1000), 0);
    EXPECT_FALSE(t->connectionClosed());
    const auto before = b;
    EXPECT_EQ(issue(*t, b, io::kTransfer, 1000), c.first);
    EXPECT_EQ(b, before) << "nothing of a bad answer reaches the buffer";
    EXPECT_TRUE(t->connectionClosed()) << "the device counts as removed";
    EXPECT_EQ(issue(*t, b, io::kTransfer, 1000), 19);
    EXPECT_EQ(calls, c.goodBefore + 1) << "nothing is sent on a closed connection";
  }
}

TEST(VirtualDevices, AnswerCutByTheWaitIsFinishedAndDroppedDuringTheNextRequest) {
  QTemporaryDir dir;
  const QString path = dir.path() + "/fake.sock";
  FakeDevice fake(path, [](std::uint32_t seq, const std::vector<std::uint8_t>& r) -> std::vector<Piece> {
    std::vector<std::uint8_t> data = r;
    if (!data.empty()) data.back() = std::uint8_t(seq);  // marks which answer filled the buffer
    const auto f = answerFrame(seq, seq == 2 ? 5 : 0, std::uint32_t(data.size()), data);
    if (seq != 1) return {{0, f}};
    // The first answer: half its header at once, the rest after the client gave up.
    return {{0, {f.begin(), f.begin() + 6}}, {200, {f.begin() + 6, f.end()}}};
  });
  auto t = openOk(path);
  ASSERT_TRUE(t);
  auto first = sizeRequest(0x86, 32);
  EXPECT_EQ(issue(*t, first, io::kSetTransferSize, 60), 110);
  EXPECT_EQ(first.back(), 0) << "untouched by the answer that came too late";
  auto second = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, second, io::kTransfer, 2000), 5) << "an error answer is passed on";
  EXPECT_EQ(second.back(), 2) << "the buffer as the device left it";
  auto third = transferRequest(0x86, 32);
  EXPECT_EQ(issue(*t, third, io::kTransfer, 2000), 0);
  EXPECT_EQ(third.back(), 3);
}

TEST(DeviceChangeMonitor, SocketsAppearingAndVanishingAreChanges) {
  RuntimeDir rt;
  const QString folder = rt.path() + "/later/qz418";  // its parent does not exist yet
  SystemDeviceChangeMonitor monitor(folder);
  QSignalSpy spy(&monitor, &DeviceChangeMonitor::devicesChanged);

  ASSERT_TRUE(QDir().mkpath(folder));
  ::chmod(QFile::encodeName(folder).constData(), 0700);
  {
    Sim sim(folder);
    ASSERT_TRUE(sim.ready());
    ASSERT_TRUE(spy.count() > 0 || spy.wait(5000)) << "created";
    QThread::msleep(100);
    QCoreApplication::processEvents();
    spy.clear();

    QFile other(folder + "/notes.txt");  // not a socket: no change of devices
    ASSERT_TRUE(other.open(QIODevice::WriteOnly));
    other.close();
    EXPECT_FALSE(spy.wait(300));

    sim.say("unplug");
    EXPECT_TRUE(spy.wait(5000)) << "removed";
    spy.clear();
    sim.say("plug");
    EXPECT_TRUE(spy.wait(5000)) << "plugged again";
    spy.clear();
  }
  EXPECT_TRUE(spy.count() > 0 || spy.wait(5000)) << "ended";
}

// A device that restarts while the program is busy may leave the folder looking as before (same
// name; ext4 hands out the same inode again). Every event on a ".sock" name is a change; the
// thousands of other files a folder may hold are not looked at.
TEST(DeviceChangeMonitor, EveryEventOnASocketNameIsAChange) {
  RuntimeDir rt;
  SystemDeviceChangeMonitor monitor(rt.folder());
  ASSERT_TRUE(monitor.watchesFolder());
  QSignalSpy spy(&monitor, &DeviceChangeMonitor::devicesChanged);
  const QByteArray sock = QFile::encodeName(rt.folder() + "/sim0.sock");
  const QByteArray aside = QFile::encodeName(rt.folder() + "/.sim0.1.tmp");
  makeStaleSocket(rt.folder() + "/sim0.sock");
  ASSERT_TRUE(spy.wait(5000));
  QCoreApplication::processEvents();
  spy.clear();

  // Unrelated files, then the device goes and comes back as the same file, all before the
  // program looks: one notification.
  for (int i = 0; i < 10000; ++i) {
    QFile f(rt.folder() + QStringLiteral("/data%1.txt").arg(i));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  ASSERT_EQ(::rename(sock.constData(), aside.constData()), 0);
  ASSERT_EQ(::rename(aside.constData(), sock.constData()), 0);
  QElapsedTimer t;
  t.start();
  ASSERT_TRUE(spy.wait(5000));
  std::printf("[          ] a restart among 10000 other files noticed in %lld ms\n",
              static_cast<long long>(t.elapsed()));
  QThread::msleep(50);
  QCoreApplication::processEvents();
  EXPECT_EQ(spy.count(), 1) << "one notification for the whole batch";
  spy.clear();

  QFile::remove(rt.folder() + "/data0.txt");
  EXPECT_FALSE(spy.wait(300)) << "other files are no devices";
  ASSERT_EQ(::unlink(sock.constData()), 0);
  EXPECT_TRUE(spy.wait(5000)) << "deleted";
}

TEST(DeviceChangeMonitor, MakesAMissingFolderPrivate) {
  RuntimeDir rt;
  auto monitor = makeSystemChangeMonitor();
  struct stat st {};
  ASSERT_EQ(::lstat(QFile::encodeName(rt.folder()).constData(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  QSignalSpy spy(monitor.get(), &DeviceChangeMonitor::devicesChanged);
  Sim sim{QString()};
  ASSERT_TRUE(sim.ready());
  EXPECT_TRUE(spy.count() > 0 || spy.wait(5000));
}
