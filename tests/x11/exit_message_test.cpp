// What the screen shows of the exit's message window while the exit keeps the main thread
// busy: the stop of the exchange, then the save. Compared pixel for pixel with the same window
// painted at leisure afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTest>
#include <QTimer>

#include "panel/main_form.h"
#include "platform/executable_path.h"
#include "widgets/message_form.h"
#include "widgets/dialogs.h"

namespace {

// The panel's waiting-message window, also while the panel is still being created.
TMessageForm* messageWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = qobject_cast<TMessageForm*>(w)) return m;
  return nullptr;
}

// What the X server holds where the message window's label is.
QImage labelOnScreen() {
  const QLabel* label = messageWindow()->MessageLabel;
  const QPoint at = label->mapToGlobal(QPoint(0, 0));
  return QGuiApplication::primaryScreen()
      ->grabWindow(0, at.x(), at.y(), label->width(), label->height())
      .toImage();
}

// Pixels of black text; greyed-out text has none.
int darkPixels(const QImage& image) {
  int n = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) n += qGray(image.pixel(x, y)) < 64;
  return n;
}

// The warning about an unreadable number in the state file comes while the start's load
// keeps the main thread busy: the screen is taken then, instead of showing a box.
class GrabOnWarning final : public Dialogs {
 public:
  QImage grabbed;
  void information(QWidget*, const QString&, const QString&) override {}
  void warning(QWidget*, const QString&, const QString&) override { grabbed = labelOnScreen(); }
  bool warningYesNo(QWidget*, const QString&, const QString&) override { return true; }
  bool confirmYesNo(QWidget*, const QString&, const QString&) override { return true; }
  bool informationYesNo(QWidget*, const QString&, const QString&) override { return true; }
  QString openFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString saveFile(QWidget*, const FileDialogRequest&) override { return {}; }
};

}  // namespace

TEST(ExitMessage, OnScreenWhileTheStartLoadsAndTheStopBlocksNotGreyedWhileTheStateIsWritten) {
  const auto savedDrive = TMainForm::driveOfPath;
  TMainForm::driveOfPath = [](const QString&) { return DriveInfo{DriveType::Fixed, "/"}; };
  {
    QFile state(stateFileForReading());
    ASSERT_TRUE(state.open(QIODevice::WriteOnly | QIODevice::Truncate));
    state.write("[MainForm]\r\nCh1I_AmplPBSuperSpin=abc\r\n");
  }
  auto grab = std::make_unique<GrabOnWarning>();
  GrabOnWarning* duringLoad = grab.get();
  auto savedDialogs = installDialogs(std::move(grab));
  TMainForm panel;
  const QImage duringStart = duringLoad->grabbed;
  installDialogs(std::move(savedDialogs));
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));

  // A hand-over of the exchange thread waiting on its wake-up descriptor when the exit starts:
  // it must not run before the stop.
  const int wake = ::eventfd(1, EFD_NONBLOCK | EFD_CLOEXEC);
  ASSERT_GE(wake, 0);
  bool stepRan = false;
  QSocketNotifier notifier(wake, QSocketNotifier::Read);
  QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
    std::uint64_t n;
    [[maybe_unused]] const ssize_t r = ::read(wake, &n, sizeof n);
    stepRan = true;
  });

  bool stepRanBeforeStop = true;
  QImage duringStop, duringSave;
  bool panelDisabledThen = false;
  panel.stopExchange = [&] {
    stepRanBeforeStop = stepRan;
    QTest::qSleep(300);  // a stop that takes its time; nothing is painted meanwhile
    duringStop = labelOnScreen();
    // The save processes events between controls with the panel disabled.
    QTimer::singleShot(0, [&] {
      QCoreApplication::processEvents();  // the repaints the disabling asked for
      panelDisabledThen = !panel.isEnabled();
      duringSave = labelOnScreen();
    });
  };
  panel.close();
  notifier.setEnabled(false);
  ::close(wake);
  QFile::remove(stateFileName());
  TMainForm::driveOfPath = savedDrive;

  EXPECT_FALSE(stepRanBeforeStop) << "an exchange step ran while the message window was waited for";
  ASSERT_TRUE(panelDisabledThen) << "the save was not under way";
  ASSERT_NE(messageWindow(), nullptr);
  EXPECT_EQ(messageWindow()->font().pointSize(), 8);

  // The same texts painted with all the time in the world.
  const auto atLeisure = [](const QString& text) {
    messageWindow()->ShowMessageText(text);
    QTest::qWait(100);
    return labelOnScreen();
  };
  const QImage start = atLeisure(QStringLiteral("Чтение состояния из файла ") + stateFileForReading());
  EXPECT_TRUE(duringStart == start) << "the message was not on screen while the state was read";
  const QImage stop = atLeisure(QStringLiteral("Оключение потока данных USB"));
  const QImage save = atLeisure(QStringLiteral("Запись состояния программы в файл QZ_418.ini"));
  ASSERT_GT(darkPixels(stop), 50);
  EXPECT_TRUE(duringStop == stop) << "the message was not on screen during the stop";
  EXPECT_TRUE(duringSave == save) << "the message was not on screen, or greyed, during the save";
  EXPECT_GT(darkPixels(duringSave), 50) << "greyed out";
}
