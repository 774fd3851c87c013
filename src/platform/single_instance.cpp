#include "platform/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

std::string SingleInstanceGuard::runtimeFolder() {
  if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    struct stat st {};
    if (::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode)) return xdg;
  }
  // No session runtime folder (a bare ssh or CI shell): a private per-user folder.
  std::string dir = "/tmp/qz418-" + std::to_string(::getuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return "/tmp";
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return "/tmp";
  return dir;
}

SingleInstanceGuard::SingleInstanceGuard(const std::string& name) {
  path_ = runtimeFolder() + "/" + name + ".lock";
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) return;  // Unavailable: start without a guard
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
