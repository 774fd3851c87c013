#include "shell/startup.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#endif

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QPointer>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QTranslator>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <functional>
#include <vector>

#include "base/number_text.h"
#include "panel/main_form.h"
#include "persist/file_notices.h"
#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "platform/single_instance.h"
#include "remote/remote_control.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "shell/command_line.h"
#include "shell/exit_boxes.h"
#include "shell/program_windows.h"
#include "shell/scripted_dialogs.h"
#ifdef _WIN32
#include "shell/session_end_win.h"
#endif
#include "usb/link_form.h"
#include "widgets/dialogs.h"

namespace {

const char* const kAlreadyRunning =
    "Программа управления синтезатором QZ418 уже работает.\rЗапуск копий ЗАПРЕЩЕН!!!";

// Where the program's life is, for the boxes of an unattended run: those raised while the
// windows are made (a damaged file) and during the exit (the drive question, a file that cannot
// be written) are the program's own; between the two, a box follows an operator's click.
struct Life {
  // From the end of the start-up to the end of the message loop.
  bool running = false;
  const TMainForm* panel = nullptr;
  // The events window's log, once that window exists.
  std::function<void(const QString&)> eventsLog;

  bool boxesAreOwn() const { return !running || (panel && panel->isClosing()); }
};
Life life;

// Test runs set QZ418_DIALOG_LOG to a file: message boxes are then written there and
// answered without a screen, so a second copy can be started and checked unattended; with
// QZ418_DIALOG_RELEASE also set, each box waits until that file exists. An unattended run
// answers the program's own boxes itself and leaves the rest to those or to Qt's.
void installDialogsFor(const CommandLine& commandLine) {
  const QString log = qEnvironmentVariable("QZ418_DIALOG_LOG");
  if (!log.isEmpty())
    installDialogs(std::make_unique<LoggingDialogs>(log, qEnvironmentVariable("QZ418_DIALOG_RELEASE")));
  if (!commandLine.unattended) return;
  std::unique_ptr<Dialogs> inner = installDialogs(nullptr);
  installDialogs(std::make_unique<UnattendedDialogs>(
      std::move(inner), [] { return life.boxesAreOwn(); },
      [](const QString& line) {
        std::fprintf(stderr, "qz418: %s\n", line.toLocal8Bit().constData());
        if (life.eventsLog) life.eventsLog(line);
      }));
}

// A station with no screen at all needs no window system: Qt's offscreen platform, unless the
// operator named one.
void chooseOffscreenWithoutDisplay(const CommandLine& commandLine) {
  if (commandLine.unattended && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

// A termination request closes the panel as its exit button does (it stops the exchange and
// saves); see ExitBoxes for the boxes open meanwhile.
void requestExit(TMainForm* mainForm, ExitBoxes* boxes, bool queued) {
  QPointer<TMainForm> panel(mainForm);
  boxes->request(
      [panel] {
        if (panel) panel->close();
      },
      queued);
}

#ifdef _WIN32
// Windows has no termination signals: the console's Ctrl+C, its closing and the session's end
// reach the exit through closeOnSessionEnd(); there is nothing to hold, ignore or keep.
void holdTerminationSignals(bool) {}
void ignoreBrokenPipes() {}
std::vector<int> ignoredTerminationSignals() { return {}; }
void closeOnSignals(TMainForm* mainForm, ExitBoxes* insistence, const std::vector<int>&) {
  closeOnSessionEnd(mainForm, [mainForm, insistence](bool queued) { requestExit(mainForm, insistence, queued); });
}
#else
// The termination signals end the program the way its exit button does, so the state is saved
// when the machine shuts down or a service manager stops it (TERM), on Ctrl+C (INT) and when
// its terminal or SSH session goes (HUP). The handler only writes to a pipe; the main thread
// reads it from the event loop (also from a message box's loop during the exit).
//
// Until the start-up has finished they are blocked, in every thread (each inherits the mask of
// the thread that made it): a signal meanwhile would otherwise kill the program unsaved, and
// acting on it in a start-up box's loop would save a half-made panel over the user's state.
// Blocked, it waits, and is acted on once the main thread unblocks it.
constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

sigset_t terminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kTerminationSignals) sigaddset(&set, sig);
  return set;
}

void holdTerminationSignals(bool hold) {
  const sigset_t set = terminationSignals();
  pthread_sigmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const int savedErrno = errno;
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
  errno = savedErrno;
}

// ---- POSIX signal dispositions ---------------------------------------------------------------

// A write to a pipe whose reader has gone ("qz418 ... 2>&1 | tee log", then Ctrl+C ends tee
// first) must fail, not end the program before its exit has saved: no line on stderr is worth
// the operator's files.
void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

// The termination signals that are ignored when the program starts (nohup ignores HUP): they
// stay ignored.
std::vector<int> ignoredTerminationSignals() {
  std::vector<int> ignored;
  for (const int sig : kTerminationSignals) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) ignored.push_back(sig);
  }
  return ignored;
}

