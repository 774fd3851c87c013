// INI file: the reading and writing rules of the profile functions, byte-exact preservation of
// everything not written, tolerance of odd files, and the atomic replacement of the file.

#include "persist/ini_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <tuple>
#include <vector>

#include "base/cp1251.h"
#include "persist_support.h"

namespace {

QByteArray cp(const char* utf8) { return toCp1251(QString::fromUtf8(utf8)); }

TEST(IniFileTest, ReadsLikeTheProfileFunctions) {
  struct Case {
    const char* name;
    QByteArray file;
    const char* section;
    const char* key;
    std::optional<QString> expected;
  };
  const QString long2047(2047, u'x');
  const Case cases[] = {
      {"section and key without case", "[MainForm]\r\nTop=5\r\n", "mainform", "TOP", "5"},
      {"Cyrillic names without case", cp("[Форма]\r\nКлюч=1\r\n"), "ФОРМА", "ключ", "1"},
      {"first key wins", "[S]\r\nA=1\r\na=2\r\n", "S", "A", "1"},
      {"first section wins", "[S]\r\nA=1\r\n[s]\r\nA=2\r\nB=3\r\n", "S", "B", std::nullopt},
      {"blanks around name and value", "[S]\r\n  A \t=   x y  \r\n", "S", "A", "x y"},
      {"double quotes", "[S]\r\nA=\"  q  \"\r\n", "S", "A", "  q  "},
      {"single quotes", "[S]\r\nA='q'\r\n", "S", "A", "q"},
      {"unmatched quotes stay", "[S]\r\nA=\"q'\r\n", "S", "A", "\"q'"},
      {"a lone quote stays", "[S]\r\nA=\"\r\n", "S", "A", "\""},
      {"value with '='", "[S]\r\nA=b=c\r\n", "S", "A", "b=c"},
      {"empty value", "[S]\r\nA=\r\n", "S", "A", ""},
      {"cp1251 text", cp("[S]\r\nT1_Edit=  ??? мкс\r\n"), "S", "T1_Edit", QString::fromUtf8("??? мкс")},
      {"UTF-8 after a byte-order mark", "\xEF\xBB\xBF[S]\nA=\xD0\xBC\xD0\xBA\xD1\x81\n", "s", "a",
       QString::fromUtf8("мкс")},
      {"LF only, no final line end", "[S]\nA=1\n[T]\nB=2", "T", "B", "2"},
      {"header with blanks before it", "  [S]  \r\nA=1", "S", "A", "1"},
      {"comment is no key", "[S]\r\n;A=1\r\n", "S", ";A", std::nullopt},
      {"lines before any section", "A=1\r\n[S]\r\n", "S", "A", std::nullopt},
      {"line without '='", "[S]\r\nA\r\n", "S", "A", std::nullopt},
      {"missing section", "[S]\r\nA=1\r\n", "T", "A", std::nullopt},
      {"cut at 2047", "[S]\r\nA=" + QByteArray(3000, 'x') + "\r\n", "S", "A", long2047},
      {"quotes dropped before the cut", "[S]\r\nA=\"" + QByteArray(2047, 'x') + "\"\r\n", "S", "A", long2047},
      {"NUL bytes are text", QByteArray("[S]\r\nA=a\0b\r\n", 12), "S", "A",
       QStringView(u"a\0b", 3).toString()},
  };
  for (const Case& c : cases) {
    const IniFile ini(c.file);
    EXPECT_EQ(ini.value(QString::fromUtf8(c.section), QString::fromUtf8(c.key)), c.expected) << c.name;
  }
}

TEST(IniFileTest, DefaultLosesTrailingSpacesAndIsCut) {
  const IniFile ini(QByteArray("[S]\r\nA=1\r\n"));
  EXPECT_EQ(ini.readString(u"S", u"A", u"d"), "1");
  EXPECT_EQ(ini.readString(u"S", u"B", u"  d  "), "  d");
  EXPECT_EQ(ini.readString(u"S", u"B", QString(3000, u'y')).size(), 2047);
}

// A step applied to a file: a write, or an erase when key is null.
struct Step {
  const char* section;
  const char* key;
  const char* value;
};

QByteArray apply(const QByteArray& before, std::initializer_list<Step> steps) {
  IniFile ini(before);
  for (const Step& s : steps) {
    if (s.key)
      ini.writeString(QString::fromUtf8(s.section), QString::fromUtf8(s.key), QString::fromUtf8(s.value));
    else
      ini.eraseSection(QString::fromUtf8(s.section));
  }
  return ini.toBytes();
}

TEST(IniFileTest, WritesInPlaceAndKeepsEverythingElse) {
  struct Case {
    const char* name;
    QByteArray before;
    std::initializer_list<Step> steps;
    QByteArray after;
  };
  const Case cases[] = {
      {"new file", "", {{"S", "A", "1"}, {"S", "B", "2"}}, "[S]\r\nA=1\r\nB=2\r\n"},
      {"value replaced in place, other line ends kept",
       "; head\n[S]\nA = old\nB=2\n",
       {{"S", "a", "new"}},
       "; head\n[S]\nA =new\r\nB=2\n"},
      {"same value changes nothing", "[S]\nA=1\n", {{"S", "A", "1"}}, "[S]\nA=1\n"},
      {"new key after the last key, before trailing blanks and comments",
       "[S]\r\nA=1\r\n; note\r\n\r\n[T]\r\nX=1\r\n",
       {{"S", "B", "2"}},
       "[S]\r\nA=1\r\nB=2\r\n; note\r\n\r\n[T]\r\nX=1\r\n"},
      {"new key in a section without keys",
       "[S]\r\n\r\n[T]\r\n",
       {{"S", "A", "1"}},
       "[S]\r\nA=1\r\n\r\n[T]\r\n"},
      {"new section after a last line without line end",
       "[S]\nA=1",
       {{"T", "B", "2"}},
       "[S]\nA=1\r\n[T]\r\nB=2\r\n"},
      {"new key after a last line without line end", "[S]\nA=1", {{"S", "B", "2"}}, "[S]\nA=1\r\nB=2\r\n"},
      {"erase a middle section with its comments",
       "[A]\r\nx=1\r\n[B]\r\n; c\r\ny=2\r\n\r\n[C]\r\nz=3\r\n",
       {{"b", nullptr, nullptr}},
       "[A]\r\nx=1\r\n[C]\r\nz=3\r\n"},
      {"erase then write: the section moves to the end",
       "[A]\r\nx=1\r\n[B]\r\ny=2\r\n",
       {{"A", nullptr, nullptr}, {"A", "x", "9"}},
       "[B]\r\ny=2\r\n[A]\r\nx=9\r\n"},
      {"erase takes the first of two, writes then go to the second",
       "[A]\r\nx=1\r\n[B]\r\n[a]\r\nx=2\r\ny=3\r\n",
       {{"A", nullptr, nullptr}, {"A", "x", "7"}},
       "[B]\r\n[a]\r\nx=7\r\ny=3\r\n"},
      {"only the first duplicate key is replaced",
       "[S]\r\nA=1\r\nA=2\r\n",
       {{"S", "a", "5"}},
       "[S]\r\nA=5\r\nA=2\r\n"},
      {"erase a missing section", "[A]\r\n", {{"B", nullptr, nullptr}}, "[A]\r\n"},
      {"line breaks in a value become blanks", "", {{"S", "A", "a\r\nb"}}, "[S]\r\nA=a  b\r\n"},
      {"UTF-8 file stays UTF-8",
       "\xEF\xBB\xBF[S]\nA=1\n",
       {{"S", "B", "\xD0\xB4"}},
       "\xEF\xBB\xBF[S]\nA=1\n"
       "B=\xD0\xB4\r\n"},
      {"cp1251 file gets cp1251", "[S]\r\n", {{"S", "A", "\xD0\xB4"}}, "[S]\r\nA=\xE4\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(apply(c.before, c.steps), c.after) << c.name;
}

TEST(IniFileTest, KeysWrittenAfterAppendsAreFoundAndReplaced) {
  IniFile ini(QByteArray("[S]\r\nA=1\r\n"));
  for (int i = 0; i < 300; ++i) ini.writeString(u"S", QStringLiteral("K%1").arg(i), QString::number(i));
  for (int i = 0; i < 300; i += 7) ini.writeString(u"s", QStringLiteral("k%1").arg(i), QStringLiteral("x"));
  EXPECT_EQ(ini.value(u"S", u"K7"), "x");
  EXPECT_EQ(ini.value(u"S", u"K8"), "8");
  EXPECT_EQ(ini.toBytes().count("K7="), 1);
  // Read again from the text: the same answers.
  const IniFile again(ini.toBytes());
  EXPECT_EQ(again.value(u"S", u"K299"), "299");
  EXPECT_EQ(again.value(u"S", u"A"), "1");
}

TEST(IniFileTest, OtherSectionsStayByteIdenticalInAJunkFile) {
  // Junk, binary bytes, odd line ends and duplicates around the section that is rewritten.
  QByteArray junk;
  QRandomGenerator rng(42);
  for (int i = 0; i < 4000; ++i) junk.append(char(rng.bounded(256)));
  const QByteArray head = "garbage\r\r\n[Other]\nk=v\n" + junk + "\n";
  const QByteArray tail = "[Tail]\r\n=\r\n[Target]\r\nA=dup\r\n\x1a";
  const QByteArray before = head + "[Target]\r\nA=1\r\nB=2\r\n" + tail;
  IniFile ini(before);
  // The junk may hold headers of its own; only assert on it if it holds no "[Target]".
  ini.eraseSection(u"Target");
  ini.writeString(u"Target", u"A", u"3");
  const QByteArray after = ini.toBytes();
  ASSERT_TRUE(after.startsWith(head)) << "the text ahead of the section changed";
  EXPECT_TRUE(after.contains(tail.left(tail.indexOf("A=dup"))));
  const IniFile reread(after);
  EXPECT_EQ(reread.value(u"Target", u"A"), "3");
  EXPECT_EQ(reread.value(u"Other", u"k"), "v");
}

TEST(IniFileTest, OddFilesNeverBreakIt) {
  QRandomGenerator rng(7);
  QByteArray binary(200000, '\0');
  for (char& c : binary) c = char(rng.bounded(256));
  QByteArray brackets;
  for (int i = 0; i < 20000; ++i) brackets.append(i % 3 ? "[" : "]=\n[");
  const QByteArray inputs[] = {
      QByteArray(),
      QByteArray("\xEF\xBB"),
      QByteArray("\xEF\xBB\xBF"),
      QByteArray("["),
      QByteArray("[]"),
      QByteArray("[S"),
      QByteArray("[S]\r"),
      QByteArray("=\n=\n"),
      QByteArray("\r\r\r\n\n"),
      binary,
      brackets,
  };
  for (const QByteArray& in : inputs) {
    IniFile ini(in);
    EXPECT_EQ(ini.toBytes(), in) << "unchanged text must come back unchanged";
    (void)ini.value(u"S", u"");
    (void)ini.value(u"", u"");
    ini.writeString(u"S", u"K", u"v");
    ini.writeString(u"", u"", u"w");
    EXPECT_EQ(IniFile(ini.toBytes()).value(u"S", u"K"), "v");
    ini.eraseSection(u"S");
    if (!in.contains("[S")) {
      EXPECT_FALSE(IniFile(ini.toBytes()).hasSection(u"S"));
    }
  }
}

TEST(IniFileTest, AHundredMegabytesLoadInLinearTime) {
  // Realistic lines in thousands of sections, with the section looked for near the end.
  QByteArray block;
  for (int k = 0; k < 40; ++k) block.append(QStringLiteral("Key%1=  value %1 \r\n").arg(k).toLatin1());
  QByteArray big;
  const qsizetype target = 100 << 20;
  big.reserve(target + 4096);
  for (int s = 0; big.size() < target; ++s) big.append("[Form" + QByteArray::number(s) + "]\r\n" + block);
  big.append("[Wanted]\r\nX=1\r\n");
  QElapsedTimer t;
  t.start();
  IniFile ini(big);
  EXPECT_EQ(ini.value(u"wanted", u"x"), "1");
  for (int k = 0; k < 200; ++k) (void)ini.value(u"Wanted", QStringLiteral("Key%1").arg(k));
  ini.writeString(u"Wanted", u"Y", u"2");
  const QByteArray out = ini.toBytes();
  EXPECT_EQ(out.size(), big.size() + 5);
  // One huge line and one huge section: each a single pass.
  IniFile line(QByteArray(50 << 20, 'a'));
  (void)line.value(u"a", u"a");
  QByteArray oneSection = "[S]\n";
  for (int i = 0; oneSection.size() < (30 << 20); ++i)
    oneSection.append("k" + QByteArray::number(i) + "=1\n");
  IniFile section(oneSection);
  for (int k = 0; k < 200; ++k) (void)section.value(u"S", QStringLiteral("x%1").arg(k));
  EXPECT_LT(t.elapsed(), 30000) << "seconds, not minutes (also under the sanitizers)";
}

class AtomicWriteTest : public ::testing::Test {
 protected:
  QTemporaryDir dir;
  QString path(const QString& name) const { return dir.filePath(name); }
  QStringList entries() const {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  }
};

TEST_F(AtomicWriteTest, ReplacesTheFileKeepingItsPermissions) {
  const QString p = path("state.ini");
  ASSERT_TRUE(writeBytes(p, "old"));
  ASSERT_TRUE(QFile::setPermissions(p, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
  // Root saving an operator's file leaves it the operator's, or the next save as that
  // operator would fail.
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(QFile::encodeName(p).constData(), 4321, 4322), 0);
  }
  QString error;
  ASSERT_TRUE(writeFileAtomically(p, "new", &error)) << error.toStdString();
  if (root) {
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(p).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  EXPECT_EQ(readBytes(p), "new");
  EXPECT_EQ(QFile::permissions(p) & 0x7077, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
  EXPECT_EQ(entries(), QStringList{"state.ini"}) << "no temporary file left";
}

// Links stay links and the file they finally name gets the text, however long the chain.
TEST_F(AtomicWriteTest, WritesThroughChainsOfSymbolicLinks) {
  ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));
  ASSERT_TRUE(writeBytes(path("sub/c.ini"), "old"));
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, const char*>> links;  // link, its text
    const char* written;                                     // the path written to
    const char* real;                                        // where the text must land
  };
  const Case cases[] = {
      {"one link", {{"one.ini", "sub/c.ini"}}, "one.ini", "sub/c.ini"},
      {"a chain with relative texts", {{"a.ini", "b.ini"}, {"b.ini", "sub/c.ini"}}, "a.ini", "sub/c.ini"},
      {"relative to the link's own folder",
       {{"sub/d.ini", "c.ini"}, {"e.ini", "sub/d.ini"}},
       "e.ini",
       "sub/c.ini"},
      {"an absolute text", {{"f.ini", nullptr}}, "f.ini", "sub/c.ini"},
      {"a dangling link creates its target", {{"g.ini", "sub/new.ini"}}, "g.ini", "sub/new.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [link, text] : c.links)
      ASSERT_EQ(::symlink(text ? text : QFile::encodeName(path("sub/c.ini")).constData(),
                          QFile::encodeName(path(link)).constData()),
                0);
    const QByteArray content = QByteArray("new: ") + c.name;
    QString error;
    EXPECT_TRUE(writeFileAtomically(path(c.written), content, &error)) << error.toStdString();
    EXPECT_EQ(readBytes(path(c.real)), content);
    for (const auto& [link, text] : c.links) EXPECT_TRUE(QFileInfo(path(link)).isSymLink()) << link;
  }
  // A loop is refused and creates nothing.
  ASSERT_EQ(::symlink("loop2.ini", QFile::encodeName(path("loop1.ini")).constData()), 0);
  ASSERT_EQ(::symlink("loop1.ini", QFile::encodeName(path("loop2.ini")).constData()), 0);
  const QStringList before = entries();
  EXPECT_FALSE(writeFileAtomically(path("loop1.ini"), "x"));
  EXPECT_EQ(entries(), before);
}

// A file the operator froze with chmod a-w stays as it is, for root too, also through a link.
TEST_F(AtomicWriteTest, AFileWithoutWritePermissionIsNotReplaced) {
  const QString p = path("state.ini");
  ASSERT_TRUE(writeBytes(p, "frozen"));
  ASSERT_TRUE(QFile::setPermissions(p, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
  ASSERT_TRUE(QFile::link(p, path("link.ini")));
  for (const char* name : {"state.ini", "link.ini"}) {
    QString error;
    EXPECT_FALSE(writeFileAtomically(path(name), "new", &error)) << name;
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(readBytes(p), "frozen");
    EXPECT_EQ(QFile::permissions(p) & 0x7077, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
  }
  EXPECT_EQ(entries(), (QStringList{"link.ini", "state.ini"}));
}

// The new text is on the disk before it takes the file's name, and the name change is on the
// disk before the save reports success.
TEST_F(AtomicWriteTest, SyncsTheFileBeforeTheRenameAndTheFolderAfter) {
  const QString p = path("state.ini");
  ASSERT_TRUE(writeBytes(p, "old"));
  struct Call {
    bool folder;
    QByteArray fileName;   // what the descriptor names
    QByteArray contents;   // of the descriptor (a file)
    QByteArray targetNow;  // state.ini at that moment
  };
  std::vector<Call> calls;
  const AtomicWriteSync old = setAtomicWriteSync([&](int fd) {
    struct stat st {};
    ::fstat(fd, &st);
    char name[4096] = {};
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t n = ::readlink(link.constData(), name, sizeof name - 1);
    const QByteArray fileName(name, n > 0 ? n : 0);
    const bool folder = S_ISDIR(st.st_mode);
    calls.push_back(
        {folder, fileName, folder ? QByteArray() : readBytes(QFile::decodeName(fileName)), readBytes(p)});
    return ::fsync(fd);
  });
  const bool ok = writeFileAtomically(p, "new");
  setAtomicWriteSync(old);
  ASSERT_TRUE(ok);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_FALSE(calls[0].folder);
  EXPECT_EQ(calls[0].contents, "new");
  EXPECT_EQ(calls[0].targetNow, "old") << "synced before the rename";
  // The temporary name tells the host and the writer.
  const QString tempName = QFileInfo(QFile::decodeName(calls[0].fileName)).fileName();
  const QString host = QSysInfo::machineHostName().replace(u'.', u'_');
  EXPECT_TRUE(tempName.startsWith(".state.ini." + host + u'.' + QString::number(::getpid()) + u'.'))
      << tempName.toStdString();
  EXPECT_TRUE(calls[1].folder);
  EXPECT_EQ(QFileInfo(QFile::decodeName(calls[1].fileName)).canonicalFilePath(),
            QDir(dir.path()).canonicalPath());
  EXPECT_EQ(calls[1].targetNow, "new") << "the folder synced after the rename";
}

// What crashed saves leave behind goes at the next save of the same file: only files whose
// writer ran on this host and runs no more.
TEST_F(AtomicWriteTest, RemovesTemporaryFilesOfWritersThatNoLongerRun) {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  const QString dead = QString::number(child);
  const QString host = QSysInfo::machineHostName().replace(u'.', u'_');
  const QString self = QString::number(::getpid());
  struct Case {
    QString name;
    bool stays;
  };
  const Case cases[] = {
      {".state.ini." + host + u'.' + dead + ".k3x9~", false},
      {".state.ini." + host + u'.' + dead + ".a1~", false},
      {".state.ini." + host + u'.' + self + ".q0~", true},     // a live writer: this process
      {".state.ini.otherhost." + dead + ".k3x9~", true},       // another host's
      {".Scenes.ini." + host + u'.' + dead + ".k3x9~", true},  // another file's
      {".state.ini.1ab2c3~", true},                            // no writer in the name
      {"state.ini." + host + u'.' + dead + ".k3x9~", true},    // no leading dot
      {".state.ini." + host + u'.' + dead + ".k3x9", true},    // no trailing ~
  };
  for (const Case& c : cases) ASSERT_TRUE(writeBytes(path(c.name), "half"));
  ASSERT_TRUE(writeFileAtomically(path("state.ini"), "new"));
  for (const Case& c : cases) EXPECT_EQ(QFileInfo::exists(path(c.name)), c.stays) << c.name.toStdString();
  EXPECT_EQ(readBytes(path("state.ini")), "new");
}

TEST_F(AtomicWriteTest, FailuresLeaveTheOldFileWhole) {
  QString error;
  // The target is a folder.
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
  EXPECT_FALSE(writeFileAtomically(path("folder.ini"), "x", &error));
  EXPECT_FALSE(error.isEmpty());
  EXPECT_TRUE(QFileInfo(path("folder.ini")).isDir());
  // No such folder.
  EXPECT_FALSE(writeFileAtomically(path("missing/state.ini"), "x"));

  // The disk fills up midway (a file-size limit works for root too): the old text survives.
  const QString p = path("state.ini");
  const QByteArray old(1000, 'o');
  ASSERT_TRUE(writeBytes(p, old));
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = writeFileAtomically(p, QByteArray(100000, 'n'), &error);
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(readBytes(p), old);
  EXPECT_EQ(entries(), (QStringList{"folder.ini", "state.ini"})) << "the half-written file is removed";

  // A read-only folder (root writes anyway: only meaningful for other users).
  if (geteuid() != 0) {
    ASSERT_TRUE(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
    EXPECT_FALSE(writeFileAtomically(p, "n"));
    EXPECT_EQ(readBytes(p), old);
    QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

// Saves as another user in every kind of folder a station's files lie in, against every way a
// save was seen to lose a file: a kill at each sync of the save, a power loss with only the first
// 12 288 bytes of the new text on the disk (then perhaps another user's save, or a replace,
// before the next start), a full disk, a stranger's file or fifo under the name older versions
// kept a copy in, a stranger's link in the file's place. Each save runs in a child that drops
// root; the next load, as the same user, finds the old or the new text whole (or the other
// user's, the old text then kept aside), the file keeps owner, group and mode, no record stays
// in the private state folder and nothing new lies beside the file.
TEST_F(AtomicWriteTest, SavesAsAnotherUserNeverLoseTheFile) {
  if (geteuid() != 0) GTEST_SKIP() << "making files of other users needs root";
  constexpr uid_t kUser = 4001, kOther = 4002;
  constexpr gid_t kShared = 4100;
  const struct Kind {
    const char* name;
    uid_t folderOwner;
    gid_t folderGroup;
    mode_t folderMode;
    uid_t fileOwner;
    gid_t fileGroup;
    mode_t fileMode;
    bool inPlace;
  } kinds[] = {
      {"own folder", kUser, kUser, 0755, kUser, kUser, 0644, false},
      {"another user's group-writable file", kUser, kUser, 0755, kOther, kShared, 0664, true},
      {"root sticky folder", 0, 0, 01777, kOther, kShared, 0660, true},
      {"setgid folder", 0, kShared, 02775, kOther, kShared, 0664, true},
      {"folder that refuses new files", 0, 0, 0755, kUser, kUser, 0644, true},
  };
  enum class Plant { None, Copy, Fifo, Link, DanglingLink };
  enum class Then { Nothing, OtherSaves, Replaced };  // between the save and the next load
  enum Text { Old, New, Other, Untouched };           // Untouched: neither the link nor its target changed
  const struct Fault {
    const char* name;
    int killAtSync;
    bool powerLoss, fullDisk;
    Plant plant;
    Then then;
    int replaceExit, inPlaceExit;  // 0 saved, 1 refused, 3 killed
    Text replaceText, inPlaceText;
  } faults[] = {
      {"no fault", 0, false, false, Plant::None, Then::Nothing, 0, 0, New, New},
      {"killed at the first sync", 1, false, false, Plant::None, Then::Nothing, 3, 3, Old, Old},
      {"killed at the second sync", 2, false, false, Plant::None, Then::Nothing, 3, 3, New, Old},
      {"killed at the third sync", 3, false, false, Plant::None, Then::Nothing, 0, 3, New, New},
      {"killed at the fourth sync", 4, false, false, Plant::None, Then::Nothing, 0, 3, New, New},
      {"power loss", 0, true, false, Plant::None, Then::Nothing, 3, 3, Old, Old},
      {"power loss, then another user saves", 0, true, false, Plant::None, Then::OtherSaves, 3, 3, Other,
       Other},
      {"power loss, then the file is replaced", 0, true, false, Plant::None, Then::Replaced, 3, 3, Other,
       Other},
      {"full disk", 0, false, true, Plant::None, Then::Nothing, 1, 1, Old, Old},
      {"full disk, a stranger's copy planted", 0, false, true, Plant::Copy, Then::Nothing, 1, 1, Old, Old},
      {"a stranger's copy planted", 0, false, false, Plant::Copy, Then::Nothing, 0, 0, New, New},
      {"a fifo planted", 0, false, false, Plant::Fifo, Then::Nothing, 0, 0, New, New},
      {"a stranger's link", 0, false, false, Plant::Link, Then::Nothing, 1, 1, Untouched, Untouched},
      {"a stranger's dangling link", 0, false, false, Plant::DanglingLink, Then::Nothing, 1, 1, Untouched,
       Untouched},
  };
  ASSERT_TRUE(QFile::setPermissions(dir.path(), QFileDevice::Permissions(0x7755)));
  const auto own = [](const QByteArray& p, uid_t u, gid_t g, mode_t m) {
    return ::lchown(p, u, g) == 0 && (m == 0 || ::chmod(p, m) == 0);
  };
  const QString privateHome = path("private"), home = path("home"), notes = home + "/notes.txt";
  for (const QString& f : {privateHome, home})
    ASSERT_TRUE(QDir().mkdir(f) && own(QFile::encodeName(f), kUser, kUser, 0700));
  struct RestoreStateHome {
    QByteArray value = qgetenv("XDG_STATE_HOME");
    ~RestoreStateHome() { qputenv("XDG_STATE_HOME", value); }
  } restoreStateHome;
  qputenv("XDG_STATE_HOME", QFile::encodeName(privateHome));
  const QByteArray texts[] = {"[S]\r\nA=old\r\nB=" + QByteArray(9984, 'o') + "\r\n",
                              "[S]\r\nA=new\r\nB=" + QByteArray(18167, 'n') + "\r\n", "[S]\r\nA=other\r\n"};
  const QByteArray &oldText = texts[Old], &newText = texts[New];
  const QString kept = privateHome + "/qz418";
  // f's result as the user in a child (128 + the signal that ended it).
  auto asUser = [&](const std::function<int()>& f) {
    const pid_t child = ::fork();
    const gid_t groups[] = {kUser, kShared};
    if (child == 0)
      ::_exit(::setgroups(2, groups) == 0 && ::setgid(kUser) == 0 && ::setuid(kUser) == 0 ? f() : 2);
    int status = 0;
    if (::waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  };
  int n = 0;
  for (const Kind& kind : kinds) {
    for (const Fault& fault : faults) {
      SCOPED_TRACE(std::string(kind.name) + ", " + fault.name);
      const QString folder = path(QString::number(n++)), file = folder + "/state.ini";
      const QByteArray f = QFile::encodeName(folder), p = QFile::encodeName(file),
                       copy = f + "/.state.ini.before-save~";
      const QByteArray target =
          QFile::encodeName(fault.plant == Plant::DanglingLink ? home + "/created.ini" : notes);
      ASSERT_TRUE(QDir().mkdir(folder) && writeBytes(notes, "notes") &&
                  own(QFile::encodeName(notes), kUser, kUser, 0));
      if (fault.plant == Plant::Link || fault.plant == Plant::DanglingLink) {
        ASSERT_TRUE(::symlink(target, p) == 0 && own(p, kOther, kOther, 0));
      } else {
        ASSERT_TRUE(writeBytes(file, oldText) && own(p, kind.fileOwner, kind.fileGroup, kind.fileMode));
      }
      if (fault.plant == Plant::Copy) {
        ASSERT_TRUE(writeBytes(QFile::decodeName(copy), "planted") && own(copy, kOther, kShared, 0664));
      }
      if (fault.plant == Plant::Fifo) {
        ASSERT_TRUE(::mkfifo(copy, 0666) == 0 && own(copy, kOther, kShared, 0));
      }
      ASSERT_TRUE(own(f, kind.folderOwner, kind.folderGroup, kind.folderMode));
      const auto entries = [&] {
        return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
      };
      const QStringList entriesBefore = entries(), keptBefore = QDir(kept).entryList({"*.kept"});
      struct stat before {
      }, after{};
      ASSERT_EQ(::lstat(p, &before), 0);

      const int saved = asUser([&] {
        int syncs = 0;
        setAtomicWriteSync([&](int fd) {
          struct stat st {};
          ::fstat(fd, &st);
          if (fault.powerLoss && S_ISREG(st.st_mode) && st.st_size == newText.size()) {
            // What the disk holds then: 12 288 bytes of the new text, the old one's rest, zeros.
            const QByteArray disk =
                (newText.left(12288) + oldText.mid(12288)).leftJustified(newText.size(), '\0');
            ::_exit(st.st_ino != before.st_ino || ::pwrite(fd, disk, size_t(disk.size()), 0) == disk.size()
                        ? 3
                        : 4);
          }
          return ++syncs == fault.killAtSync ? (::_exit(3), 0) : ::fsync(fd);
        });
        const rlimit small{12288, 12288};
        if (fault.fullDisk &&
            (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &small) != 0))
          return 4;
        return writeFileAtomically(file, newText) ? 0 : 1;
      });
      EXPECT_EQ(saved, kind.inPlace ? fault.inPlaceExit : fault.replaceExit);
      if (fault.then == Then::OtherSaves) {
        ASSERT_TRUE(writeBytes(file, texts[Other]));  // in place, as an in-place save of theirs
      } else if (fault.then == Then::Replaced) {
        ASSERT_TRUE(writeBytes(file + '~', texts[Other]) &&
                    own(p + '~', kind.fileOwner, kind.fileGroup, kind.fileMode) && ::rename(p + '~', p) == 0);
      }

      const int loaded = asUser([&] {
        IniFile ini;
        return !ini.load(file) ? 5 : int(ini.value(u"S", u"A").value_or("??").at(1).unicode());
      });
      const Text expected = kind.inPlace ? fault.inPlaceText : fault.replaceText;
      if (expected != Untouched) {
        EXPECT_EQ(loaded, "let"[int(expected)]);  // A's second letter: old, new, other
        EXPECT_EQ(readBytes(file), texts[int(expected)]);
      }
      EXPECT_EQ(readBytes(notes), "notes") << "written through a stranger's link";
      EXPECT_FALSE(QFileInfo::exists(home + "/created.ini")) << "created through a stranger's link";
      // Another user's save after a torn one: the torn write's old text is kept aside.
      QStringList keptNow = QDir(kept).entryList({"*.kept"});
      for (const QString& k : keptBefore) keptNow.removeOne(k);
      ASSERT_EQ(keptNow.size(), fault.then == Then::OtherSaves && kind.inPlace ? 1 : 0);
      EXPECT_EQ(keptNow.isEmpty() ? oldText : readBytes(kept + u'/' + keptNow[0]), oldText);
      ASSERT_EQ(::lstat(p, &after), 0);
      const bool link = S_ISLNK(before.st_mode);
      EXPECT_EQ(std::tuple(after.st_uid, after.st_gid, after.st_mode & (link ? S_IFMT : 07777)),
                std::tuple(before.st_uid, before.st_gid, before.st_mode & (link ? S_IFMT : 07777)));
      if (saved == 0) {
        EXPECT_EQ(after.st_ino == before.st_ino, kind.inPlace);
      }
      // A killed replace may leave its temporary file, which the next save removes.
      QStringList entriesAfter = entries();
      entriesAfter.removeIf([](const QString& e) { return e.endsWith(u'~') && !e.endsWith("before-save~"); });
      EXPECT_EQ(entriesAfter, entriesBefore);
      if (fault.plant == Plant::Copy) {
        EXPECT_EQ(readBytes(QFile::decodeName(copy)), "planted");
      }
      EXPECT_EQ(QDir(kept).entryList({"*.rec"}), QStringList()) << "a record stays";
    }
  }
}

TEST_F(AtomicWriteTest, LoadTellsAMissingFileFromAnUnreadableOne) {
  IniFile ini;
  EXPECT_TRUE(ini.load(path("none.ini")));
  EXPECT_FALSE(ini.hasSection(u"S"));
  ASSERT_TRUE(QDir(dir.path()).mkdir("folder.ini"));
  EXPECT_FALSE(ini.load(path("folder.ini")));
  // A device reads as empty, a pipe blocks: neither is a file the program wrote, and a save
  // must not go on to replace it.
  ASSERT_TRUE(QFile::link("/dev/null", path("device.ini")));
  EXPECT_FALSE(ini.load(path("device.ini")));
  ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.ini")).constData(), 0600), 0);
  EXPECT_FALSE(ini.load(path("pipe.ini")));
  ASSERT_TRUE(writeBytes(path("a.ini"), "[S]\nA=1\n"));
  ASSERT_TRUE(ini.load(path("a.ini")));
  ini.writeString(u"S", u"B", u"2");
  ASSERT_TRUE(ini.save(path("a.ini")));
  EXPECT_EQ(readBytes(path("a.ini")), "[S]\nA=1\nB=2\r\n");
}

}  // namespace
