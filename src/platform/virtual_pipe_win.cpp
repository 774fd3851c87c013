#ifdef _WIN32

#include "platform/virtual_pipe_win.h"

#include <dbt.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>

#include "platform/device_codes.h"
#include "platform/device_request.h"
#include "platform/virtual_device_protocol.h"

namespace virtual_pipe {

namespace {

std::wstring widen(const std::string& s) {
  if (s.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(std::size_t(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::string narrow(const std::wstring& w) {
  if (w.empty()) return {};
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(std::size_t(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

bool isFolder(const std::wstring& path) {
  const DWORD a = ::GetFileAttributesW(path.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool endsWith(const std::wstring& s, const std::wstring& suffix) {
  return s.size() > suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The user a token runs as; empty when it cannot be read.
std::vector<BYTE> tokenUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return {};
  DWORD needed = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
  std::vector<BYTE> user(needed);
  const bool ok = needed > 0 && ::GetTokenInformation(token, TokenUser, user.data(), needed, &needed);
  ::CloseHandle(token);
  return ok ? user : std::vector<BYTE>{};
}

ULONGLONG now() { return ::GetTickCount64(); }

}  // namespace

std::wstring folderPath() {
  std::vector<wchar_t> buf(32768);
  const DWORD n = ::GetEnvironmentVariableW(L"XDG_RUNTIME_DIR", buf.data(), DWORD(buf.size()));
  if (n > 0 && n < buf.size() && isFolder(buf.data())) return std::wstring(buf.data(), n) + L"\\qz418";
  PWSTR local = nullptr;
  std::wstring folder;
  if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT, nullptr, &local)))
    folder = std::wstring(local) + L"\\qz418\\devices";
  ::CoTaskMemFree(local);
  if (folder.empty()) {
    const DWORD t = ::GetTempPathW(DWORD(buf.size()), buf.data());
    folder = std::wstring(buf.data(), t) + L"qz418-devices";
  }
  return folder;
}

bool createFolder(const std::wstring& folder) {
  // Parents first: every separator after the root ends one.
  for (std::size_t at = folder.find_first_of(L"\\/", 3); at != std::wstring::npos;
       at = folder.find_first_of(L"\\/", at + 1))
    ::CreateDirectoryW(folder.substr(0, at).c_str(), nullptr);
  ::CreateDirectoryW(folder.c_str(), nullptr);
  return isFolder(folder);
}

std::wstring pipeNameFor(const std::string& name) {
  return std::wstring(kPipePrefix) + L"qz418-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
         widen(name);
}

bool isPipeName(const std::wstring& path) {
  const std::wstring prefix = kPipePrefix;
  return path.size() > prefix.size() && ::_wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) == 0 &&
         path.find_first_of(L"\r\n", prefix.size()) == std::wstring::npos;
}

std::wstring readDeviceFile(const std::wstring& folder, const std::string& name) {
  const std::wstring path = folder + L"\\" + widen(name) + kMarkerSuffix;
  HANDLE f = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return {};
  char text[1024];
  DWORD n = 0;
  const bool ok = ::ReadFile(f, text, sizeof text, &n, nullptr);
  ::CloseHandle(f);
  if (!ok || n == 0 || n == sizeof text) return {};  // empty, or longer than any pipe name
  std::string line(text, n);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  const std::wstring pipe = widen(line);
  return isPipeName(pipe) ? pipe : std::wstring();
}

std::vector<Listed> listDevices(const std::wstring& folder) {
  std::vector<Listed> devices;
  WIN32_FIND_DATAW found;
  HANDLE find = ::FindFirstFileW((folder + L"\\*" + kMarkerSuffix).c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return devices;
  do {
    const std::wstring file = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !endsWith(file, kMarkerSuffix)) continue;
    const std::string name = narrow(file.substr(0, file.size() - std::wcslen(kMarkerSuffix)));
    if (name.empty() || name[0] == '.') continue;  // a device's file being written
    if (std::wstring pipe = readDeviceFile(folder, name); !pipe.empty())
      devices.push_back({name, std::move(pipe)});
  } while (::FindNextFileW(find, &found));
  ::FindClose(find);
  std::sort(devices.begin(), devices.end(), [](const Listed& a, const Listed& b) { return a.name < b.name; });
  return devices;
}

bool writeDeviceFile(const std::wstring& folder, const std::string& name, const std::wstring& pipe) {
  const std::wstring path = folder + L"\\" + widen(name) + kMarkerSuffix;
  const std::wstring temp =
      folder + L"\\." + widen(name) + L"." + std::to_wstring(::GetCurrentProcessId()) + L".tmp";
  HANDLE f =
      ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  const std::string line = narrow(pipe) + "\r\n";
  DWORD n = 0;
  const bool written = ::WriteFile(f, line.data(), DWORD(line.size()), &n, nullptr) && n == line.size();
  ::CloseHandle(f);
  if (written && ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
  ::DeleteFileW(temp.c_str());
  return false;
}

void removeDeviceFile(const std::wstring& folder, const std::string& name, const std::wstring& pipe) {
  if (readDeviceFile(folder, name) == pipe)
    ::DeleteFileW((folder + L"\\" + widen(name) + kMarkerSuffix).c_str());
}

bool servedByCurrentUser(HANDLE client) {
  ULONG pid = 0;
  if (!::GetNamedPipeServerProcessId(client, &pid)) return false;
  HANDLE server = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  // A process this user may not even query is another user's.
  if (!server) return false;
  std::vector<BYTE> theirs = tokenUser(server);
  ::CloseHandle(server);
  std::vector<BYTE> mine = tokenUser(::GetCurrentProcess());
  if (theirs.empty() || mine.empty()) return false;
  return ::EqualSid(reinterpret_cast<TOKEN_USER*>(theirs.data())->User.Sid,
                    reinterpret_cast<TOKEN_USER*>(mine.data())->User.Sid) != FALSE;
}

HANDLE connect(const std::wstring& pipe, int* error) {
  int dummy = 0;
  if (!error) error = &dummy;
  const ULONGLONG deadline = now() + 2000;  // a device whose instances all stay busy is hung
  for (;;) {
    // SECURITY_IDENTIFICATION: the server may learn who we are, never act as us.
    HANDLE h = ::CreateFileW(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      if (servedByCurrentUser(h)) {
        *error = 0;
        return h;
      }
      // Someone else's process took the name: a fake device, or one we must not drive.
      ::CloseHandle(h);
      *error = device_error::kAccess;
      return INVALID_HANDLE_VALUE;
    }
    const DWORD e = ::GetLastError();
    if (e == ERROR_PIPE_BUSY) {
      const ULONGLONG t = now();
      if (t < deadline && ::WaitNamedPipeW(pipe.c_str(), DWORD(deadline - t))) continue;
      if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
        *error = device_error::kNoDevice;
        return INVALID_HANDLE_VALUE;
      }
      if (now() < deadline) continue;
      *error = device_error::kBusy;
      return INVALID_HANDLE_VALUE;
    }
    *error = e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND || e == ERROR_BAD_PATHNAME
                 ? device_error::kNoDevice
             : e == ERROR_ACCESS_DENIED ? device_error::kAccess
                                        : device_error::kIo;
    return INVALID_HANDLE_VALUE;
  }
}

bool acceptsConnection(const std::wstring& pipe) {
  int error = 0;
  HANDLE h = connect(pipe, &error);
  if (h == INVALID_HANDLE_VALUE) return error == device_error::kBusy;  // busy: alive
  ::CloseHandle(h);
  return true;
}

PSECURITY_DESCRIPTOR currentUserOnly() {
  std::vector<BYTE> me = tokenUser(::GetCurrentProcess());
  if (me.empty()) return nullptr;
  LPWSTR sid = nullptr;
  if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(me.data())->User.Sid, &sid)) return nullptr;
  // Protected (no inherited entries), one entry: all access for this user.
  const std::wstring sddl = std::wstring(L"D:P(A;;GA;;;") + sid + L")";
  ::LocalFree(sid);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr))
    return nullptr;
  return sd;
}

void announceDeviceChange() {
  // Posted: it stays in each window's queue even when this process ends right after (a device
  // that quits), and a window that is busy, or waits for this very device, holds nobody.
  ::PostMessageW(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
}

// ---- PipeClient ---------------------------------------------------------------------------

PipeClient::PipeClient(HANDLE pipe) : pipe_(pipe), event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  out_.reserve(virtual_device::kRequestHeaderSize + virtual_device::kMaxFrameLength);
}

PipeClient::~PipeClient() {
  close();
  if (event_) ::CloseHandle(event_);
}

void PipeClient::close() {
  if (pipe_ != INVALID_HANDLE_VALUE) ::CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
}

int PipeClient::fail(int error) {
  close();
  return error;
}

bool PipeClient::finish(ULONGLONG deadline, DWORD* moved, bool* failed) {
  const ULONGLONG t = now();
  const DWORD left = deadline > t ? DWORD(std::min<ULONGLONG>(deadline - t, INFINITE - 1)) : 0;
  *moved = 0;
  if (::WaitForSingleObject(event_, left) == WAIT_OBJECT_0) {
    *failed = !::GetOverlappedResult(pipe_, &overlapped_, moved, FALSE);
    return true;
  }
  ::CancelIoEx(pipe_, &overlapped_);
  // Waits for the cancel; the operation may have completed meanwhile, then it counts.
  if (::GetOverlappedResult(pipe_, &overlapped_, moved, TRUE)) {
    *failed = false;
    return true;
  }
  *failed = ::GetLastError() != ERROR_OPERATION_ABORTED;
  return false;
}

int PipeClient::request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length,
                        std::uint32_t waitMs) {
  if (closed()) return device_error::kNoDevice;
  if (length > virtual_device::kMaxFrameLength || (!buffer && length > 0)) return device_error::kInvalid;
  const ULONGLONG deadline = now() + waitMs;
  const std::uint32_t seq = ++sequence_;
  reader_.expect(seq, length);
  if (const int e = sendFrame(seq, code, buffer, length, deadline)) return e;
  for (;;) {
    switch (readFrame(deadline)) {
      case Read::TimedOut:
        reader_.giveUp(seq, length);
        return device_error::kTimedOut;
      case Read::Closed:
        return fail(device_error::kNoDevice);
      case Read::Malformed:
        return fail(device_error::kProtocol);
      case Read::Frame:
        break;
    }
    if (reader_.sequence() != seq) continue;  // the late answer to a request already given up: dropped
    const auto payload = reader_.payload();
    if (length > 0) std::memcpy(buffer, payload.data(), length);
    return int(reader_.error());
  }
}

int PipeClient::sendFrame(std::uint32_t seq, std::uint32_t code, const std::uint8_t* buffer,
                          std::uint32_t length, ULONGLONG deadline) {
  out_.resize(virtual_device::kRequestHeaderSize + length);
  writeLe32(out_.data(), seq);
  writeLe32(out_.data() + 4, code);
  writeLe32(out_.data() + 8, length);
  if (length) std::memcpy(out_.data() + virtual_device::kRequestHeaderSize, buffer, length);
  std::size_t sent = 0;
  while (sent < out_.size()) {
    overlapped_ = {};
    overlapped_.hEvent = event_;
    DWORD moved = 0;
    bool failed = false;
    if (!::WriteFile(pipe_, out_.data() + sent, DWORD(out_.size() - sent), nullptr, &overlapped_) &&
        ::GetLastError() != ERROR_IO_PENDING)
      return fail(device_error::kNoDevice);
    const bool done = finish(deadline, &moved, &failed);
    if (failed) return fail(device_error::kNoDevice);
    sent += moved;
    if (!done) {
      // Half a frame on the wire cannot be taken back: the stream is lost with it. A frame
      // not begun was never sent, so its sequence number was not used.
      if (sent > 0)
        close();
      else
        --sequence_;
      return device_error::kTimedOut;
    }
  }
  return 0;
}

PipeClient::Read PipeClient::readFrame(ULONGLONG deadline) {
  for (;;) {
    const std::span<std::uint8_t> space = reader_.space();
    overlapped_ = {};
    overlapped_.hEvent = event_;
    DWORD moved = 0;
    bool failed = false;
    if (!::ReadFile(pipe_, space.data(), DWORD(space.size()), nullptr, &overlapped_) &&
        ::GetLastError() != ERROR_IO_PENDING)
      return Read::Closed;  // ERROR_BROKEN_PIPE: the device closed its end
    const bool done = finish(deadline, &moved, &failed);
    if (failed || (done && moved == 0)) return Read::Closed;
    if (moved > 0) {
      switch (reader_.received(moved)) {
        case virtual_device::AnswerReader::Result::More:
          break;
        case virtual_device::AnswerReader::Result::Frame:
          return Read::Frame;
        case virtual_device::AnswerReader::Result::Malformed:
          return Read::Malformed;
      }
    }
    if (!done) return Read::TimedOut;
  }
}

}  // namespace virtual_pipe

#endif
