#include "shell/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QSessionManager>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "platform/single_instance.h"
#include "rxview/rx_draw_form.h"
#include "shell/command_line.h"
#include "scenes/schema_form.h"
#include "shell/scripted_dialogs.h"
#include "usb/link_form.h"
#include "widgets/dialogs.h"

namespace {

const char* const kAlreadyRunning =
    "Программа управления синтезатором QZ418 уже работает.\rЗапуск копий ЗАПРЕЩЕН!!!";

// Test runs set QZ418_DIALOG_LOG to a file: message boxes are then written there and
// answered without a screen, so a second copy can be started and checked unattended.
void installTestDialogsIfAsked() {
  const QString log = qEnvironmentVariable("QZ418_DIALOG_LOG");
  if (!log.isEmpty()) installDialogs(std::make_unique<LoggingDialogs>(log));
}

// SIGTERM and SIGINT end the program the way its exit button does, so the state is saved
// when the machine shuts down or a script stops it. The handler only writes to a pipe; the
// main thread reads it from the event loop.
int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

void closeOnSignals(TMainForm* mainForm) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, mainForm);
  QObject::connect(notifier, &QSocketNotifier::activated, mainForm, [mainForm] {
    char buf[16];
    while (::read(signalPipe[0], buf, sizeof buf) > 0) {
    }
    mainForm->close();
  });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

}  // namespace

int runProgram(int argc, char** argv) {
  // Help, version and usage errors need neither a display nor the single-copy guard.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CommandLine commandLine;
  if (const std::optional<int> rc = parseCommandLine(arguments, commandLine)) return *rc;

  SingleInstanceGuard guard("QZ418");
  if (guard.state() == SingleInstanceGuard::State::AlreadyRunning) {
    // Qt needs an application object to show any box; no window of the program is made.
    QApplication app(argc, argv);
    installTestDialogsIfAsked();
    std::fprintf(stderr, "qz418: %s\n",
                 QString::fromUtf8(kAlreadyRunning).replace(u'\r', u' ').toLocal8Bit().constData());
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
  // The receive view reads its own section of the state file while it is created.
  TRxDrawForm::loadOwnSection = [](QWidget* w) {
    const QString stateFile = stateFileForReading();
    if (QFileInfo::exists(stateFile)) LoadFormState(stateFile, w);
  };
  auto* rxDrawForm = new TRxDrawForm;
  auto* schemaForm = new TSchemaForm;
  auto* linkForm = new TLinkForm(systemLinkPlatform());
  QObject::connect(mainForm, &TMainForm::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  closeOnSignals(mainForm);
  // Logging out of the desktop closes the panel too (the session may end the process next).
  QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm,
                   [mainForm](QSessionManager&) { mainForm->close(); });
  mainForm->show();

  const int rc = QApplication::exec();

  delete linkForm;
  delete schemaForm;
  delete rxDrawForm;
  delete mainForm;
  guard.release();
  return rc;
}
