// The load's judgement of a record left by an in-place write that did not finish: the file's
// old or new text removes it, a torn write gets the old text back, a text someone else wrote
// since stays and the old text is kept aside, an incomplete record or one of a replaced file is
// dropped.

#include "persist/unfinished_write.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QTemporaryDir>

#include "persist/atomic_write.h"
#include "persist/file_notices.h"
#include "persist/ini_file.h"
#include "persist_support.h"
#include "platform/executable_path.h"

namespace {

TEST(UnfinishedWrite, ALoadJudgesTheRecordByWhatTheFileHolds) {
  QTemporaryDir dir;
  const QString file = dir.filePath("state.ini");
  QByteArray oldText = "[S]\r\nA=old\r\nB=" + QByteArray(1500, 'o') + "\r\n";
  QByteArray newText = "[S]\r\nA=new\r\nB=" + QByteArray(2500, 'n') + "\r\n";
  struct Row {
    const char* name;
    QByteArray file;
    bool otherInode;
    int recordCut;         // bytes cut off the record's end
    const char* value;     // A as the load reads it
    QByteArray fileAfter;  // empty: as it was
    const char* notice;    // the start of the line reported, if any
    bool keptAside;        // the old text is kept in a dated copy
  };
  const QByteArray torn =
      newText.left(1024) + oldText.mid(1024) + QByteArray(newText.size() - oldText.size(), '\0');
  const QByteArray zeroTail = newText.left(2048) + QByteArray(newText.size() - 2048, '\0');
  const QByteArray tornMidBlock = newText.left(1000) + oldText.mid(1000);
  const Row rows[] = {
      {"the write finished", newText, false, 0, "new", {}, nullptr, false},
      {"the write had not begun", oldText, false, 0, "old", {}, nullptr, false},
      {"torn: new blocks, then the old text and the reserved zeros", torn, false, 0, "old", oldText,
       "Запись в файл ", false},
      {"torn: new blocks, then zeros", zeroTail, false, 0, "old", oldText, "Запись в файл ", false},
      {"a block torn in its middle is no write of ours", tornMidBlock, false, 0, "new", {}, "Файл ", true},
      {"someone else saved it since", "[S]\r\nA=other\r\n", false, 0, "other", {}, "Файл ", true},
      {"the file was replaced since", torn, true, 0, nullptr, {}, nullptr, false},
      {"an incomplete record", torn, false, 10, nullptr, {}, nullptr, false},
  };
  const QString privateFolder = privateStateFolder();
  ASSERT_FALSE(privateFolder.isEmpty());
  QStringList notices;
  setFileNoticeSink([&](const QString& line) { notices << line; });
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    notices.clear();
    QFile::remove(file);
    ASSERT_TRUE(writeBytes(file, row.file));
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    const QByteArray path = QFile::encodeName(file);
    QByteArray record =
        UnfinishedWriteRecord::make(quint64(st.st_dev), quint64(st.st_ino) + (row.otherInode ? 1 : 0), path,
                                    oldText, newText)
            .encode();
    record.chop(row.recordCut);
    const QString recordPath = privateFolder + u'/' + QString::fromLatin1(unfinishedWriteRecordName(path));
    ASSERT_TRUE(writeBytes(recordPath, record));
    const QStringList keptBefore = QDir(privateFolder).entryList({"*.kept"}, QDir::Files);

    IniFile ini;
    ASSERT_TRUE(ini.load(file));
    if (row.value) {
      const std::optional<QString> a = ini.value(u"S", u"A");
      ASSERT_TRUE(a.has_value());
      EXPECT_EQ(*a, QString::fromLatin1(row.value));
    }
    EXPECT_EQ(readBytes(file), row.fileAfter.isEmpty() ? row.file : row.fileAfter);
    EXPECT_FALSE(QFileInfo::exists(recordPath)) << "the record is settled";
    ASSERT_EQ(notices.size(), row.notice ? 1 : 0) << notices.join(u'\n').toStdString();
    if (row.notice) {
      EXPECT_TRUE(notices[0].startsWith(QString::fromUtf8(row.notice) + file)) << notices[0].toStdString();
    }
    QStringList kept = QDir(privateFolder).entryList({"*.kept"}, QDir::Files);
    for (const QString& k : keptBefore) kept.removeOne(k);
    ASSERT_EQ(kept.size(), row.keptAside ? 1 : 0);
    if (row.keptAside) {
      EXPECT_EQ(readBytes(privateFolder + u'/' + kept[0]), oldText);
      EXPECT_TRUE(notices[0].endsWith(privateFolder + u'/' + kept[0])) << notices[0].toStdString();
    }
  }
  setFileNoticeSink({});
}

}  // namespace
