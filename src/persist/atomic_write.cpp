#include "persist/atomic_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

#include "persist/file_notices.h"
#include "persist/unfinished_write.h"
#include "platform/executable_path.h"
#include "platform/write_permission.h"

namespace {

AtomicWriteSync& syncOverride() {
  static AtomicWriteSync sync;
  return sync;
}

int syncFd(int fd) {
  const AtomicWriteSync& sync = syncOverride();
  return sync ? sync(fd) : ::fsync(fd);
}

QString errorText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// The kernel's own limit on links followed for one path.
constexpr int kMaxLinkHops = 40;

// Who may have a link followed: the running user's own links, and those of the folder's owner
// (who could replace the file anyway). Anyone else's link in a folder they may write to (a
// sticky shared folder, a group folder) would make the program write wherever they point.
bool linkMayBeFollowed(const QByteArray& link, const struct stat& st) {
  if (st.st_uid == ::geteuid()) return true;
  const qsizetype slash = link.lastIndexOf('/');
  const QByteArray folder = slash > 0 ? link.left(slash) : QByteArray("/");
  struct stat fst {};
  return ::stat(folder.constData(), &fst) == 0 && fst.st_uid == st.st_uid;
}

// The file a chain of symbolic links at path finally names; path itself when it is no link.
// A link text that is relative counts from the folder holding the link, as the kernel takes
// it; nothing is cleaned up lexically, since ".." after a linked folder means its real parent.
// A name that does not exist ends the chain: that is the file to create. A link that may not be
// followed ends it with EPERM, its path in *refused.
std::optional<QByteArray> finalTarget(QByteArray path, int* err, QByteArray* refused) {
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
      if (errno == ENOENT) return path;
      *err = errno;
      return std::nullopt;
    }
    if (!S_ISLNK(st.st_mode)) return path;
    if (!linkMayBeFollowed(path, st)) {
      *err = EPERM;
      *refused = path;
      return std::nullopt;
    }
    // st_size is the link text's length, but the link may change in between: grow until it fits.
    QByteArray text(qsizetype(std::max<off_t>(st.st_size, 64)) + 1, '\0');
    for (;;) {
      const ssize_t n = ::readlink(path.constData(), text.data(), size_t(text.size()));
      if (n < 0) {
        *err = errno;
        return std::nullopt;
      }
      if (n < text.size()) {
        text.truncate(n);
        break;
      }
      if (text.size() > PATH_MAX * 4) {
        *err = ENAMETOOLONG;
        return std::nullopt;
      }
      text.resize(text.size() * 2);
    }
    if (text.startsWith('/')) {
      path = text;
    } else {
      path.truncate(path.lastIndexOf('/') + 1);
      path += text;
    }
  }
  *err = ELOOP;
  return std::nullopt;
}

// This host's name as temporary names carry it: no dots (they separate the parts), only
// characters every file system takes.
const QByteArray& hostTag() {
  static const QByteArray tag = [] {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) buf[0] = '\0';
    QByteArray t;
    for (const char* p = buf; *p && t.size() < 64; ++p) {
      const char c = *p;
      const bool plain =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
      t.append(plain ? c : '_');
    }
    return t.isEmpty() ? QByteArray("host") : t;
  }();
  return tag;
}

bool processRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

// The writer's pid when entry is a temporary file of target written on this host, else 0.
// Names: ".<target>.<host>.<pid>.<random>~".
pid_t writerOnThisHost(const QByteArray& target, QByteArrayView entry) {
  const QByteArray prefix = '.' + target + '.' + hostTag() + '.';
  if (!entry.startsWith(prefix) || !entry.endsWith('~')) return 0;
  const QByteArrayView rest = entry.sliced(prefix.size(), entry.size() - prefix.size() - 1);
  const qsizetype dot = rest.indexOf('.');
  if (dot <= 0 || dot > 10 || dot + 1 >= rest.size()) return 0;
  long long pid = 0;
  for (char c : rest.first(dot)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  for (char c : rest.sliced(dot + 1))
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return 0;
  return pid > 0 && pid <= INT_MAX ? pid_t(pid) : 0;
}

// A crash between creating the temporary file and the rename leaves it behind; its writer's
// pid tells whether it is still at work.
void removeStaleTemporaries(const QByteArray& folder, const QByteArray& target) {
  DIR* d = ::opendir(folder.constData());
  if (!d) return;
  const pid_t self = ::getpid();
  while (const dirent* e = ::readdir(d)) {
    const QByteArrayView name(e->d_name);
    const pid_t writer = writerOnThisHost(target, name);
    if (writer == 0 || writer == self || processRuns(writer)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
      (void)::unlinkat(::dirfd(d), e->d_name, 0);
  }
  ::closedir(d);
}

// pwrite from offset 0 until all of data is written.
bool writeAllAt(int fd, QByteArrayView data) {
  qsizetype done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd, data.data() + done,
                               size_t(std::min<qsizetype>(data.size() - done, 1 << 20)), off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    done += n;
  }
  return true;
}

// The whole file from offset 0, however its size changes meanwhile.
bool readAllAt(int fd, QByteArray* out) {
  out->clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, off_t(out->size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, n);
  }
}

