// Whether the running user may write a file or add files to a folder, on Windows: the file's
// access control list checked against the user's token, as the system would check an open.
#ifdef _WIN32

// The header's test overload speaks of POSIX owners, which Windows has no types for. It is not
// built here; the names only need to exist for the header to read.
typedef unsigned uid_t;
typedef unsigned gid_t;
#include <windows.h>

#include <QDir>
#include <optional>
#include <vector>

#include "platform/write_permission.h"

namespace {

// The security descriptor of path; empty when it cannot be read.
std::vector<BYTE> securityOf(const std::wstring& path) {
  constexpr SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD needed = 0;
  ::GetFileSecurityW(path.c_str(), kWhat, nullptr, 0, &needed);
  if (needed == 0) return {};
  std::vector<BYTE> sd(needed);
  if (!::GetFileSecurityW(path.c_str(), kWhat, sd.data(), needed, &needed)) return {};
  return sd;
}

// True when the token of this process is granted want on the object described by sd; nullopt
// when the check itself could not be made.
std::optional<bool> granted(std::vector<BYTE>& sd, DWORD want) {
  HANDLE process = nullptr, impersonation = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process))
    return std::nullopt;
  // AccessCheck needs an impersonation token.
  const bool duplicated = ::DuplicateToken(process, SecurityImpersonation, &impersonation);
  ::CloseHandle(process);
  if (!duplicated) return std::nullopt;
  GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  ::MapGenericMask(&want, &mapping);
  PRIVILEGE_SET privileges{};
  DWORD privilegesLength = sizeof privileges;
  DWORD grantedAccess = 0;
  BOOL status = FALSE;
  const BOOL checked = ::AccessCheck(sd.data(), impersonation, want, &mapping, &privileges, &privilegesLength,
                                     &grantedAccess, &status);
  ::CloseHandle(impersonation);
  if (!checked) return std::nullopt;
  return status != FALSE;
}

}  // namespace

// A folder must let the user add files (the state file is written as a new file and renamed
// over the old one); a file must let the user write data and not be marked read-only. False
// when the path does not exist; true when its access list cannot be read at all, so that the
// write itself reports what is wrong instead of a guess.
bool modeAllowsWrite(const QString& path) {
  if (path.isEmpty()) return false;
  const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
  const DWORD attributes = ::GetFileAttributesW(native.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // On a folder the read-only mark only means the folder is customised.
  if (!folder && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
  std::vector<BYTE> sd = securityOf(native);
  if (sd.empty()) return true;
  return granted(sd, folder ? FILE_ADD_FILE : FILE_WRITE_DATA).value_or(true);
}

#endif
