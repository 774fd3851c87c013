#include "platform/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QFile>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/executable_path.h"
#include "platform/write_permission.h"

namespace {

// A real folder (not a link) of the running user that nobody else may enter.
bool isPrivateFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
         (st.st_mode & 077) == 0;
}

// The folder when it is private, after making it (0700) if it was missing.
bool usableFolder(const std::string& path, bool create) {
  if (path.empty() || path[0] != '/') return false;
  if (create && ::mkdir(path.c_str(), 0700) == 0) ::chmod(path.c_str(), 0700);  // past the umask
  return isPrivateFolder(path);
}

std::string homeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home == '/') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/') return pw->pw_dir;
  return {};
}

enum class LockResult { Taken, Refused, Failed };

// An exclusive flock on fd, which is closed unless the lock is taken.
LockResult lockOrClose(int& fd) {
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockResult::Taken;
    if (errno == EINTR) continue;
    const bool held = errno == EWOULDBLOCK;
    ::close(fd);
    fd = -1;
    return held ? LockResult::Refused : LockResult::Failed;
  }
}

// The home folder of the user's account, whatever the environment says.
std::string accountHome() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir && *pw->pw_dir == '/') return pw->pw_dir;
  return {};
}

// Opens the lock file of the state files for writing, making it with mode when missing; an
// existing one of the user's own gets that mode too (older versions made it 0644, which let any
// reader hold it). Never opened for reading only: whoever cannot write it cannot lock us out.
// An existing file is never opened with O_CREAT: a sticky folder refuses that for another user's.
int openStateLock(const std::string& path, mode_t mode) {
  constexpr int kFlags = O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = ::open(path.c_str(), kFlags);
    if (fd >= 0) {
      struct stat st {};
      if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0777) != mode)
        ::fchmod(fd, mode);
      return fd;
    }
    if (errno != ENOENT) return -1;
    fd = ::open(path.c_str(), kFlags | O_CREAT | O_EXCL, mode);
    if (fd >= 0) {
      ::fchmod(fd, mode);  // past the umask
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Whether the user may make files in the state folder: the mode bits for root (who could write
// anywhere, but keeps out of folders the bits close), the kernel's own answer (ACLs included)
// for anyone else.
bool mayWriteFolder(const std::string& folder) {
  if (::geteuid() == 0) return modeAllowsWrite(QFile::decodeName(folder.c_str()));
  return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

// 0660 where the folder is group-writable (users sharing it), else 0600.
mode_t stateLockMode(const std::string& folder) {
  struct stat st {};
  return ::stat(folder.c_str(), &st) == 0 && (st.st_mode & S_IWGRP) ? 0660 : 0600;
}

int openedRegularFile(int fd) {
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

SingleInstanceGuard::Places SingleInstanceGuard::defaultPlaces() {
  Places p;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR")) p.runtime = xdg;
  p.shared = "/tmp/qz418-" + std::to_string(::getuid());
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
    p.cache = std::string(cache) + "/qz418";
  else if (const std::string home = homeFolder(); !home.empty())
    p.cache = home + "/.cache/qz418";
  p.state = QFile::encodeName(stateLocation().saveFolder).toStdString();
  p.stateFallbacks.push_back(p.shared);
  if (const std::string home = accountHome(); !home.empty())
    p.stateFallbacks.push_back(home + "/.cache/qz418");
  return p;
}

std::string SingleInstanceGuard::lockFolder(const Places& places) {
  // The session's runtime folder is the system's to make; the others are ours.
  if (usableFolder(places.runtime, false)) return places.runtime;
  if (usableFolder(places.shared, true)) return places.shared;
  if (!places.cache.empty()) {
    // ~/.cache may not exist yet on a fresh account; it is private to the user like the rest.
    const std::size_t slash = places.cache.find_last_of('/');
    if (slash != std::string::npos && slash > 0) ::mkdir(places.cache.substr(0, slash).c_str(), 0700);
    if (usableFolder(places.cache, true)) return places.cache;
  }
  return {};
}

SingleInstanceGuard::SingleInstanceGuard(const std::string& name, const Places& places) {
  const std::string folder = lockFolder(places);
  if (!folder.empty()) {
    path_ = folder + "/" + name + ".lock";
    // O_NOFOLLOW: a link in the lock's place is never followed, whoever put it there. A fifo or
    // a device in a private folder is nothing to lock safely either.
    fd_ = openedRegularFile(
        ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    struct stat st {};
    if (fd_ >= 0 && (::fstat(fd_, &st) != 0 || st.st_uid != ::getuid())) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0 && lockOrClose(fd_) == LockResult::Refused) {
      state_ = State::AlreadyRunning;
      return;
    }
  }
  if (!places.state.empty()) {
    // Missing only for an installed copy's config folder before its first save.
    createPrivateFolder(QFile::decodeName(places.state.c_str()));
    if (mayWriteFolder(places.state)) {
      statePath_ = places.state + "/." + name + ".lock";
      stateFd_ = openedRegularFile(openStateLock(statePath_, stateLockMode(places.state)));
    }
    if (stateFd_ < 0) {
      std::string fallback;
      for (const std::string& f : places.stateFallbacks) {
        const std::size_t slash = f.find_last_of('/');
        // ~/.cache may not exist yet on a fresh account; it is private to the user like the rest.
        if (slash != std::string::npos && slash > 0) ::mkdir(f.substr(0, slash).c_str(), 0700);
        if (usableFolder(f, true)) {
          fallback = f;
          break;
        }
      }
      char real[PATH_MAX];
      const QByteArray key =
          ::realpath(places.state.c_str(), real) ? QByteArray(real) : QByteArray::fromStdString(places.state);
      const QByteArray hash = QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(32);
      statePath_ =
          fallback.empty() ? std::string() : fallback + "/" + name + "-state-" + hash.toStdString() + ".lock";
      if (!statePath_.empty()) stateFd_ = openedRegularFile(openStateLock(statePath_, 0600));
    }
    const LockResult taken = stateFd_ >= 0 ? lockOrClose(stateFd_) : LockResult::Failed;
    if (taken == LockResult::Refused) {
      release();
      state_ = State::AlreadyRunning;
      return;
    }
    if (taken == LockResult::Failed) statePath_.clear();
  }
  state_ = fd_ >= 0 || stateFd_ >= 0 ? State::Acquired : State::Unavailable;
}

SingleInstanceGuard::~SingleInstanceGuard() { release(); }

void SingleInstanceGuard::release() {
  for (int* fd : {&fd_, &stateFd_}) {
    if (*fd >= 0) {
      ::flock(*fd, LOCK_UN);
      ::close(*fd);
      *fd = -1;
    }
  }
}
