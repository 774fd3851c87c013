// Export of the receive view: the trace as text, the chart as a bitmap file and on the
// clipboard, and files that cannot be written.

#include <unistd.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include "rx_test_support.h"
#include "support/recording_dialogs.h"

namespace {

using rxtest::View;

QByteArray readAll(const QString& name) {
  QFile f(name);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(RxExport, TextLinesBeforeAndAfterTheFirstRedraw) {
  struct Case {
    bool redraw;
    FormatSettings fs;
    const char* first;
    const char* second;
    const char* last;
  };
  const Case cases[] = {
      {false, FormatSettings::russian(), "0,00000E+00 0,00000E+00", "5,00000E-09 0,00000E+00",
       "2,04750E-05 0,00000E+00"},
      {true, FormatSettings::russian(), "-1,60000E-07 1,17188E+02", "-1,55000E-07 1,19719E+02",
       "9,68000E-06 1,19719E+02"},
      {true, FormatSettings::point(), "-1.60000E-07 1.17188E+02", "-1.55000E-07 1.19719E+02",
       "9.68000E-06 1.19719E+02"},
  };
  for (const Case& c : cases) {
    QTemporaryDir dir;
    View v(false);
    setAppFormatSettings(c.fs);
    if (c.redraw) v.show(rxtest::flat(355));
    const QString name = dir.filePath("trace.txt");
    ASSERT_TRUE(v->SaveChartText(name));
    const QByteArray bytes = readAll(name);
    ASSERT_TRUE(bytes.endsWith("\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 4096);
    EXPECT_EQ(bytes.count('\n'), 4096);
    const QList<QByteArray> lines = bytes.chopped(2).split('\n');
    ASSERT_EQ(lines.size(), 4096);
    EXPECT_EQ(lines[0], QByteArray(c.first) + '\r');
    EXPECT_EQ(lines[1], QByteArray(c.second) + '\r');
    EXPECT_EQ(lines[4095], c.last);
  }
}

TEST(RxExport, DialogsAndCancelling) {
  ScopedRecordingDialogs d;
  QTemporaryDir dir;
  View v;
  v->N2Click();  // cancelled
  v->SaveToBMPFileN6Click();
  ASSERT_EQ(d->fileRequests.size(), 2u);
  EXPECT_EQ(d->fileRequests[0].title, "Записать в текстовый файл");
  EXPECT_EQ(d->fileRequests[0].defaultName, "noname.txt");
  EXPECT_EQ(d->fileRequests[0].defaultSuffix, "txt");
  EXPECT_EQ(d->fileRequests[1].title, "Записаь картинку в файл");
  EXPECT_EQ(d->fileRequests[1].defaultName, "NoName.bmp");
  EXPECT_TRUE(d->fileRequests[1].defaultSuffix.isEmpty());
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
  EXPECT_EQ(d->calls.size(), 2u);  // no message either

  // A bitmap of the chart's size, written under the name as chosen.
  d->fileNames.push_back(dir.filePath("chart"));
  v->SaveToBMPFileN6Click();
  const QByteArray bmp = readAll(dir.filePath("chart"));
  EXPECT_TRUE(bmp.startsWith("BM"));
  EXPECT_EQ(QImage::fromData(bmp, "BMP").size(), v.chart()->size());

  d->fileNames.push_back(dir.filePath("t.txt"));
  v->N2Click();
  EXPECT_EQ(readAll(dir.filePath("t.txt")).count('\n'), 4096);

  v->SaveToClipBoardN5Click();
  EXPECT_EQ(QGuiApplication::clipboard()->pixmap().size(), v.chart()->size());
}

TEST(RxExport, AFileThatCannotBeCreatedIsReportedAndNothingIsWritten) {
  QTemporaryDir dir;
  QFile blocker(dir.filePath("plain"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  QStringList names = {dir.filePath("missing/trace.txt"), dir.filePath("plain/trace.txt"),
                       "/proc/rxview-trace.txt"};
  if (geteuid() != 0) {  // permissions do not stop root
    QDir(dir.path()).mkdir("ro");
    QFile::setPermissions(dir.filePath("ro"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    names << dir.filePath("ro/trace.txt");
  }
  for (const QString& name : names) {
    ScopedRecordingDialogs d;
    View v(false);
    d->fileNames.push_back(name);
    v->N2Click();
    d->fileNames.push_back(name);
    v->SaveToBMPFileN6Click();
    std::vector<QString> warnings;
    for (const auto& c : d->calls)
      if (c.kind == "warning") warnings.push_back(c.text);
    ASSERT_EQ(warnings.size(), 2u) << name.toStdString();
    EXPECT_EQ(warnings[0], "Cannot create file " + name);
    EXPECT_EQ(warnings[1], "Cannot create file " + name);
    EXPECT_FALSE(QFile::exists(name));
  }
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot), QStringList{"plain"});
  EXPECT_EQ(readAll(dir.filePath("plain")), QByteArray());
}

}  // namespace
