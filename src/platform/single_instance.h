#pragma once
// One running copy per user: a named lock that the kernel drops with the process,
// so a crash or kill -9 never leaves the name taken.

#include <string>

class SingleInstanceGuard {
 public:
  enum class State { Acquired, AlreadyRunning, Unavailable };

  // Takes the lock "<name>.lock" in the user's runtime folder ($XDG_RUNTIME_DIR, else
  // a private folder under /tmp). Unavailable when no lock file can be made; the
  // program then starts without a guard.
  explicit SingleInstanceGuard(const std::string& name);
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  State state() const { return state_; }
  const std::string& lockPath() const { return path_; }
  void release();

  // The folder the lock files live in.
  static std::string runtimeFolder();

 private:
  State state_ = State::Unavailable;
  int fd_ = -1;
  std::string path_;
};
