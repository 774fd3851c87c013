#include "persist/atomic_write.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
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

}  // namespace

AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync) {
  AtomicWriteSync old = std::move(syncOverride());
  syncOverride() = std::move(sync);
  return old;
}

bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  if (path.isEmpty()) return fail(QStringLiteral("no file name"));
  QByteArray start = QFile::encodeName(path);
  if (!start.startsWith('/')) start = QFile::encodeName(QDir::currentPath()) + '/' + start;
  int err = 0;
  const std::optional<QByteArray> resolved = finalTarget(start, &err);
  if (!resolved) return fail(errorText(err));
  const QByteArray& target = *resolved;
  const qsizetype slash = target.lastIndexOf('/');
  const QByteArray folder = slash > 0 ? target.left(slash) : QByteArray("/");
  const QByteArray name = target.mid(slash + 1);
  if (name.isEmpty()) return fail(QStringLiteral("is a folder"));

  struct stat st {};
  const bool existed = ::stat(target.constData(), &st) == 0;
  if (existed && S_ISDIR(st.st_mode)) return fail(QStringLiteral("is a folder"));
  if (existed && !modeAllowsWrite(QFile::decodeName(target))) return fail(errorText(EACCES));

  removeStaleTemporaries(folder, name);

  const QByteArray tempPrefix =
      folder + "/." + name + '.' + hostTag() + '.' + QByteArray::number(::getpid()) + '.';
  int fd = -1;
  QByteArray tempName;
  for (int attempt = 0; attempt < 64 && fd < 0; ++attempt) {
    tempName = tempPrefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36) + '~';
    fd = ::open(tempName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(errorText(errno));
  auto abandon = [&] {
    const QString why = errorText(errno);
    if (fd >= 0) ::close(fd);
    ::unlink(tempName.constData());
    return fail(why);
  };
  if (existed) {
    // Owner first: changing it may clear the set-id bits that the mode then restores.
    (void)::fchown(fd, st.st_uid, st.st_gid);
    (void)::fchmod(fd, st.st_mode & 07777);
  }
  const char* p = data.data();
  qsizetype left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, size_t(std::min<qsizetype>(left, 1 << 20)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return abandon();
    }
    p += n;
    left -= n;
  }
  // The contents reach the disk before the name does: a crash after the rename must not
  // leave an empty file under the target's name.
  if (syncFd(fd) != 0) return abandon();
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return abandon();
  if (::rename(tempName.constData(), target.constData()) != 0) return abandon();
  // The rename itself reaches the disk with the folder's entry.
  const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    (void)syncFd(dirFd);
    ::close(dirFd);
  }
  return true;
}
