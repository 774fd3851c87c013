// The scenario file Scenes.ini: LoadScenario (ten sections read, scene 1 applied to the panel)
// and SaveScenario (ten sections written) with the real panel, receive view and scenario
// window; and what the nine hidden scene pages cost at start.
// Run: build/bench_scenes_bench  (median of 10 repetitions, milliseconds)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "panel/main_form.h"
#include "rxview/rx_draw_form.h"
#include "scenes/scena_form.h"
#include "scenes/schema_form.h"
#include "shell/program_windows.h"

namespace {

struct Program {
  QTemporaryDir dir;
  QString scenes = dir.filePath("Scenes.ini");
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TRxDrawForm> rx;
  std::unique_ptr<TSchemaForm> schema;

  Program() {
    TSchemaForm::stateFile = [this] { return dir.filePath("qz418.ini"); };
    TSchemaForm::scenesFile = [this] { return scenes; };
    main = std::make_unique<TMainForm>();
    main->saveStateOnClose = false;
    rx = std::make_unique<TRxDrawForm>(main.get());
    schema = std::make_unique<TSchemaForm>(main.get(), rx.get());
    wireWindows({main.get(), rx.get(), schema.get(), nullptr});
    schema->SaveScenario(scenes);
  }
  ~Program() {
    schema.reset();
    rx.reset();
    main.reset();
    TSchemaForm::stateFile = nullptr;
    TSchemaForm::scenesFile = nullptr;
  }
};

void BM_LoadScenesIni(benchmark::State& state) {
  Program p;
  for (auto _ : state) benchmark::DoNotOptimize(p.schema->LoadScenario(p.scenes));
}

void BM_SaveScenesIni(benchmark::State& state) {
  Program p;
  for (auto _ : state) benchmark::DoNotOptimize(p.schema->SaveScenario(p.scenes));
}

// The whole start of the scenario window with Scenes.ini present.
void BM_CreateSchemaForm(benchmark::State& state) {
  Program p;
  for (auto _ : state) {
    p.schema.reset();
    p.schema = std::make_unique<TSchemaForm>(p.main.get(), p.rx.get());
  }
}

// The nine scene pages alone.
void BM_CreateNineScenePages(benchmark::State& state) {
  QWidget owner;
  for (auto _ : state) {
    std::unique_ptr<TScenaForm> pages[9];
    for (int n = 0; n < 9; ++n) pages[n] = std::make_unique<TScenaForm>(&owner, n + 1);
    benchmark::DoNotOptimize(pages);
  }
}

BENCHMARK(BM_LoadScenesIni)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_SaveScenesIni)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_CreateSchemaForm)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_CreateNineScenePages)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(10)
    ->ReportAggregatesOnly(true);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  benchmark::Initialize(&argc, argv);
  QApplication app(argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
