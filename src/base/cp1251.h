#pragma once
// Windows code page 1251 (Cyrillic), the encoding of every file the program writes.

#include <QByteArray>
#include <QString>
#include <QStringView>

// Characters with no cp1251 code become '?'.
QByteArray toCp1251(QStringView text);
QString fromCp1251(QByteArrayView bytes);
