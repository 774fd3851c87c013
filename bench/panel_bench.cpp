// Speed of the control panel's per-cycle work: building the command packet from the
// controls and showing a status report (both run on the main thread every ~20 ms).
// Run offscreen: QT_QPA_PLATFORM=offscreen build/bench_panel_bench
#include "base/number_text.h"
#include "panel/command_packet.h"
#include "panel/main_form.h"
#include "panel/status_report.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "shell/program_windows.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {

TMainForm* gMain = nullptr;  // set in main

void BM_BuildCommandPacket(benchmark::State& state) {
  std::array<std::uint8_t, 64> packet{};
  for (auto _ : state) {
    gMain->BuildCommandPacket(packet);
    benchmark::DoNotOptimize(packet);
  }
}
BENCHMARK(BM_BuildCommandPacket);

void BM_BuildCommandPacketPure(benchmark::State& state) {
  const PanelSettings settings = gMain->readPanelSettings();
  std::array<std::uint8_t, 64> packet{};
  for (auto _ : state) {
    buildCommandPacket(settings, packet);
    benchmark::DoNotOptimize(packet);
  }
}
BENCHMARK(BM_BuildCommandPacketPure);

void BM_ShowStatusReport(benchmark::State& state) {
  std::array<std::uint8_t, 32> r{0x6C, 0x09, 0x00, 0xFF, 0xFF, 0xFF, 0x03, 0x33, 0x33, 0xC4, 0x71, 0xCD,
                                 0x03, 0x33, 0x33, 0x00, 0x03, 0xE8};
  std::uint8_t n = 0;
  for (auto _ : state) {
    r[17] = n++;  // a changing probe frequency, as from a live device
    gMain->ShowStatusReport(r, 0);
  }
}
BENCHMARK(BM_ShowStatusReport);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setAppFormatSettings(FormatSettings::russian());
  TMainForm main;
  TRxDrawForm rx(&main);
  TSchemaForm schema(&main, &rx);
  wireWindows({&main, &rx, &schema, nullptr});
  gMain = &main;
  main.show();
  QCoreApplication::processEvents();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
