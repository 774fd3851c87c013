#include "platform/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

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

}  // namespace

SingleInstanceGuard::Places SingleInstanceGuard::defaultPlaces() {
  Places p;
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR")) p.runtime = xdg;
  p.shared = "/tmp/qz418-" + std::to_string(::getuid());
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
    p.cache = std::string(cache) + "/qz418";
  else if (const std::string home = homeFolder(); !home.empty())
    p.cache = home + "/.cache/qz418";
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
  if (folder.empty()) return;  // Unavailable: start without a guard, create nothing anywhere
  path_ = folder + "/" + name + ".lock";
  // O_NOFOLLOW: a link in the lock's place is never followed, whoever put it there.
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd_ < 0) return;
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
    // A fifo or a device in a private folder: nothing to lock safely.
    ::close(fd_);
    fd_ = -1;
    return;
  }
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      state_ = State::Acquired;
      return;
    }
    if (errno == EINTR) continue;
    state_ = errno == EWOULDBLOCK ? State::AlreadyRunning : State::Unavailable;
    ::close(fd_);
    fd_ = -1;
    return;
  }
}

SingleInstanceGuard::~SingleInstanceGuard() { release(); }

void SingleInstanceGuard::release() {
  if (fd_ >= 0) {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
  }
}
