#pragma once
// Where an installed copy of the program lives on Windows: the installer records its folder
// where Windows keeps every installed program's entry for "Apps and features".
#ifdef _WIN32

#include <QString>

// The key under HKEY_LOCAL_MACHINE (an installation for all users) or HKEY_CURRENT_USER (for
// one user) and its value: the folder the installer put qz418.exe in.
inline constexpr const wchar_t* kUninstallKey =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QZ418";
inline constexpr const wchar_t* kInstallLocationValue = L"InstallLocation";

// The installer's folder in Qt's separators, without a trailing one; empty when the program is
// not installed.
QString installedProgramFolder();

// An install location as the installer wrote it ("C:\Program Files\QZ418\", perhaps in quotes)
// in the form the state location compares: Qt separators, no trailing separator.
QString cleanInstallLocation(const QString& value);

#endif
