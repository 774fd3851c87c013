// Speed of the receive view's per-cycle work: ShowRxBuffer runs on the main thread every
// exchange cycle (~20 ms) with 4096 samples. Measured at the design window size, shown:
//   QT_QPA_PLATFORM=offscreen build/bench_rx_view_bench
//   xvfb-run -a build/bench_rx_view_bench
// Each call is timed on its own, so the median and the 95th percentile of single calls are
// reported (counters median_ms, p95_ms). The heap allocations of the calling thread are
// counted through a replaced global operator new (counter allocs_per_call, after the first call).
//
// What the figures include: conversion, filter, the trace rewrite and the chart's replot, which
// draws the whole plot into its buffer synchronously (QCustomPlot::replot with the refresh
// left queued). "AndPaint" adds the widget's paint event (the buffer copied to the window) by
// processing the events the call left behind, as the event loop would before the next cycle.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "rxview/rx_chart.h"
#include "rxview/rx_draw_form.h"
#include "rxview/rx_signal.h"
#include "rxview/rx_track_bar.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"

// ---- Allocation counting ----------------------------------------------------------------------------------

namespace {
thread_local long tAllocations = 0;  // of the thread that allocates: the main thread's are the ones wanted
}

void* operator new(std::size_t n) {
  ++tAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ++tAllocations;
  return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using Buffer = std::array<std::uint16_t, rx::kSamples>;

// Sixteen live-looking buffers: a positive pulse of varying height with noise.
const std::vector<Buffer>& buffers() {
  static const std::vector<Buffer> all = [] {
    std::vector<Buffer> v(16);
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0, 3);
    for (std::size_t k = 0; k < v.size(); ++k) {
      for (int n = 0; n < rx::kSamples; ++n) {
        const double t = n - 900;
        double shape = t < 0 ? 0 : t < 20 ? t / 20 : t < 50 ? 1 : t < 70 ? (70 - t) / 20 : 0;
        const double s = 255 + (150 + 5.0 * k) * shape + noise(rng);
        v[k][n] = std::uint16_t(std::clamp(s, 0.0, 65535.0));
      }
    }
    return v;
  }();
  return all;
}

TRxDrawForm* gView = nullptr;

// Paint events of the chart's plot widget: shows that the "+ paint" rows really paint.
struct PaintCounter : QObject {
  long paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
} gPaints;

double threadCpuMs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

// Wall-clock median, 95th percentile and maximum of single calls, the same for the thread's
// CPU time (which leaves out the time the machine gave to other processes).
void report(benchmark::State& state, std::vector<double>& ms, std::vector<double>& cpu, long allocations,
            long calls) {
  auto percentiles = [&](std::vector<double>& v, const char* prefix) {
    if (v.empty()) return;
    std::sort(v.begin(), v.end());
    state.counters[std::string(prefix) + "median_ms"] = v[v.size() / 2];
    state.counters[std::string(prefix) + "p95_ms"] = v[std::min(v.size() - 1, v.size() * 95 / 100)];
  };
  percentiles(ms, "");
  percentiles(cpu, "cpu_");
  if (!ms.empty()) state.counters["max_ms"] = ms.back();
  state.counters["allocs_per_call"] = calls > 0 ? double(allocations) / double(calls) : 0.0;
}

void BM_ConvertAndSmooth(benchmark::State& state) {
  rx::RxData data{};
  std::size_t k = 0;
  rx::convertSamples(buffers()[0], data);  // the first call is not counted
  rx::smoothInPlace(data);
  long allocations = 0, calls = 0;
  std::vector<double> ms, cpu;
  ms.reserve(1 << 20);
  cpu.reserve(1 << 20);
  for (auto _ : state) {
    const Buffer& b = buffers()[k++ % buffers().size()];
    const long before = tAllocations;
    const double c0 = threadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    rx::convertSamples(b, data);
    rx::smoothInPlace(data);
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = threadCpuMs();
    allocations += tAllocations - before;
    ++calls;
    if (ms.size() < ms.capacity()) {
      ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      cpu.push_back(c1 - c0);
    }
    benchmark::DoNotOptimize(data);
  }
  report(state, ms, cpu, allocations, calls);
}
BENCHMARK(BM_ConvertAndSmooth);

// page: 0 "Маркеры", 1 "Импульс", 2 "Zoom" (the design page). paint: also process the events.
void showRxBuffer(benchmark::State& state, int page, bool paint) {
  gView->MesuarePageControl->setActivePageIndex(page);
  gView->MesuarePageControlChange();
  gView->ShowRxBuffer(buffers()[0]);  // the first call is not counted
  QCoreApplication::processEvents();
  std::size_t k = 1;
  long allocations = 0, calls = 0;
  const long paints = gPaints.paints;
  std::vector<double> ms, cpu;
  ms.reserve(100000);
  cpu.reserve(100000);
  for (auto _ : state) {
    const Buffer& b = buffers()[k++ % buffers().size()];
    const long before = tAllocations;
    const double c0 = threadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    gView->ShowRxBuffer(b);
    if (paint) QCoreApplication::processEvents();
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = threadCpuMs();
    allocations += tAllocations - before;
    ++calls;
    if (ms.size() < ms.capacity()) {
      ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      cpu.push_back(c1 - c0);
    }
  }
  report(state, ms, cpu, allocations, calls);
  state.counters["paints_per_call"] = calls > 0 ? double(gPaints.paints - paints) / double(calls) : 0.0;
}

