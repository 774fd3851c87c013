// The exchange cycle against the virtual synthesizer: its period (the 20 ms pause is the floor)
// and the main thread's busy time per cycle, with the real control panel and receive view on
// the receiving end of the hand-overs. Starts its own qz418-sim in a private runtime folder.
//
//   QT_QPA_PLATFORM=offscreen build/bench_link_cycle_bench [--seconds=N]
// qz418-sim is looked for beside this program, or at $QZ418_SIM_BIN.
#include "base/number_text.h"
#include "panel/main_form.h"
#include "platform/devices.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "usb/pnp_info.h"
#include "usb/usb_thread.h"
#include "shell/program_windows.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The windows the cycles hand over to (set in main).
TMainForm* gMain = nullptr;
TRxDrawForm* gRx = nullptr;

using Clock = std::chrono::steady_clock;

int measureSeconds = 12;
QString devicePath;

struct CycleFigures {
  double medianMs = 0, p95Ms = 0, minMs = 0, maxMs = 0;
  // Alternating blocks: the median period of the cycles with the windows and with empty
  // receivers, and the lowest and highest median of a single block of each.
  double windowsMedianMs = 0, emptyMedianMs = 0;
  double windowsBlockMinMs = 0, windowsBlockMaxMs = 0, emptyBlockMinMs = 0, emptyBlockMaxMs = 0;
  double busyUsPerCycle = 0;
  double windowsUsPerCycle = 0;  // of which in the panel's and the receive view's own code
  std::size_t cycles = 0;
  std::uint32_t lastError = 0;
};

double percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

constexpr int kBlockMs = 1000;  // one block of alternating runs

