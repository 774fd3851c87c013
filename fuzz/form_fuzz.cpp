// libFuzzer target: any bytes as the file LoadFormState reads into a window that holds every
// kind of stored control. No crash, no hang, no sanitizer report; a float that fails stops the
// load with one message.

#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QToolButton>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "base/number_text.h"
#include "persist/extra_controls.h"
#include "persist/form_state.h"
#include "widgets/bin_hex_edit.h"
#include "widgets/dialogs.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"

namespace {

int gMessages = 0;

// Message boxes would wait for a click: count them instead.
class SilentDialogs final : public Dialogs {
 public:
  void information(QWidget*, const QString&, const QString&) override { ++gMessages; }
  void warning(QWidget*, const QString&, const QString&) override { ++gMessages; }
  bool warningYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool confirmYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool informationYesNo(QWidget*, const QString&, const QString&) override { return false; }
  QString openFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString saveFile(QWidget*, const FileDialogRequest&) override { return {}; }
};

template <typename T>
T* make(QWidget* parent, const char* name) {
  T* w = new T(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

std::unique_ptr<QWidget> makeWindow() {
  auto window = std::make_unique<QWidget>();
  QWidget* w = window.get();
  w->setObjectName("Fuzz");
  w->resize(300, 200);
  make<QLineEdit>(w, "Edit");
  make<TSpinEdit>(w, "Spin")->setMaxValue(100);
  make<TIntSpinEdit>(w, "IntSpin");
  make<QCheckBox>(w, "Check");
  make<QSlider>(w, "Slider");
  auto* speed = make<QToolButton>(w, "Speed");
  speed->setCheckable(true);
  speed->setProperty("groupIndex", 1);
  make<TRadioGroup>(w, "Radio")->setItems({"a", "b", "c"});
  auto* real = make<TRealSpinEdit>(w, "Real");
  real->configure(-1000, 1000, 3, 0.5L, true, 12);
  auto* notebook = make<TTabbedNotebook>(w, "Notebook");
  notebook->addTab(new QWidget, "n0");
  notebook->addTab(new QWidget, "n1");
  make<TBinHexEdit>(w, "BinHex");
  make<TStringGrid>(w, "Grid");
  auto* pages = make<TPageControl>(w, "Pages");
  QWidget* page = new QWidget;
  pages->addTab(page, "p0");
  pages->addTab(new QWidget, "p1");
  make<TRealSpinEdit>(page, "Real2");
  make<QLineEdit>(page, "Edit2");
  return window;
}

QApplication* app() {
  static int argc = 1;
  static char name[] = "form_fuzz";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: libFuzzer ends with exit(), after Qt's own statics may be gone.
  auto* a = new QApplication(argc, argv);
  installDialogs(std::make_unique<SilentDialogs>());
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static QApplication* a = app();
  (void)a;
  static const QString path = QDir::temp().filePath(QStringLiteral("qz418-form-fuzz-%1.ini").arg(getpid()));
  // The first byte picks the separators and whether the section header is given for free.
  const uint8_t mode = size > 0 ? data[0] : 0;
  QByteArray bytes(reinterpret_cast<const char*>(data) + (size > 0), qsizetype(size > 0 ? size - 1 : 0));
  if (mode & 1) bytes.prepend("[Fuzz]\r\n");
  {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) std::abort();
  }
  // One window for the whole run (building it cost more than the load), set back to its
  // defaults before each input by loading what it saved when new. Never destroyed, like the
  // application.
  static QWidget* const window = makeWindow().release();
  static const QString defaults = [] {
    const QString p = QDir::temp().filePath(QStringLiteral("qz418-form-fuzz-%1-defaults.ini").arg(getpid()));
    setAppFormatSettings(FormatSettings::point());
    if (!SaveFormState(p, window)) std::abort();
    return p;
  }();
  setAppFormatSettings(FormatSettings::point());
  gMessages = 0;
  if (!LoadFormState(defaults, window) || gMessages != 0) std::abort();
  setAppFormatSettings(mode & 2 ? FormatSettings::russian() : FormatSettings::point());
  const bool ok = LoadFormState(path, window);
  if (ok != (gMessages == 0) || gMessages > 1) std::abort();
  if (mode & 4) {
    // Saving what was loaded must work and read back without a message.
    if (!SaveFormState(path, window) || !LoadFormState(path, window) || gMessages > 1) std::abort();
  }
  return 0;
}
