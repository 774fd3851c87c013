#pragma once
// The virtual synthesizers on Windows, shared by the program and qz418-sim: each serves the
// virtual-device protocol on a named pipe and names that pipe in a small file of the
// virtual-device folder, through which the program finds it. Plain C++ and Win32 (no Qt).
//
// Windows keeps named pipes in one flat name space that not every system can list, so the
// folder is the list: "<folder>\<name>.pipe" holds the pipe's name in one line,
// "\\.\pipe\qz418-<process id>-<name>". A device writes the file once its pipe accepts
// connections and removes it when it ends; a file whose pipe is gone (its device was killed)
// is stale and skipped. Pipes are reachable by every user of the machine, so the program only
// talks to a pipe served by a process of its own user.
#ifdef _WIN32

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/virtual_device_answer.h"

namespace virtual_pipe {

inline constexpr const wchar_t* kMarkerSuffix = L".pipe";
inline constexpr const wchar_t* kPipePrefix = L"\\\\.\\pipe\\";

// %XDG_RUNTIME_DIR%\qz418 when that variable names an existing folder (the tests' private
// folders, as on Linux), else the user's local application-data folder's qz418\devices.
std::wstring folderPath();
// Creates the folder and its parents when missing; true when it is a folder afterwards.
bool createFolder(const std::wstring& folder);

// The pipe a device of this name serves from this process.
std::wstring pipeNameFor(const std::string& name);
bool isPipeName(const std::wstring& path);

struct Listed {
  std::string name;   // the file's name without ".pipe"
  std::wstring pipe;  // the pipe the file names
};
// The files of folder with their pipes, sorted by name; files that do not name a pipe are
// left out. Not yet checked for a server.
std::vector<Listed> listDevices(const std::wstring& folder);
// The pipe named by the file of this device; empty when there is none.
std::wstring readDeviceFile(const std::wstring& folder, const std::string& name);
// Writes the file atomically (a temporary file renamed over it); false on failure.
bool writeDeviceFile(const std::wstring& folder, const std::string& name, const std::wstring& pipe);
// Removes the file if it still names pipe (never another device's that took the name since).
void removeDeviceFile(const std::wstring& folder, const std::string& name, const std::wstring& pipe);

// Connects to pipe as a client: a handle for overlapped I/O, or INVALID_HANDLE_VALUE with an
// errno value in *error (19 when nothing serves the pipe, 13 when another user's process
// does, 16 when every instance stays busy).
HANDLE connect(const std::wstring& pipe, int* error);
// True when a process of this user serves the pipe and takes connections (or is busy with
// others): a live device.
bool acceptsConnection(const std::wstring& pipe);
// True when the server at the other end of client runs as the current user.
bool servedByCurrentUser(HANDLE client);
// An access list that lets only the current user open the pipe; nullptr when it cannot be
// made (the system's default then applies). Freed with LocalFree.
PSECURITY_DESCRIPTOR currentUserOnly();

// Tells every top-level window that devices came or went: WM_DEVICECHANGE with
// DBT_DEVNODES_CHANGED, posted to HWND_BROADCAST.
void announceDeviceChange();

// The client end of the protocol on one pipe; the program's transport is a thin layer over it.
class PipeClient {
 public:
  explicit PipeClient(HANDLE pipe);
  ~PipeClient();
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  // One request, as DeviceTransport::request: 0 or an errno value (110 when waitMs ran out,
  // 19 once the device closed the pipe, 71 for an answer that breaks the protocol).
  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs);
  bool closed() const { return pipe_ == INVALID_HANDLE_VALUE; }

 private:
  enum class Read { Frame, TimedOut, Closed, Malformed };
  int sendFrame(std::uint32_t seq, std::uint32_t code, const std::uint8_t* buffer, std::uint32_t length,
                ULONGLONG deadline);
  Read readFrame(ULONGLONG deadline);
  // Waits for the pending operation on overlapped_ until deadline; false when the time ran out,
  // in which case it is cancelled (bytes it moved meanwhile are in *moved).
  bool finish(ULONGLONG deadline, DWORD* moved, bool* failed);
  void close();
  int fail(int error);

  HANDLE pipe_;
  HANDLE event_;
  OVERLAPPED overlapped_{};
  std::uint32_t sequence_ = 0;
  std::vector<std::uint8_t> out_;  // one request frame, allocated once
  virtual_device::AnswerReader reader_;
};

}  // namespace virtual_pipe

#endif
