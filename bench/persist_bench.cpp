// SaveFormState and LoadFormState of a window with about 120 persistent controls (the size of
// the control panel), in a state file that also holds two other windows' sections.
// Run: build/bench_persist_bench  (median of 10 repetitions, milliseconds)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <memory>

#include "persist/form_state.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"

namespace {

template <typename T>
T* make(QWidget* parent, const QString& name) {
  T* w = new T(parent);
  w->setObjectName(name);
  return w;
}

// Two channel pages of 60 controls each, as the panel lays them out, plus a page control.
std::unique_ptr<QWidget> makePanel(const QString& name) {
  auto window = std::make_unique<QWidget>();
  window->setObjectName(name);
  window->resize(900, 700);
  auto* pages = make<TPageControl>(window.get(), name + "PageControl");
  for (int ch = 1; ch <= 2; ++ch) {
    auto* page = new QWidget;
    pages->addTab(page, QStringLiteral("Ch%1").arg(ch));
    const QString p = QStringLiteral("Ch%1").arg(ch);
    for (int i = 0; i < 20; ++i)
      make<TRealSpinEdit>(page, p + QStringLiteral("_Real%1").arg(i))->setValue(i * 1.25L - 3);
    for (int i = 0; i < 10; ++i) make<TIntSpinEdit>(page, p + QStringLiteral("_Int%1").arg(i))->setValue(i);
    for (int i = 0; i < 12; ++i)
      make<QCheckBox>(page, p + QStringLiteral("_Check%1").arg(i))->setChecked(i % 2);
    for (int i = 0; i < 6; ++i) {
      auto* r = make<TRadioGroup>(page, p + QStringLiteral("_Radio%1").arg(i));
      r->setItems({"a", "b", "c"});
      r->setItemIndex(i % 3);
    }
    for (int i = 0; i < 6; ++i)
      make<QLineEdit>(page, p + QStringLiteral("_Edit%1").arg(i))->setText("  ??? В");
    for (int i = 0; i < 5; ++i) make<QSlider>(page, p + QStringLiteral("_Slider%1").arg(i))->setValue(i * 10);
  }
  return window;
}

struct StateFile {
  QTemporaryDir dir;
  QString path = dir.filePath("QZ418.ini");
  std::unique_ptr<QWidget> panel = makePanel("MainForm");
  StateFile() {
    SaveFormState(path, makePanel("RxDrawForm").get());
    SaveFormState(path, panel.get());
    SaveFormState(path, makePanel("LinkForm").get());
  }
};

// Created on first use and kept to the end of the process.
void ensureApplication() {
  static int argc = 1;
  static char name[] = "bench_persist_bench";
  static char* argv[] = {name, nullptr};
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication* app = new QApplication(argc, argv);
  (void)app;
}

void BM_SaveFormState(benchmark::State& state) {
  ensureApplication();
  StateFile f;
  for (auto _ : state) benchmark::DoNotOptimize(SaveFormState(f.path, f.panel.get()));
}

void BM_LoadFormState(benchmark::State& state) {
  ensureApplication();
  StateFile f;
  for (auto _ : state) benchmark::DoNotOptimize(LoadFormState(f.path, f.panel.get()));
}

BENCHMARK(BM_SaveFormState)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);
BENCHMARK(BM_LoadFormState)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
