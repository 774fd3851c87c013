#include "shell/startup.h"

#include "base/number_text.h"
#include "panel/main_form.h"
#include "platform/single_instance.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "shell/scripted_dialogs.h"
#include "usb/link_form.h"
#include "widgets/dialogs.h"

#include <QApplication>

#include <cstdio>

namespace {

const char* const kAlreadyRunning =
    "Программа управления синтезатором QZ418 уже работает.\rЗапуск копий ЗАПРЕЩЕН!!!";

// Test runs set QZ418_DIALOG_LOG to a file: message boxes are then written there and
// answered without a screen, so a second copy can be started and checked unattended.
void installTestDialogsIfAsked() {
  const QString log = qEnvironmentVariable("QZ418_DIALOG_LOG");
  if (!log.isEmpty()) installDialogs(std::make_unique<LoggingDialogs>(log));
}

}  // namespace

int runProgram(int argc, char** argv) {
  SingleInstanceGuard guard("QZ418");
  if (guard.state() == SingleInstanceGuard::State::AlreadyRunning) {
    // Qt needs an application object to show any box; no window of the program is made.
    QApplication app(argc, argv);
    installTestDialogsIfAsked();
    std::fprintf(stderr, "qz418: %s\n", QString::fromUtf8(kAlreadyRunning).replace(u'\r', u' ').toLocal8Bit().constData());
    dialogs().information(nullptr, QStringLiteral("QZ418"), QString::fromUtf8(kAlreadyRunning));
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qz418"));
  QApplication::setApplicationDisplayName(QStringLiteral("QZ418"));
  // Hidden windows stay alive until the end; only the control panel ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  setAppFormatSettings(FormatSettings::fromSystem());
  installTestDialogsIfAsked();

  // The fixed order: the events window starts the exchange, whose first hand-overs go
  // to the panel and the receive view, so it comes last.
  auto* mainForm = new TMainForm;
  auto* rxDrawForm = new TRxDrawForm;
  auto* schemaForm = new TSchemaForm;
  auto* linkForm = new TLinkForm;
  QObject::connect(mainForm, &TMainForm::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  mainForm->show();

  const int rc = QApplication::exec();

  delete linkForm;
  delete schemaForm;
  delete rxDrawForm;
  delete mainForm;
  guard.release();
  return rc;
}
