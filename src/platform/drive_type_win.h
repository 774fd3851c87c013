#pragma once
// The drive of a path on Windows, in parts a test can drive without the system: the root a
// path lies on and the system's drive-type code.
#ifdef _WIN32

#include <QByteArray>
#include <QString>
#include <functional>

#include "platform/drive_type.h"

// The drive part of an absolute path followed by "/", in Qt's separators: "C:/" for
// "C:/QZ418/qz418.ini" (or "c:\QZ418\qz418.ini", upper-cased), "//server/share/" for a file on
// a share (the share is the root of a UNC path), the same for the "\\?\" and "\\?\UNC\" forms
// of long paths. Empty when the path names no drive and no share ("//server" alone, a relative
// path).
QString driveRootOf(const QString& absolutePath);

// The system's GetDriveType result (DRIVE_UNKNOWN 0 ... DRIVE_RAMDISK 6) as a drive type;
// anything else is Unknown.
DriveType driveTypeFromCode(unsigned code);

// Asks for the drive type of a root in the system's form ("C:\", "\\server\share\"), in the
// ANSI code page.
using DriveTypeLookup = std::function<unsigned(const QByteArray& nativeRoot)>;

// driveOf() with the system's answer replaced, for tests. A relative path counts from the
// current folder; a path without a root gives NoRootDir without asking.
DriveInfo driveOf(const QString& path, const DriveTypeLookup& lookup);

#endif
