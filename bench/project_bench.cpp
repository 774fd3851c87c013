// Saving and loading the whole set-up: the four windows' sections in one project file,
// as the panel's open and save buttons do. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench_project_bench
#include "base/number_text.h"
#include "panel/main_form.h"
#include "shell/project_files.h"
#include "shell/program_windows.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "usb/link_form.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

QString projectFile;
QList<QWidget*> gWindows;  // the four windows, set in main

void BM_SaveAllForms(benchmark::State& state) {
  for (auto _ : state) {
    if (!SaveAllForms(projectFile, gWindows)) state.SkipWithError("save failed");
  }
}
BENCHMARK(BM_SaveAllForms)->Unit(benchmark::kMillisecond);

void BM_LoadAllForms(benchmark::State& state) {
  SaveAllForms(projectFile, gWindows);
  for (auto _ : state) {
    if (!LoadAllForms(projectFile, gWindows)) state.SkipWithError("load failed");
  }
}
BENCHMARK(BM_LoadAllForms)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  setAppFormatSettings(FormatSettings::russian());
  QTemporaryDir dir;
  projectFile = dir.filePath("bench.qz4");
  TSchemaForm::stateFile = [&] { return dir.filePath("none.ini"); };
  TSchemaForm::scenesFile = [&] { return dir.filePath("Scenes.ini"); };
  TMainForm main;
  TRxDrawForm rx(&main);
  TSchemaForm schema(&main, &rx);
  TLinkForm link(LinkPlatform{{}, {}, {}, dir.filePath("none.ini")}, &main, &rx);
  const ProgramWindows windows{&main, &rx, &schema, &link};
  wireWindows(windows);
  gWindows = windows.list();
  main.saveStateOnClose = false;
  main.show();
  QCoreApplication::processEvents();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