// A rename, a new name or a removed one reaches the disk with the folder's entry.
void syncFolder(const QByteArray& folder) {
  const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)syncFd(dirFd);
    ::close(dirFd);
  }
}

// The file that a save of path replaces, split into its folder and name.
struct Target {
  QByteArray path, folder, name;
};

std::optional<Target> resolveTarget(const QString& path, QString* why, QString* refusedLink) {
  if (path.isEmpty()) {
    *why = QStringLiteral("no file name");
    return std::nullopt;
  }
  QByteArray start = QFile::encodeName(path);
  if (!start.startsWith('/')) start = QFile::encodeName(QDir::currentPath()) + '/' + start;
  int err = 0;
  QByteArray refused;
  const std::optional<QByteArray> resolved = finalTarget(start, &err, &refused);
  if (!resolved) {
    if (!refused.isEmpty()) {
      if (refusedLink) *refusedLink = QFile::decodeName(refused);
      *why = QFile::decodeName(refused) + QStringLiteral(": a link of another user is not followed");
    } else {
      *why = errorText(err);
    }
    return std::nullopt;
  }
  Target t;
  t.path = *resolved;
  const qsizetype slash = t.path.lastIndexOf('/');
  t.folder = slash > 0 ? t.path.left(slash) : QByteArray("/");
  t.name = t.path.mid(slash + 1);
  if (t.name.isEmpty()) {
    *why = QStringLiteral("is a folder");
    return std::nullopt;
  }
  return t;
}

// The access ACL of the file at from onto the open file; true also when there is none to copy
// (a file without one has only its mode bits, which fchmod has given it already).
bool copyAccessAcl(const QByteArray& from, int toFd) {
  static const char kAcl[] = "system.posix_acl_access";
  QByteArray acl(256, '\0');
  for (;;) {
    const ssize_t n = ::getxattr(from.constData(), kAcl, acl.data(), size_t(acl.size()));
    if (n >= 0) {
      acl.truncate(n);
      break;
    }
    if (errno == ENODATA || errno == ENOTSUP) return true;
    if (errno != ERANGE || acl.size() > (1 << 20)) return false;
    acl.resize(acl.size() * 4);
  }
  return ::fsetxattr(toFd, kAcl, acl.constData(), size_t(acl.size()), 0) == 0;
}

// ---- The record of an in-place write, in the private state folder -----------------------

