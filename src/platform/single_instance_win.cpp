// The single-copy guard on Windows: the named semaphore "QZ418" (initial count 0, maximum 2,
// no security attributes, no namespace prefix) that every copy of the program has always
// created, so a new copy and an old one exclude each other, plus a lock in the state folder
// like the Linux build's: copies of any user, in any session, that would write the same state
// files cannot both run. The system drops both with the process, so a crash never leaves a
// name taken.
#ifdef _WIN32

#include <windows.h>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "platform/executable_path.h"
#include "platform/single_instance.h"

namespace {

std::wstring wide(const std::string& utf8) { return QString::fromStdString(utf8).toStdWString(); }

// The handles live in the int members the class keeps for the Linux descriptors; a handle
// value fits, as 64-bit Windows keeps handle values within 32 bits for exactly such uses.
int toSlot(HANDLE h) { return h ? int(reinterpret_cast<intptr_t>(h)) : -1; }
HANDLE fromSlot(int slot) { return slot >= 0 ? reinterpret_cast<HANDLE>(intptr_t(slot)) : nullptr; }

}  // namespace

SingleInstanceGuard::Places SingleInstanceGuard::defaultPlaces() {
  // Only the state folder: the semaphore needs no folder of its own.
  Places p;
  p.state = QDir::toNativeSeparators(stateLocation().saveFolder).toStdString();
  return p;
}

// Windows keeps the semaphore in the session's namespace; there is no folder to choose.
std::string SingleInstanceGuard::lockFolder(const Places&) { return {}; }

SingleInstanceGuard::SingleInstanceGuard(const std::string& name, const Places& places) {
  ::SetLastError(0);
  HANDLE semaphore = ::CreateSemaphoreA(nullptr, 0, 2, name.c_str());
  // Only "already exists" stops the program; any other failure starts it without this guard.
  if (semaphore && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(semaphore);
    state_ = State::AlreadyRunning;
    return;
  }
  fd_ = toSlot(semaphore);
  if (semaphore) path_ = name;

  if (!places.state.empty()) {
    // Missing only for an installed copy's folder before its first save.
    createPrivateFolder(QString::fromStdString(places.state));
    statePath_ = places.state + "\\." + name + ".lock";
    const std::wstring lockFile = wide(statePath_);
    // Shared for everything, so that the lock below decides and not the way the file is
    // opened; another copy's open of the file succeeds and its lock is refused.
    HANDLE file = ::CreateFileW(lockFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN, nullptr);
    // A folder the user may read but not write (a CD-ROM, a read-only share): the copy writes
    // nothing there, so there is nothing to guard beyond the semaphore.
    if (file == INVALID_HANDLE_VALUE)
      file = ::CreateFileW(lockFile.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      OVERLAPPED whole{};
      if (::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
        stateFd_ = toSlot(file);
      } else {
        const DWORD why = ::GetLastError();
        ::CloseHandle(file);
        if (why == ERROR_LOCK_VIOLATION || why == ERROR_IO_PENDING) {
          release();
          state_ = State::AlreadyRunning;
          return;
        }
      }
    }
    if (stateFd_ < 0) statePath_.clear();
  }
  state_ = fd_ >= 0 || stateFd_ >= 0 ? State::Acquired : State::Unavailable;
}

SingleInstanceGuard::~SingleInstanceGuard() { release(); }

// The program releases the semaphore by its full count when the message loop has ended and
// ends right after; the handle is closed with it, so a guard made again in the same process
// (the tests do) finds the name free, as a new process would.
void SingleInstanceGuard::release() {
  if (HANDLE semaphore = fromSlot(fd_)) {
    ::ReleaseSemaphore(semaphore, 2, nullptr);
    ::CloseHandle(semaphore);
    fd_ = -1;
  }
  if (HANDLE file = fromSlot(stateFd_)) {
    ::UnlockFile(file, 0, 0, 1, 0);
    ::CloseHandle(file);
    stateFd_ = -1;
  }
}

#endif
