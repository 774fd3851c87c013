// Remote control under load, in one run against its own qz418-sim:
//  1. *IDN? round trip over the loopback socket, 10 000 times, while the exchange cycles;
//  2. the exchange cycle period, idle, then with a client sending 1 000 set-and-query pairs per
//     second (SOUR1:PULS:AMPL x;AMPL?), each for the measuring time.
// The windows, the exchange thread and the SCPI server run in this process as in the program.
//
//   QT_QPA_PLATFORM=offscreen build/bench_scpi_bench [--seconds=N]
// qz418-sim is looked for beside this program, or at $QZ418_SIM_BIN.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "platform/devices.h"
#include "remote/panel_instrument.h"
#include "remote/scpi_server.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "usb/pnp_info.h"
#include "usb/usb_thread.h"

namespace {

using Clock = std::chrono::steady_clock;

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// A blocking client on its own thread: the main thread must keep its event loop.
class Client {
 public:
  explicit Client(quint16 port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ok_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { ::close(fd_); }
  bool ok() const { return ok_; }
  std::string ask(const std::string& line) {
    const std::string out = line + "\n";
    if (::send(fd_, out.data(), out.size(), 0) != ssize_t(out.size())) return {};
    std::string got;
    char c = 0;
    while (::recv(fd_, &c, 1, 0) == 1 && c != '\n') got += c;
    return got;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

QString simProgram() {
  const QString fromEnv = qEnvironmentVariable("QZ418_SIM_BIN");
  return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/qz418-sim") : fromEnv;
}

// Runs the event loop for ms milliseconds.
void turn(int ms) {
  QTimer::singleShot(ms, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 10;
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) seconds = std::max(1, std::atoi(argv[i] + 10));
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir runtime;
  if (!runtime.isValid()) return 1;
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

  QApplication app(argc, argv);
  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedChannels);
  sim.start(simProgram(), {});
  if (!sim.waitForStarted(5000)) {
    std::fprintf(stderr, "scpi_bench: cannot start %s\n", qPrintable(simProgram()));
    return 1;
  }
  TUSBPnPList devices;
  for (int i = 0; i < 100 && devices.empty(); ++i) {
    QThread::msleep(50);
    FindSynthesizers(devices, makeSystemEnumerator().get());
  }
  if (devices.empty()) {
    std::fprintf(stderr, "scpi_bench: qz418-sim did not appear\n");
    return 1;
  }

  setAppFormatSettings(FormatSettings::fromSystem());
  TMainForm main;
  main.saveStateOnClose = false;
  TRxDrawForm rx;
  TSchemaForm schema;
  main.show();
  rx.show();

  std::vector<Clock::time_point> shown;
  bool recording = false;
  shown.reserve(std::size_t(seconds) * 100 + 100);
  LinkReceivers r;
  r.showStatus = [&](const std::array<std::uint8_t, 32>& report, std::uint32_t error) {
    if (recording && shown.size() < shown.capacity()) shown.push_back(Clock::now());
    MainForm->ShowStatusReport(report, error);
  };
  r.showRx = [](std::span<const std::uint16_t, 4096> samples) { RxDrawForm->ShowRxBuffer(samples); };
  r.buildCommand = [](std::span<std::uint8_t, 64> packet) { MainForm->BuildCommandPacket(packet); };
  TUSB_Thread thread(r, [](const QString& path, int* error) { return openDeviceTransport(path, error); });
  if (!thread.OpenDeviceHandle(devices.front()->devicePath)) return 1;
  thread.setWaitTime(400);
  thread.resume();

  PanelInstrument instrument({&main, &rx, &schema, nullptr});
  ScpiServer server(instrument);
  if (!server.listen(QHostAddress::LocalHost, 0)) return 1;
  const quint16 port = server.port();
  turn(500);  // configuration and the first paint

  // 1. *IDN? round trips.
  std::vector<double> rtt;
  std::atomic<bool> done{false};
  std::thread idn([&] {
    Client c(port);
    rtt.reserve(10000);
    for (int i = 0; i < 10000 && c.ok(); ++i) {
      const auto t0 = Clock::now();
      c.ask("*IDN?");
      rtt.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    done = true;
  });
  while (!done) turn(50);
  idn.join();

  // 2. The cycle period idle and under 1 000 pairs per second, in alternating blocks of two
  // seconds, so that the load of a shared machine drifting over the run falls on both alike.
  std::vector<double> idlePeriods, loadedPeriods;
  int totalPairs = 0;
  auto block = [&](bool load, int ms) {
    shown.clear();
    recording = true;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{!load};
    std::atomic<int> pairs{0};
    std::thread client;
    if (load) {
      client = std::thread([&] {
        Client c(port);
        auto next = Clock::now();
        for (int i = 0; !stop && c.ok(); ++i) {
          c.ask("SOUR1:PULS:AMPL " + std::to_string(-(i % 600) / 10.0) + ";AMPL?");
          ++pairs;
          next += std::chrono::milliseconds(1);
          std::this_thread::sleep_until(next);
        }
        finished = true;
      });
    }
    turn(ms);
    recording = false;
    stop = true;
    // The client's last question needs the event loop for its answer.
    while (!finished) turn(5);
    if (client.joinable()) client.join();
    totalPairs += pairs;
    std::vector<double>& out = load ? loadedPeriods : idlePeriods;
    for (std::size_t i = 1; i < shown.size(); ++i)
      out.push_back(std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count());
  };
  for (int done2 = 0; done2 < seconds; done2 += 2) {
    block(false, 2000);
    block(true, 2000);
  }
  const int blocksSeconds = (seconds + 1) / 2 * 2;
  auto show = [](const char* what, const std::vector<double>& d) {
    std::printf("cycle period %s: %zu periods, median %.3f ms, p95 %.3f ms, max %.3f ms\n", what, d.size(),
                percentile(d, 0.5), percentile(d, 0.95), d.empty() ? 0 : *std::max_element(d.begin(), d.end()));
  };

  thread.terminate();
  thread.waitFor();
  sim.terminate();
  sim.waitForFinished(5000);

  std::printf("*IDN? round trip over %zu: median %.3f ms, p95 %.3f ms, max %.3f ms\n", rtt.size(),
              percentile(rtt, 0.5), percentile(rtt, 0.95), rtt.empty() ? 0 : *std::max_element(rtt.begin(), rtt.end()));
  show("idle  ", idlePeriods);
  show("loaded", loadedPeriods);
  std::printf("client: %d pairs in %d s (%.0f per second)\n", totalPairs, blocksSeconds, totalPairs / double(blocksSeconds));
  std::printf("p95 moved by %.3f ms\n", percentile(loadedPeriods, 0.95) - percentile(idlePeriods, 0.95));
  return 0;
}