void closeOnSignals(TMainForm* mainForm, ExitBoxes* insistence, const std::vector<int>& keepIgnored) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, mainForm);
  QObject::connect(notifier, &QSocketNotifier::activated, mainForm, [mainForm, insistence] {
    char buf[16];
    ssize_t n = 0, got;
    while ((got = ::read(signalPipe[0], buf, sizeof buf)) > 0) n += got;
    // Each signal counts: two at once are a request during the exit as well.
    for (ssize_t i = 0; i < n; ++i) requestExit(mainForm, insistence, true);
  });
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sa.sa_mask = terminationSignals();
  sa.sa_flags = SA_RESTART;
  for (const int sig : kTerminationSignals)
    if (std::find(keepIgnored.begin(), keepIgnored.end(), sig) == keepIgnored.end()) sigaction(sig, &sa, nullptr);
}

#endif

}  // namespace

void setUpApplication() {
  QApplication::setApplicationName(QStringLiteral("qz418"));
  // No display name: Qt would append it to every window title (" — QZ418"), and the titles
  // are the program's own texts.
  // Hidden windows stay alive until the end; only the control panel ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  setAppFormatSettings(FormatSettings::fromSystem());
  // The program speaks Russian whatever the desktop's language: Qt's own buttons and file
  // dialogs too. Qt's folder first, then a "translations" folder beside the executable (a
  // portable copy).
  auto* translator = new QTranslator(qApp);
  const QString exeFolder = QFileInfo(executablePath()).absolutePath();
  if (translator->load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      translator->load(QStringLiteral("qtbase_ru"), exeFolder + QStringLiteral("/translations")))
    QCoreApplication::installTranslator(translator);
  else
    delete translator;
}

int runProgram(int argc, char** argv) {
  // Before anything else, and before any thread exists (Qt's, libusb's and udev's inherit it).
  holdTerminationSignals(true);
  ignoreBrokenPipes();
  const std::vector<int> ignoredAtStart = ignoredTerminationSignals();
  // Help, version and usage errors need neither a display nor the single-copy guard.
  QStringList arguments;
  for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  CommandLine commandLine;
  if (const std::optional<int> rc = parseCommandLine(arguments, commandLine)) return *rc;
  chooseOffscreenWithoutDisplay(commandLine);

  SingleInstanceGuard guard("QZ418");
  if (guard.state() == SingleInstanceGuard::State::AlreadyRunning) {
    // Nothing to save here: while the box waits, a signal ends this copy at once.
    holdTerminationSignals(false);
    installDialogsFor(commandLine);
    const QString text = QString::fromUtf8(kAlreadyRunning);
    if (commandLine.unattended) {
      // Answered and logged by the unattended dialogs; a service manager sees the failure.
      dialogs().information(nullptr, QStringLiteral("QZ418"), text);
      return 1;
    }
    // Qt needs an application object to show any box; no window of the program is made.
    QApplication app(argc, argv);
    std::fprintf(stderr, "qz418: %s\n", QString(text).replace(u'\r', u' ').toLocal8Bit().constData());
    dialogs().information(nullptr, QStringLiteral("QZ418"), text);
    return 0;
  }

  QApplication app(argc, argv);
  setUpApplication();
  installDialogsFor(commandLine);

  // The receive view reads its own section of the state file while it is created.
  TRxDrawForm::loadOwnSection = [](QWidget* w) {
    const QString stateFile = stateFileForReading();
    if (QFileInfo::exists(stateFile)) LoadFormState(stateFile, w);
  };
  const ProgramWindows windows = createProgramWindows(systemLinkPlatform());
  TMainForm* mainForm = windows.main;
  TLinkForm* linkForm = windows.link;
  life.panel = mainForm;
  life.eventsLog = [linkForm](const QString& line) { linkForm->AddLogLine(line); };
  QObject::connect(mainForm, &TMainForm::closed, &app, &QApplication::quit, Qt::QueuedConnection);
  // What the loads reported before the events window existed goes into its log now.
  setFileNoticeSink([linkForm](const QString& line) { linkForm->AddLogLine(line); });
  auto* insistence = new ExitBoxes([mainForm] { return mainForm->isClosing(); }, mainForm);
  closeOnSignals(mainForm, insistence, ignoredAtStart);
  // Logging out of the desktop closes the panel too (the session may end the process next).
  QObject::connect(&app, &QGuiApplication::commitDataRequest, mainForm,
                   [mainForm, insistence](QSessionManager&) { requestExit(mainForm, insistence, false); });
  mainForm->show();
  std::unique_ptr<RemoteControl> remote = startRemoteControl(
      {commandLine.scpi, commandLine.scpiListen, commandLine.scpiPort},
      {windows.main, windows.rx, windows.schema, windows.link});
  // Started: a signal held meanwhile is now delivered, and its exit saves the whole state.
  life.running = true;
  holdTerminationSignals(false);

  int rc = QApplication::exec();
  life = Life{};
  setFileNoticeSink({});
  remote.reset();
  // A file the exit could not write (the operator has seen why) ends the program with 1.
  if (rc == 0 && mainForm->exitSaveFailed()) rc = 1;

  delete windows.link;
  delete windows.schema;
  delete windows.rx;
  delete windows.main;
  guard.release();
  return rc;
}
