// Window frames stored in the files come back as stored under a real window manager, run after
// run, and a window stored where no screen is comes back on a screen.
#include <gtest/gtest.h>

#include <QFile>
#include <QRect>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <ostream>

#include "persist/window_placement.h"
#include "support/program_session.h"

void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.width() << 'x' << r.height() << '+' << r.x() << '+' << r.y();
}

namespace {

QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(data);
}

// Top, Left, Width, Height of a section, as written.
QRect storedFrame(const QByteArray& file, const char* section) {
  const QString text = QString::fromLatin1(file);
  const qsizetype at = text.indexOf(QStringLiteral("[%1]\r\n").arg(QLatin1StringView(section)));
  if (at < 0) return {};
  const QRegularExpression re(
      QStringLiteral("Top=(-?\\d+)\r\nLeft=(-?\\d+)\r\nWidth=(\\d+)\r\nHeight=(\\d+)\r\n"));
  const QRegularExpressionMatch m = re.match(text, at);
  if (!m.hasMatch()) return {};
  return QRect(m.captured(2).toInt(), m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
}

}  // namespace

TEST(WindowGeometry, StoredFramesSurviveRunsUnderAWindowManager) {
  if (qEnvironmentVariable("QT_QPA_PLATFORM") != QStringLiteral("xcb")) GTEST_SKIP() << "needs X11";
  ProgramSession s;
  ASSERT_NO_FATAL_FAILURE(s.prepare());
  s.environment().insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  // The panel from a bigger desktop; the receive view shown, on screen; a scene page (never
  // shown) far away.
  ASSERT_NO_FATAL_FAILURE(
      writeFile(s.stateFile(),
                "[MainForm]\r\nTop=3000\r\nLeft=5000\r\n"
                "[RxDrawForm]\r\nTop=70\r\nLeft=634\r\nWidth=538\r\nHeight=666\r\nWisible=1\r\n"));
  const QString scenes = s.path(QStringLiteral("bin/Scenes.ini"));
  ASSERT_NO_FATAL_FAILURE(writeFile(
      scenes, "[ScenaForm_3]\r\nTop=5000\r\nLeft=-4000\r\nWidth=333\r\nHeight=222\r\nWisible=0\r\n"));

  QRect panelAfterFirst;
  for (int run = 1; run <= 3; ++run) {
    SCOPED_TRACE(run);
    QFile::remove(s.linkLog());
    s.startProgram();
    ASSERT_TRUE(s.waitUntilUp(15000));
    QThread::msleep(300);  // the window manager's frames are settled
    ASSERT_NO_FATAL_FAILURE(s.endProgram());
    const QByteArray state = readFile(s.stateFile());
    EXPECT_EQ(storedFrame(state, "RxDrawForm"), QRect(634, 70, 538, 666));
    const QRect panel = storedFrame(state, "MainForm");
    // On the screen: its top-left corner on it and at least 64x64 px of it visible (the frame's
    // extents may still change by a pixel or two after the move, under load).
    const QRect visible = QRect(0, 0, 1280, 1024).intersected(panel);
    EXPECT_TRUE(panel.x() >= 0 && panel.y() >= 0 && visible.width() >= 64 && visible.height() >= 64)
        << panel.width() << 'x' << panel.height() << '+' << panel.x() << '+' << panel.y();
    if (run == 1) panelAfterFirst = panel;
    EXPECT_EQ(panel, panelAfterFirst);
    EXPECT_EQ(storedFrame(readFile(scenes), "ScenaForm_3"), QRect(-4000, 5000, 333, 222));
  }
}

// A window stored above the screen is moved onto it as soon as it is shown, before the window
// manager has framed it; the frame then appears around the window where it stands, with no
// event to the window. Still the whole frame, title bar included, must end on the screen.
TEST(WindowGeometry, AWindowMovedBeforeItHadAFrameEndsWithItsTitleBarOnScreen) {
  if (qEnvironmentVariable("QT_QPA_PLATFORM") != QStringLiteral("xcb")) GTEST_SKIP() << "needs X11";
  for (int run = 1; run <= 3; ++run) {  // the window manager wins the race now and then
    SCOPED_TRACE(run);
    QWidget w;
    w.setFixedSize(703, 671);
    applyStoredFrame(&w, QRect(200, -900, 703, 671), false);
    w.show();
    QCoreApplication::processEvents();  // the move, while the window manager has not answered
    QThread::msleep(300);               // which it now does, all at once
    QTest::qWait(500);
    EXPECT_GE(w.frameGeometry().top(), 0);
    EXPECT_GT(w.geometry().top(), w.frameGeometry().top()) << "a frame with a title bar";
  }
}
