// Where windows read from a file come back without a window manager (offscreen: one screen
// of 800 x 800, window frames 2 px wide): off-screen frames of shown windows are brought onto
// the screen, everything else comes back exactly as stored and is saved again unchanged.
#include "persist/window_placement.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <ostream>

#include "persist/form_state.h"

void PrintTo(const QRect& r, std::ostream* os) {
  *os << r.width() << 'x' << r.height() << '+' << r.x() << '+' << r.y();
}

TEST(WindowPlacement, OnlyAFrameOffEveryScreenIsMovedOntoThePrimaryOne) {
  const QRect primary(0, 0, 1280, 1000);   // a task bar below
  const QRect second(1280, 0, 1024, 768);  // right of it
  struct Case {
    const char* what;
    QRect frame;
    bool resizable;
    QRect expected;
  } cases[] = {
      {"inside", {634, 70, 538, 666}, true, {634, 70, 538, 666}},
      {"64 x 64 visible at the bottom right", {1216, 936, 500, 400}, true, {1216, 936, 500, 400}},
      {"on the second screen", {2000, 100, 300, 200}, true, {2000, 100, 300, 200}},
      {"63 px visible", {1217, 800, 703, 150}, false, {577, 800, 703, 150}},
      {"below the second screen", {1500, 800, 300, 200}, true, {980, 800, 300, 200}},
      {"far right, from a bigger desktop", {5000, 300, 538, 666}, true, {742, 300, 538, 666}},
      {"above and left", {-900, -700, 703, 671}, false, {0, 0, 703, 671}},
      {"larger than the screen, sizeable", {-3000, 0, 2000, 1500}, true, {0, 0, 1280, 1000}},
      {"larger than the screen, fixed", {-3000, 0, 2000, 1500}, false, {0, 0, 2000, 1500}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(placeOnScreen(c.frame, {primary, second}, primary, c.resizable), c.expected) << c.what;
}

TEST(WindowPlacement, LoadedFramesOfShownWindowsComeOnScreenOthersRoundTrip) {
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("state.ini"));
  struct Case {
    const char* what;
    QByteArray section;
    bool fixedSize;
    bool show;
    QRect expected;    // the frame after the load (and the show)
    QByteArray saved;  // the geometry keys the next save writes
  } cases[] = {
      {"on screen, sizeable",
       "Top=70\r\nLeft=300\r\nWidth=400\r\nHeight=300\r\n",
       false,
       true,
       {300, 70, 400, 300},
       "Top=70\r\nLeft=300\r\nWidth=400\r\nHeight=300\r\n"},
      {"off screen, larger than the screen, shown",
       "Top=-5000\r\nLeft=0\r\nWidth=1000\r\nHeight=900\r\n",
       false,
       true,
       {0, 0, 800, 800},
       "Top=0\r\nLeft=0\r\nWidth=800\r\nHeight=800\r\n"},
      {"off screen, fixed size, shown",
       "Top=-900\r\nLeft=-900\r\n",
       true,
       true,
       {0, 0, 204, 104},
       "Top=0\r\nLeft=0\r\nWidth=204\r\nHeight=104\r\n"},
      {"off screen, never shown",
       "Top=5000\r\nLeft=-4000\r\nWidth=333\r\nHeight=222\r\n",
       false,
       false,
       {-4000, 5000, 333, 222},
       "Top=5000\r\nLeft=-4000\r\nWidth=333\r\nHeight=222\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      QFile f(file);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
      f.write("[W]\r\n" + c.section + "Wisible=0\r\n");
    }
    QWidget w;
    w.setObjectName(QStringLiteral("W"));
    if (c.fixedSize)
      w.setFixedSize(200, 100);
    else
      w.resize(200, 100);
    ASSERT_TRUE(LoadFormState(file, &w));
    if (c.show) {
      w.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    }
    QTest::qWait(20);
    EXPECT_EQ(w.frameGeometry(), c.expected);
    ASSERT_TRUE(SaveFormState(file, &w));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().mid(5, c.saved.size()).toStdString(), c.saved.toStdString());
  }
}
