#include "persist/atomic_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>

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

// The file a chain of symbolic links at path finally names; path itself when it is no link.
// A link text that is relative counts from the folder holding the link, as the kernel takes
// it; nothing is cleaned up lexically, since ".." after a linked folder means its real parent.
// A name that does not exist ends the chain: that is the file to create.
std::optional<QByteArray> finalTarget(QByteArray path, int* err) {
  for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0) {
      if (errno == ENOENT) return path;
      *err = errno;
      return std::nullopt;
    }
    if (!S_ISLNK(st.st_mode)) return path;
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

// Rewrites an open file's whole text in place and waits for the disk.
bool rewriteOpenFile(int fd, QByteArrayView data) {
  return writeAllAt(fd, data) && ::ftruncate(fd, off_t(data.size())) == 0 && syncFd(fd) == 0;
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
  QByteArray copyPath() const { return folder + '/' + unfinishedSaveCopyName(name); }
};

std::optional<Target> resolveTarget(const QString& path, QString* why) {
  if (path.isEmpty()) {
    *why = QStringLiteral("no file name");
    return std::nullopt;
  }
  QByteArray start = QFile::encodeName(path);
  if (!start.startsWith('/')) start = QFile::encodeName(QDir::currentPath()) + '/' + start;
  int err = 0;
  const std::optional<QByteArray> resolved = finalTarget(start, &err);
  if (!resolved) {
    *why = errorText(err);
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

// The copy of the old text that an in-place save keeps beside the file. Nobody who could not
// read the file may read it: the group bits are kept only where the copy belongs to the file's
// group as well.
bool writeUnfinishedSaveCopy(const QByteArray& copy, const struct stat& file, QByteArrayView text) {
  const int fd = ::open(copy.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  const bool fileGroup = ::fchown(fd, uid_t(-1), file.st_gid) == 0;
  const bool ok =
      ::fchmod(fd, file.st_mode & (fileGroup ? 0666 : 0606)) == 0 && writeAllAt(fd, text) && syncFd(fd) == 0;
  const int err = errno;
  ::close(fd);
  if (!ok) {
    ::unlink(copy.constData());
    errno = err;
  }
  return ok;
}

// A save that cannot replace the file keeping its owner, group and ACLs writes into the file
// itself, which keeps them all. A crash in the middle would leave a torn text, so the old text
// is first copied beside the file and synced; the copy goes once the new text is on the disk,
// and a load that finds it puts it back. A copy already there is the last whole text (its save
// did not finish and no load has put it back yet), so it is kept as it is.
bool writeInPlace(const Target& t, const struct stat& st, QByteArrayView data, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const int fd = ::open(t.path.constData(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return fail(errorText(errno));
  auto closeAndFail = [&](const QString& why) {
    ::close(fd);
    return fail(why);
  };
  struct stat now {};
  if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode) || now.st_dev != st.st_dev || now.st_ino != st.st_ino)
    return closeAndFail(QStringLiteral("the file was replaced while it was being saved"));
  const QByteArray copy = t.copyPath();
  struct stat cst {};
  const bool kept = ::lstat(copy.constData(), &cst) == 0;
  auto copyFailure = [&](int err) { return QFile::decodeName(copy) + QStringLiteral(": ") + errorText(err); };
  if (kept && !S_ISREG(cst.st_mode)) return closeAndFail(copyFailure(EEXIST));
  QByteArray old;
  if (!kept) {
    if (!readAllAt(fd, &old)) return closeAndFail(errorText(errno));
    if (!writeUnfinishedSaveCopy(copy, st, old)) return closeAndFail(copyFailure(errno));
    // The copy's name is on the disk before the file changes.
    syncFolder(t.folder);
  }
  if (!rewriteOpenFile(fd, data)) {
    const QString why = errorText(errno);
    // The old text back; where even that fails, the copy stays for the next load.
    if (!kept && rewriteOpenFile(fd, old)) ::unlink(copy.constData());
    return closeAndFail(why);
  }
  ::close(fd);
  if (::unlink(copy.constData()) != 0)
    return fail(QStringLiteral("saved, but the copy of the old text cannot be removed: ") +
                copyFailure(errno));
  syncFolder(t.folder);
  return true;
}

// Whether the copy beside file was written by someone the file's mode lets write it: a stranger
// who may create files in a shared folder must not choose the text a load puts back.
bool copyTrusted(const struct stat& copy, const struct stat& file) {
  if (!S_ISREG(copy.st_mode) || copy.st_nlink != 1) return false;
  if (copy.st_uid == ::geteuid() || copy.st_uid == 0 || copy.st_uid == file.st_uid) return true;
  // The writer made the copy its group's only when it is a member of it.
  if (copy.st_gid == file.st_gid && (file.st_mode & S_IWGRP)) return true;
  return (file.st_mode & S_IWOTH) != 0;
}

}  // namespace

AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync) {
  AtomicWriteSync old = std::move(syncOverride());
  syncOverride() = std::move(sync);
  return old;
}

QByteArray unfinishedSaveCopyName(const QByteArray& fileName) { return '.' + fileName + ".before-save~"; }

bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  QString why;
  const std::optional<Target> t = resolveTarget(path, &why);
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
  // A copy of an unfinished in-place save holds a text that is now replaced as a whole; left
  // there, the next load would put it back.
  const QByteArray copy = t->copyPath();
  if (::unlink(copy.constData()) == 0) {
    syncFolder(t->folder);
  } else if (errno != ENOENT) {
    const int err = errno;
    return fail(QStringLiteral("saved, but the copy of an earlier text cannot be removed: ") +
                QFile::decodeName(copy) + QStringLiteral(": ") + errorText(err));
  }
  return true;
}

UnfinishedSave recoverUnfinishedSave(const QString& path) {
  UnfinishedSave r;
  QString why;
  const std::optional<Target> t = resolveTarget(path, &why);
  if (!t) return r;
  const QByteArray copy = t->copyPath();
  struct stat cst {};
  if (::lstat(copy.constData(), &cst) != 0) return r;
  r.copyPath = QFile::decodeName(copy);
  r.outcome = UnfinishedSave::Outcome::Ignored;
  struct stat st {};
  if (::stat(t->path.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
    r.problem = QStringLiteral("the file itself is missing");
    return r;
  }
  if (!copyTrusted(cst, st)) {
    r.problem = QStringLiteral("it was not written by a user who may write the file");
    return r;
  }
  const int in = ::open(copy.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  struct stat opened {};
  if (in < 0 || ::fstat(in, &opened) != 0 || opened.st_ino != cst.st_ino || !readAllAt(in, &r.text)) {
    r.problem = errorText(errno);
    if (in >= 0) ::close(in);
    return r;
  }
  ::close(in);
  r.outcome = UnfinishedSave::Outcome::ReadFromCopy;
  const QString file = QFile::decodeName(t->path);
  if (!modeAllowsWrite(file)) {
    r.problem = errorText(EACCES);
    return r;
  }
  const int fd = ::open(t->path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0 || !rewriteOpenFile(fd, r.text)) {
    r.problem = errorText(errno);
    if (fd >= 0) ::close(fd);
    return r;
  }
  ::close(fd);
  r.outcome = UnfinishedSave::Outcome::Restored;
  // Left there (a sticky folder keeps another user's copy), it only says again what the file says.
  if (::unlink(copy.constData()) != 0)
    r.problem = errorText(errno);
  else
    syncFolder(t->folder);
  return r;
}