void BM_ShowRxBuffer_Zoom(benchmark::State& s) { showRxBuffer(s, 2, false); }
// The window closed (the usual case): everything but the drawing.
void BM_ShowRxBuffer_Hidden(benchmark::State& s) {
  gView->hide();
  showRxBuffer(s, 2, false);
  gView->show();
  QCoreApplication::processEvents();
}
void BM_ShowRxBuffer_Pulse(benchmark::State& s) { showRxBuffer(s, 1, false); }
void BM_ShowRxBuffer_Markers(benchmark::State& s) { showRxBuffer(s, 0, false); }
void BM_ShowRxBufferAndPaint_Zoom(benchmark::State& s) { showRxBuffer(s, 2, true); }
void BM_ShowRxBufferAndPaint_Pulse(benchmark::State& s) { showRxBuffer(s, 1, true); }
// The chart's replot alone, for comparison: the trace nudged so that every replot has news.
void BM_ChartReplotOnly(benchmark::State& state) {
  gView->MesuarePageControl->setActivePageIndex(2);
  gView->MesuarePageControlChange();
  gView->ShowRxBuffer(buffers()[0]);
  std::vector<double> ms, cpu;
  ms.reserve(100000);
  cpu.reserve(100000);
  double nudge = 0;
  for (auto _ : state) {
    gView->Series1->setY(100, nudge += 0.01);
    const double c0 = threadCpuMs();
    const auto t0 = std::chrono::steady_clock::now();
    gView->RxBufferChart->replotNow();
    const auto t1 = std::chrono::steady_clock::now();
    const double c1 = threadCpuMs();
    if (ms.size() < ms.capacity()) {
      ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
      cpu.push_back(c1 - c0);
    }
  }
  report(state, ms, cpu, 0, 0);
}
BENCHMARK(BM_ChartReplotOnly)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBuffer_Zoom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBuffer_Hidden)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBuffer_Pulse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBuffer_Markers)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBufferAndPaint_Zoom)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ShowRxBufferAndPaint_Pulse)->Unit(benchmark::kMillisecond);

// --demo=SECONDS[,PAGE]: no measurement. The view alone at the screen's top left, fed a fresh
// buffer every 20 ms as the exchange cycle would, on the given page (default 1, "Импульс"),
// then the program ends; for looking at it and for screenshots.
int runDemo(TRxDrawForm& view, const char* arg) {
  int seconds = 10, page = 1;
  std::sscanf(arg, "%d,%d", &seconds, &page);
  // A wider pulse early in a shorter span than the measured buffers, so that the width
  // arrows stand out: 0.65 us at half height, about 210 V.
  std::vector<Buffer> demo(16);
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 2);
  for (std::size_t k = 0; k < demo.size(); ++k)
    for (int n = 0; n < rx::kSamples; ++n) {
      const double t = n - 300;
      const double shape = t < 0 ? 0 : t < 30 ? t / 30 : t < 130 ? 1 : t < 160 ? (160 - t) / 30 : 0;
      demo[k][n] =
          std::uint16_t(std::clamp(255 + (175 + 0.5 * double(k)) * shape + noise(rng), 0.0, 65535.0));
    }
  view.WidthTrackBar->setValue(12);
  view.move(0, 0);
  view.MesuarePageControl->setActivePageIndex(page);
  view.MesuarePageControlChange();
  std::size_t k = 0;
  QTimer cycle;
  QObject::connect(&cycle, &QTimer::timeout, [&] { view.ShowRxBuffer(demo[k++ % demo.size()]); });
  cycle.start(20);
  QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setAppFormatSettings(FormatSettings::russian());
  TMainForm main;
  main.SyncLevelPBSpinEdit->setValue(20);
  TRxDrawForm view(&main);
  gView = &view;
  view.show();
  QElapsedTimer wait;
  wait.start();
  while (!(view.windowHandle() && view.windowHandle()->isExposed()) && wait.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  for (int i = 0; i < 10; ++i) QCoreApplication::processEvents();
  if (QWidget* plot = view.RxBufferChart->findChild<QWidget*>()) plot->installEventFilter(&gPaints);
  for (int i = 1; i < argc; ++i)
    if (std::strncmp(argv[i], "--demo=", 7) == 0) return runDemo(view, argv[i] + 7);
  std::printf("platform %s, view %dx%d, chart %dx%d\n", qPrintable(QGuiApplication::platformName()),
              view.width(), view.height(), view.RxBufferChart->width(), view.RxBufferChart->height());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
