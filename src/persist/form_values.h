#pragma once
// The value texts of the form-state files: integers, booleans and floats the way the program
// has always written and read them. Pure code; the separators arrive in a FormatSettings.

#include <QString>
#include <QStringView>
#include <optional>

#include "base/number_text.h"

namespace formvalue {

// "0x" or "0X" ahead of more characters, and "$", start a hexadecimal integer: up to eight
// significant digits, taken as 32-bit two's complement ("$FFFFFFFF" is -1). Otherwise decimal
// within the 32-bit range, leading spaces and one sign allowed. nullopt for anything else.
std::optional<qint32> parseInt(QStringView text);

// Up to 15 significant digits, trailing zeros dropped, no grouping, fs's decimal separator;
// exponent form ("1E-6", "1,5E20": sign only when negative, no leading zeros) when the rounded
// value is below 0.00001 or has more than 15 integer digits. Zero is "0"; "NAN", "INF", "-INF".
QString floatText(long double v, const FormatSettings& fs);

// Digits, one sign, one decimal separator and an exponent, blanks around allowed. The decimal
// separator may be fs's, a comma or a point, whatever the locale: the files never hold grouping,
// and a file written under one locale is read under another. Two separators ("1,234.5") or an
// empty text is no number (nullopt).
std::optional<long double> parseFloat(QStringView text, const FormatSettings& fs);

// The key of a grid cell: the grid's name, then column and row as at least four digits
// ("Grid", 3, 12 gives "Grid00030012").
QString gridCellKey(const QString& gridName, int col, int row);

}  // namespace formvalue
