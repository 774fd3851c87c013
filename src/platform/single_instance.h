#pragma once
// One running copy per user, and one per set of state files: named locks that the kernel drops
// with the process, so a crash or kill -9 never leaves a name taken.

#include <string>
#include <vector>

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
    // The folder the state files are written to (stateLocation()), made (0700) when missing;
    // empty for no lock of the state files.
    std::string state;
    // Where the lock of the state files goes when the state folder cannot hold one, the first
    // usable in this order: /tmp/qz418-<uid>, then .cache/qz418 in the home folder of the user's
    // account. Neither depends on the environment, so every copy of one user finds the same.
    std::vector<std::string> stateFallbacks;
  };
  static Places defaultPlaces();

  // Takes the lock "<name>.lock" in the first usable place, then the lock of the state files:
  // ".<name>.lock" in the state folder itself, so that copies of any user and any environment
  // that would write the same files exclude each other. It is opened for writing only, so only
  // those who may write the state files can hold it: made 0600, or 0660 in a group-writable
  // folder (users who share a portable folder exclude each other), never readable by others (a
  // lock of an older version that the user owns is narrowed so). Where the user cannot make or
  // open it for writing (a read-only folder, a CD-ROM, someone else's folder; root judged by the
  // mode bits), the copy writes nothing there and a lock "<name>-state-<hash of the folder's
  // path>.lock" in the first usable stateFallbacks folder stands in for it.
  // AlreadyRunning when either lock is held by another copy (nothing is held then), Acquired
  // when at least one is taken, else Unavailable: the program then starts without a guard.
  explicit SingleInstanceGuard(const std::string& name, const Places& places = defaultPlaces());
  ~SingleInstanceGuard();
  SingleInstanceGuard(const SingleInstanceGuard&) = delete;
  SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

  State state() const { return state_; }
  // Empty when no usable folder was found.
  const std::string& lockPath() const { return path_; }
  // The state files' lock; empty when there is none.
  const std::string& stateLockPath() const { return statePath_; }
  void release();

  // The first usable folder of places, made (0700) where it is missing; empty when none is.
  static std::string lockFolder(const Places& places);

 private:
  State state_ = State::Unavailable;
  int fd_ = -1;
  int stateFd_ = -1;
  std::string path_;
  std::string statePath_;
};
