#pragma once
// What the program tells about the files it reads and writes without asking anyone: a save put
// back, a copy kept aside. Each line goes to stderr at once (a station's journal) and to the
// events window's log, which exists only once the windows are made: lines from before wait.

#include <QString>
#include <functional>

// "qz418: <line>" on stderr, and the line into the events window's log (now or once it exists).
void reportFileNotice(const QString& line);

// Where the lines go besides stderr; the lines that waited for it are handed over at once. An
// empty function makes later lines wait again.
void setFileNoticeSink(std::function<void(const QString&)> sink);
