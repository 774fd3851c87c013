#pragma once

#include <QString>

// Full path of the running executable (the link /proc/self/exe resolves to).
QString executablePath();

// The path with its extension replaced by newExtension (with the dot), or the extension
// appended when the file name has none: "/opt/qz/qz418" -> "/opt/qz/qz418.ini".
QString replaceExtension(const QString& path, const QString& newExtension);

// The state file of the program: the executable's path with ".ini".
QString stateFileName();