// A file of the private folder: written under a temporary name, synced, renamed, the folder
// synced. Nobody else may enter the folder, so the names are ours.
bool writePrivateFile(const QByteArray& folder, const QByteArray& name, QByteArrayView bytes,
                      bool exclusive) {
  const QByteArray temp = folder + "/." + name + '.' + QByteArray::number(::getpid()) + ".tmp";
  const QByteArray final = folder + '/' + name;
  const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  bool ok = writeAllAt(fd, bytes) && syncFd(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  // A kept copy never replaces another: link() fails when the name is taken.
  if (ok)
    ok = exclusive ? ::link(temp.constData(), final.constData()) == 0
                   : ::rename(temp.constData(), final.constData()) == 0;
  if (!ok) err = errno;
  if (exclusive || !ok) ::unlink(temp.constData());
  if (ok) syncFolder(folder);
  errno = err;
  return ok;
}

QByteArray privateFolder(bool create) { return QFile::encodeName(privateStateFolder(create)); }

// The record of path's last in-place write; nullopt when there is none (or none that is ours).
std::optional<QByteArray> readRecord(const QByteArray& recordPath) {
  const int fd = ::open(recordPath.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  QByteArray bytes;
  const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                  st.st_nlink == 1 && readAllAt(fd, &bytes);
  ::close(fd);
  return ok ? std::optional(bytes) : std::nullopt;
}

void removeRecord(const QByteArray& folder, const QByteArray& recordPath) {
  if (::unlink(recordPath.constData()) == 0) syncFolder(folder);
}

QString keepCopy(const QString& originalPath, QByteArrayView bytes, QString* error) {
  const QByteArray folder = privateFolder(true);
  if (folder.isEmpty()) {
    if (error) *error = QStringLiteral("no private state folder");
    return QString();
  }
  const QByteArray base =
      QFile::encodeName(QFileInfo(originalPath).fileName()) + '.' +
      QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")).toLatin1();
  for (int n = 1; n < 1000; ++n) {
    const QByteArray name = base + (n > 1 ? '-' + QByteArray::number(n) : QByteArray()) + ".kept";
    if (writePrivateFile(folder, name, bytes, true)) return QFile::decodeName(folder + '/' + name);
    if (errno != EEXIST) break;
  }
  if (error) *error = errorText(errno);
  return QString();
}

// Writes data over the open file from offset 0 and truncates it to data's length, synced.
bool rewriteOpenFile(int fd, QByteArrayView data) {
  return writeAllAt(fd, data) && ::ftruncate(fd, off_t(data.size())) == 0 && syncFd(fd) == 0;
}

// A save that cannot replace the file keeping its owner, group and ACLs writes into the file
// itself, which keeps them all. See writeFileAtomically() for the order of the steps.
bool writeInPlace(const Target& t, const struct stat& st, QByteArrayView data, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const QByteArray folder = privateFolder(true);
  if (folder.isEmpty())
    return fail(QStringLiteral("no private state folder for the record of an in-place save"));
  // A record of an earlier write of this file is settled first, as a load would.
  (void)recoverUnfinishedWrite(QFile::decodeName(t.path));

  const int fd = ::open(t.path.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return fail(errorText(errno));
  auto closeAndFail = [&](const QString& why) {
    ::close(fd);
    return fail(why);
  };
  struct stat now {};
  if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
    return closeAndFail(QStringLiteral("the file was replaced while it was being saved"));
  QByteArray old;
  if (!readAllAt(fd, &old)) return closeAndFail(errorText(errno));
  if (old == data) {
    ::close(fd);
    return true;
  }
  const QByteArray recordName = unfinishedWriteRecordName(t.path);
  const QByteArray recordPath = folder + '/' + recordName;
  const UnfinishedWriteRecord record =
      UnfinishedWriteRecord::make(quint64(now.st_dev), quint64(now.st_ino), t.path, old, data);
  if (!writePrivateFile(folder, recordName, record.encode(), false))
    return closeAndFail(QFile::decodeName(recordPath) + QStringLiteral(": ") + errorText(errno));

  // The whole new length is taken from the disk before a byte changes: a full disk then stops
  // the save here, the file untouched. (glibc reserves by writing where the file system has no
  // fallocate; where it cannot reserve at all, the write below goes ahead unreserved.)
  if (data.size() > old.size()) {
    const int r = ::posix_fallocate(fd, 0, off_t(data.size()));
    if (r != 0 && r != EOPNOTSUPP && r != ENOSYS && r != EINVAL) {
      // A reservation that failed may have grown the file: its old length back.
      struct stat grown {};
      if (::fstat(fd, &grown) == 0 && grown.st_size != off_t(old.size())) {
        if (::ftruncate(fd, off_t(old.size())) != 0 || syncFd(fd) != 0) return closeAndFail(errorText(r));
      }
      removeRecord(folder, recordPath);
      return closeAndFail(errorText(r));
    }
  }
  if (!rewriteOpenFile(fd, data)) {
    const QString why = errorText(errno);
    // The old text back at once; where even that fails, the record stays for the next load.
    if (rewriteOpenFile(fd, old)) removeRecord(folder, recordPath);
    return closeAndFail(why);
  }
  ::close(fd);
  removeRecord(folder, recordPath);
  return true;
}

}  // namespace

AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync) {
  AtomicWriteSync old = std::move(syncOverride());
  syncOverride() = std::move(sync);
  return old;
}

bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error, QString* refusedLink) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  QString why;
  const std::optional<Target> t = resolveTarget(path, &why, refusedLink);
  if (!t) return fail(why);
  const QByteArray& target = t->path;

  struct stat st {};
  const bool existed = ::stat(target.constData(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return fail(QStringLiteral("is a folder"));
  if (existed && !modeAllowsWrite(QFile::decodeName(target))) return fail(errorText(EACCES));

  removeStaleTemporaries(t->folder, t->name);

  const QByteArray tempPrefix =
      t->folder + "/." + t->name + '.' + hostTag() + '.' + QByteArray::number(::getpid()) + '.';
  int fd = -1;
  QByteArray tempName;
  for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
    tempName = tempPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + '~';
    fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  // A folder that refuses new names (another user's) may still hold a file the mode lets us write.
  if (fd < 0 && existed && (errno == EACCES || errno == EPERM)) return writeInPlace(*t, st, data, error);
  if (fd < 0) return fail(errorText(errno));
  auto abandon = [&] {
    const QString why = errorText(errno);
    if (fd >= 0) ::close(fd);
    ::unlink(tempName.constData());
    return fail(why);
  };
  auto inPlace = [&] {
    if (fd >= 0) ::close(fd);
    ::unlink(tempName.constData());
    return writeInPlace(*t, st, data, error);
  };
  // The new file must come out as the old one was: another user's file, or one of a group the
  // user cannot give files to, is written in place instead. Root can give any owner, so root
  // keeps the replace. Owner first: changing it may clear the set-id bits that the mode then
  // restores; the ACL last, since fchmod would change its mask.
  if (existed && (::fchown(fd, st.st_uid, st.st_gid) != 0 || ::fchmod(fd, st.st_mode & 07777) != 0 ||
                  !copyAccessAcl(target, fd)))
    return inPlace();
  if (!writeAllAt(fd, data)) return abandon();
  // The contents reach the disk before the name does: a crash after the rename must not
  // leave an empty file under the target's name.
  if (syncFd(fd) != 0) return abandon();
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return abandon();
  if (::rename(tempName.constData(), target.constData()) != 0) {
    // A sticky folder refuses to rename over a file of another user.
    if (existed && (errno == EACCES || errno == EPERM)) return inPlace();
    return abandon();
  }
  syncFolder(t->folder);
  return true;
}

UnfinishedWrite recoverUnfinishedWrite(const QString& path) {
  UnfinishedWrite r;
  QString why;
  const std::optional<Target> t = resolveTarget(path, &why, nullptr);
  if (!t) return r;
  const QByteArray folder = privateFolder(false);
  if (folder.isEmpty()) return r;
  const QByteArray recordPath = folder + '/' + unfinishedWriteRecordName(t->path);
  const std::optional<QByteArray> bytes = readRecord(recordPath);
  if (!bytes) return r;
  const std::optional<UnfinishedWriteRecord> record = UnfinishedWriteRecord::decode(*bytes);
  struct stat st {};
  // Incomplete (the write had not begun), of another file, or of a file replaced since.
  if (!record || record->path != t->path || ::stat(t->path.constData(), &st) != 0 ||
      quint64(st.st_dev) != record->device || quint64(st.st_ino) != record->inode) {
    removeRecord(folder, recordPath);
    return r;
  }
  const QString file = QFile::decodeName(t->path);
  const int in = ::open(t->path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
  QByteArray text;
  struct stat opened {};
  const bool read = in >= 0 && ::fstat(in, &opened) == 0 && S_ISREG(opened.st_mode) &&
                    opened.st_ino == st.st_ino && readAllAt(in, &text);
  if (in >= 0) ::close(in);
  if (!read) return r;  // judged by a load that can read the file
  switch (compareWithRecord(*record, text)) {
    case FileAgainstRecord::OldText:
    case FileAgainstRecord::NewText:
      removeRecord(folder, recordPath);
      return r;
    case FileAgainstRecord::TornWrite: {
      const int fd = ::open(t->path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
      const bool restored = fd >= 0 && rewriteOpenFile(fd, record->oldText);
      const int err = errno;
      if (fd >= 0) ::close(fd);
      r.text = record->oldText;
      if (restored) {
        removeRecord(folder, recordPath);
        r.outcome = UnfinishedWrite::Outcome::Restored;
        reportFileNotice(
            QStringLiteral("Запись в файл %1 не была закончена: прежний текст файла возвращён").arg(file));
      } else {
        r.outcome = UnfinishedWrite::Outcome::ReadOld;
        reportFileNotice(QStringLiteral("Запись в файл %1 не была закончена; прежний текст прочитан из %2, "
                                        "вернуть его в файл нельзя: %3")
                             .arg(file, QFile::decodeName(recordPath), errorText(err)));
      }
      return r;
    }
    case FileAgainstRecord::Other: {
      QString problem;
      r.keptCopy = keepCopy(file, record->oldText, &problem);
      if (r.keptCopy.isEmpty()) {
        reportFileNotice(QStringLiteral("Файл %1 записан другим после незаконченной записи; прежний текст "
                                        "остаётся в %2: %3")
                             .arg(file, QFile::decodeName(recordPath), problem));
        return r;
      }
      removeRecord(folder, recordPath);
      r.outcome = UnfinishedWrite::Outcome::KeptAside;
      reportFileNotice(
          QStringLiteral("Файл %1 записан другим после незаконченной записи; прежний текст сохранён в %2")
              .arg(file, r.keptCopy));
      return r;
    }
  }
  return r;
}

QString keepDatedCopy(const QString& originalPath, QByteArrayView bytes, QString* error) {
  return keepCopy(originalPath, bytes, error);
}