// Runs the exchange for the measuring time with the event loop of this (main) thread turning.
// alternate: the receivers switch between the windows and empty ones every kBlockMs, so that
// both are measured in one run under the same load of the machine.
CycleFigures runExchange(bool windowsAtStart, bool alternate = false) {
  bool windows = windowsAtStart;
  std::vector<Clock::time_point> shown;
  std::vector<int> block;  // per shown report: the block it came in (even: windows)
  int blockNumber = 0;
  shown.reserve(std::size_t(measureSeconds) * 60 + 100);
  block.reserve(shown.capacity());
  Clock::duration inWindows{};
  std::uint32_t lastError = 0;

  LinkReceivers r;
  r.showStatus = [&](const std::array<std::uint8_t, 32>& report, std::uint32_t error) {
    const auto t0 = Clock::now();
    if (shown.size() < shown.capacity()) {
      shown.push_back(t0);
      block.push_back(blockNumber);
    }
    lastError = error;
    if (windows) gMain->ShowStatusReport(report, error);
    inWindows += Clock::now() - t0;
  };
  r.showRx = [&](std::span<const std::uint16_t, 4096> samples) {
    const auto t0 = Clock::now();
    if (windows) gRx->ShowRxBuffer(samples);
    inWindows += Clock::now() - t0;
  };
  r.buildCommand = [&](std::span<std::uint8_t, 64> packet) {
    const auto t0 = Clock::now();
    if (windows) {
      gMain->BuildCommandPacket(packet);
      gRx->PaintRxChart();  // as the program's receiver: the chart paints after this returns
    }
    inWindows += Clock::now() - t0;
  };

  TUSB_Thread thread(r, [](const QString& path, int* error) { return openDeviceTransport(path, error); });
  if (!thread.OpenDeviceHandle(devicePath)) {
    std::fprintf(stderr, "link_cycle_bench: cannot open %s (errno %d)\n", qPrintable(devicePath),
                 thread.openError());
    return {};
  }
  thread.setWaitTime(400);
  thread.resume();
  // The first cycles (configuration, first paint of the chart) are left out of the figures.
  std::uint64_t stepsAtStart = 0;
  std::chrono::nanoseconds busyAtStart{};
  QTimer blocks;
  QObject::connect(&blocks, &QTimer::timeout, [&] {
    windows = !windows;
    ++blockNumber;
  });
  QTimer::singleShot(500, [&] {
    shown.clear();
    block.clear();
    if (alternate) blocks.start(kBlockMs);
    inWindows = {};
    stepsAtStart = thread.stepsRun();
    busyAtStart = thread.mainThreadBusy();
  });
  QTimer::singleShot(500 + measureSeconds * 1000, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  const std::uint64_t steps = thread.stepsRun() - stepsAtStart;
  const auto busy = thread.mainThreadBusy() - busyAtStart;
  thread.terminate();
  thread.waitFor();

  CycleFigures f;
  std::vector<double> periods;
  for (std::size_t i = 1; i < shown.size(); ++i)
    periods.push_back(std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count());
  f.cycles = shown.size();
  f.medianMs = percentile(periods, 0.5);
  f.p95Ms = percentile(periods, 0.95);
  f.minMs = periods.empty() ? 0 : *std::min_element(periods.begin(), periods.end());
  f.maxMs = periods.empty() ? 0 : *std::max_element(periods.begin(), periods.end());
  const double cycles = double(steps) / 6.0;  // six main-thread steps per cycle
  f.busyUsPerCycle = cycles > 0 ? std::chrono::duration<double, std::micro>(busy).count() / cycles : 0;
  f.windowsUsPerCycle =
      f.cycles > 0 ? std::chrono::duration<double, std::micro>(inWindows).count() / double(f.cycles) : 0;
  f.lastError = lastError;
  if (alternate) {
    // A period belongs to a block when both of its reports came in it.
    std::vector<std::vector<double>> perBlock(std::size_t(blockNumber) + 1);
    std::vector<double> withWindows, empty;
    for (std::size_t i = 1; i < shown.size(); ++i) {
      if (block[i] != block[i - 1]) continue;
      const double ms = std::chrono::duration<double, std::milli>(shown[i] - shown[i - 1]).count();
      perBlock[std::size_t(block[i])].push_back(ms);
      ((block[i] % 2 == 0) == windowsAtStart ? withWindows : empty).push_back(ms);
    }
    f.windowsMedianMs = percentile(withWindows, 0.5);
    f.emptyMedianMs = percentile(empty, 0.5);
    f.windowsBlockMinMs = f.emptyBlockMinMs = 1e9;
    for (std::size_t b = 0; b < perBlock.size(); ++b) {
      if (perBlock[b].size() < 5) continue;  // a block cut short by the end of the run
      const double m = percentile(perBlock[b], 0.5);
      const bool w = (b % 2 == 0) == windowsAtStart;
      double& lo = w ? f.windowsBlockMinMs : f.emptyBlockMinMs;
      double& hi = w ? f.windowsBlockMaxMs : f.emptyBlockMaxMs;
      lo = std::min(lo, m);
      hi = std::max(hi, m);
    }
  }
  return f;
}

void report(benchmark::State& state, const CycleFigures& f) {
  state.SetIterationTime(measureSeconds);
  state.counters["cycles"] = double(f.cycles);
  state.counters["period_median_ms"] = f.medianMs;
  state.counters["period_p95_ms"] = f.p95Ms;
  state.counters["period_min_ms"] = f.minMs;
  state.counters["period_max_ms"] = f.maxMs;
  state.counters["main_busy_us_per_cycle"] = f.busyUsPerCycle;
  state.counters["in_windows_us_per_cycle"] = f.windowsUsPerCycle;
  if (f.lastError) state.SkipWithError("the simulator did not answer");
}

// The whole cycle as the program runs it: the panel decodes the status, the receive view
// converts, smooths and draws 4096 samples, the panel builds the packet.
void BM_LinkCycleWithWindows(benchmark::State& state) {
  for (auto _ : state) report(state, runExchange(true));
}
BENCHMARK(BM_LinkCycleWithWindows)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// The same cycle with empty receivers: the transfers, the hand-overs and the pause alone.
void BM_LinkCycleHandOversOnly(benchmark::State& state) {
  for (auto _ : state) report(state, runExchange(false));
}
BENCHMARK(BM_LinkCycleHandOversOnly)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

// Both in one run, in alternating blocks of one second: what the windows add to the period,
// free of the drift of the machine's load between two runs. The chart is painted after the
// cycle's last hand-over, in the pause, so the period with the windows should stay within
// a few tenths of a millisecond of the empty receivers'.
void BM_LinkCycleAlternatingBlocks(benchmark::State& state) {
  for (auto _ : state) {
    const CycleFigures f = runExchange(true, true);
    report(state, f);
    state.counters["windows_median_ms"] = f.windowsMedianMs;
    state.counters["empty_median_ms"] = f.emptyMedianMs;
    state.counters["windows_minus_empty_ms"] = f.windowsMedianMs - f.emptyMedianMs;
    state.counters["windows_block_median_min_ms"] = f.windowsBlockMinMs;
    state.counters["windows_block_median_max_ms"] = f.windowsBlockMaxMs;
    state.counters["empty_block_median_min_ms"] = f.emptyBlockMinMs;
    state.counters["empty_block_median_max_ms"] = f.emptyBlockMaxMs;
  }
}
BENCHMARK(BM_LinkCycleAlternatingBlocks)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

QString simProgram() {
  const QString fromEnv = qEnvironmentVariable("QZ418_SIM_BIN");
  return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/qz418-sim") : fromEnv;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) measureSeconds = std::max(1, std::atoi(argv[i] + 10));
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  // A private runtime folder: the simulator's socket goes there, and no other copy is seen.
  QTemporaryDir runtime;
  if (!runtime.isValid()) return 1;
  QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

  QApplication app(argc, argv);
  QProcess sim;
  sim.setProcessChannelMode(QProcess::ForwardedChannels);
  sim.start(simProgram(), {});
  if (!sim.waitForStarted(5000)) {
    std::fprintf(stderr, "link_cycle_bench: cannot start %s\n", qPrintable(simProgram()));
    return 1;
  }
  TUSBPnPList devices;
  for (int i = 0; i < 100 && devices.empty(); ++i) {
    QThread::msleep(50);
    FindSynthesizers(devices, makeSystemEnumerator().get());
  }
  if (devices.empty()) {
    std::fprintf(stderr, "link_cycle_bench: qz418-sim did not appear\n");
    return 1;
  }
  devicePath = devices.front()->devicePath;

  setAppFormatSettings(FormatSettings::fromSystem());
  TMainForm main;
  main.saveStateOnClose = false;
  TRxDrawForm rx(&main);
  TSchemaForm schema(&main, &rx);
  wireWindows({&main, &rx, &schema, nullptr});
  gMain = &main;
  gRx = &rx;
  main.show();
  rx.show();
  QCoreApplication::processEvents();

  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  sim.terminate();
  sim.waitForFinished(5000);
  return 0;
}
