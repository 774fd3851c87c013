#pragma once
// One running copy per user: a named lock that the kernel drops with the process,
// so a crash or kill -9 never leaves the name taken.

#include <string>

class SingleInstanceGuard {
 public:
  enum class State { Acquired, AlreadyRunning, Unavailable };

  // The folders the lock may live in, tried in this order. Each must be a real folder of the
  // running user closed to everyone else (mode 0700), or be made so when it is missing: a
  // folder another user can write to would let that user lock us out, or plant a link that
  // makes us create a file wherever it points.
  struct Places {
    std::string runtime;  // $XDG_RUNTIME_DIR; empty when unset (never created)
    std::string shared;   // /tmp/qz418-<uid>
    std::string cache;    // $XDG_CACHE_HOME/qz418, else ~/.cache/qz418
  };
  static Places defaultPlaces();

  // Takes the lock "<name>.lock" in the first usable place. Unavailable when there is none or
  // the lock cannot be opened there; the program then starts without a guard.
  explicit SingleInstanceGuard(const std::string& name, const Places& places = defaultPlaces());
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  State state() const { return state_; }
  // Empty when no usable folder was found.
  const std::string& lockPath() const { return path_; }
  void release();

  // The first usable folder of places, made (0700) where it is missing; empty when none is.
  static std::string lockFolder(const Places& places);

 private:
  State state_ = State::Unavailable;
  int fd_ = -1;
  std::string path_;
};
