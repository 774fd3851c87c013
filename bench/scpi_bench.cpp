// Remote control under load, in one run against its own qz418-sim:
//  1. *IDN? round trip over the loopback socket, 10 000 times, while the exchange cycles;
//  2. the exchange cycle period in alternating blocks: idle; with a client sending 1 000
//     set-and-query pairs per second (SOUR1:PULS:AMPL x;AMPL?); with a client that keeps
//     sending TRACe:DATA? and never reads an answer;
//  3. PyVISA with its default settings (Debian's python3-pyvisa-py, Nagle on): set-and-query
//     pairs per second, written and queried as two messages.
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
#include "shell/program_windows.h"

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
  explicit Client(quint16 port, bool noDelay = true) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    if (noDelay) ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
  // Sends without reading an answer; blocks once the server stops reading.
  bool send(const std::string& text) { return ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size()); }
  // Unblocks a send() under way on another thread.
  void shutDown() { ::shutdown(fd_, SHUT_RDWR); }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

QString simProgram() {
  const QString fromEnv = qEnvironmentVariable("QZ418_SIM_BIN");
  return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/qz418-sim") : fromEnv;
}

// PyVISA as a station uses it: defaults but the terminations, a set and a query as two
// messages. Prints the pairs per second.
constexpr const char* kPyVisaClient = R"(
import sys, time
import pyvisa
inst = pyvisa.ResourceManager("@py").open_resource(
    "TCPIP::127.0.0.1::%s::SOCKET" % sys.argv[1], read_termination="\n", write_termination="\n")
n, t0 = 0, time.time()
while time.time() - t0 < float(sys.argv[2]):
    inst.write("SOUR1:PULS:AMPL %.1f" % (-(n % 600) / 10.0))
    inst.query("SOUR1:PULS:AMPL?")
    n += 1
print("%.0f" % (n / (time.time() - t0)))
)";

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
  TRxDrawForm rx(&main);
  TSchemaForm schema(&main, &rx);
  wireWindows({&main, &rx, &schema, nullptr});
  main.show();
  rx.show();

  std::vector<Clock::time_point> shown;
  bool recording = false;
  shown.reserve(std::size_t(seconds) * 100 + 100);
  LinkReceivers r;
  r.showStatus = [&](const std::array<std::uint8_t, 32>& report, std::uint32_t error) {
    if (recording && shown.size() < shown.capacity()) shown.push_back(Clock::now());
    main.ShowStatusReport(report, error);
  };
  r.showRx = [&rx](std::span<const std::uint16_t, 4096> samples) { rx.ShowRxBuffer(samples); };
  r.buildCommand = [&main, &rx](std::span<std::uint8_t, 64> packet) {
    main.BuildCommandPacket(packet);
    rx.PaintRxChart();
  };
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

  // 2. The cycle period idle, under 1 000 pairs per second and beside a client that does not
  // read, in alternating blocks of two seconds, so that the load of a shared machine drifting
  // over the run falls on all alike.
  enum class Load { Idle, Pairs, Unread };
  std::vector<double> idlePeriods, loadedPeriods, unreadPeriods;
  int totalPairs = 0;
  long long unreadSent = 0;
  auto block = [&](Load load, int ms) {
    shown.clear();
    recording = true;
    std::atomic<bool> stop{false};
    std::atomic<bool> finished{load == Load::Idle};
    std::atomic<int> pairs{0};
    std::atomic<long long> sent{0};
    std::thread client;
    std::unique_ptr<Client> unread;
    if (load == Load::Pairs) {
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
    } else if (load == Load::Unread) {
      unread = std::make_unique<Client>(port);
      client = std::thread([&] {
        // Many questions per system call: the client's own sending must not be what loads the
        // machine.
        std::string many;
        for (int i = 0; i < 1000; ++i) many += "TRAC:DATA?\n";
        while (!stop && unread->ok() && unread->send(many)) sent += 1000;
        finished = true;
      });
    }
    turn(ms);
    recording = false;
    stop = true;
    if (unread) unread->shutDown();
    // The client's last question needs the event loop for its answer.
    while (!finished) turn(5);
    if (client.joinable()) client.join();
    unread.reset();
    turn(50);  // the server lets the closed connection go
    totalPairs += pairs;
    unreadSent += sent;
    std::vector<double>& out =
        load == Load::Pairs ? loadedPeriods : load == Load::Unread ? unreadPeriods : idlePeriods;
    for (std::size_t i = 1; i < shown.size(); ++i)
      out.push_back(std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count());
  };
  for (int done2 = 0; done2 < seconds; done2 += 2) {
    block(Load::Idle, 2000);
    block(Load::Pairs, 2000);
    block(Load::Idle, 2000);
    block(Load::Unread, 2000);
  }
  const int blocksSeconds = (seconds + 1) / 2 * 2;
  auto show = [](const char* what, const std::vector<double>& d) {
    std::printf("cycle period %s: %zu periods, median %.3f ms, p95 %.3f ms, max %.3f ms\n", what, d.size(),
                percentile(d, 0.5), percentile(d, 0.95), d.empty() ? 0 : *std::max_element(d.begin(), d.end()));
  };

  // 3. PyVISA with its defaults.
  QString pyVisaResult;
  const QString python = QStringLiteral("/usr/bin/python3");
  if (QFile::exists(python)) {
    QProcess py;
    py.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    py.start(python, {QStringLiteral("-c"), QString::fromUtf8(kPyVisaClient), QString::number(port),
                      QString::number(std::min(seconds, 5))});
    if (py.waitForStarted(5000)) {
      while (py.state() != QProcess::NotRunning) turn(20);
      pyVisaResult = QString::fromUtf8(py.readAllStandardOutput()).trimmed();
    }
  }

  thread.terminate();
  thread.waitFor();
  sim.terminate();
  sim.waitForFinished(5000);

  std::printf("*IDN? round trip over %zu: median %.3f ms, p95 %.3f ms, max %.3f ms\n", rtt.size(),
              percentile(rtt, 0.5), percentile(rtt, 0.95), rtt.empty() ? 0 : *std::max_element(rtt.begin(), rtt.end()));
  show("idle  ", idlePeriods);
  show("loaded", loadedPeriods);
  show("unread", unreadPeriods);
  std::printf("client: %d pairs in %d s (%.0f per second)\n", totalPairs, blocksSeconds, totalPairs / double(blocksSeconds));
  std::printf("p95 moved by %.3f ms\n", percentile(loadedPeriods, 0.95) - percentile(idlePeriods, 0.95));
  std::printf("client that does not read: %lld TRACe:DATA? sent in %d s; p95 moved by %.3f ms\n", unreadSent,
              blocksSeconds, percentile(unreadPeriods, 0.95) - percentile(idlePeriods, 0.95));
  std::printf("PyVISA, default settings: %s set-and-query pairs per second\n",
              pyVisaResult.isEmpty() ? "(not run: no /usr/bin/python3 with pyvisa)" : qPrintable(pyVisaResult));
  return 0;
}
