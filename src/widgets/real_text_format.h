#pragma once
// The text rules of the real-number entry fields (TRealEdit, TRealSpinEdit), kept apart from
// the widgets: value <-> text, the step grid, the limit comparisons, and what a typed
// character, a Backspace/Delete or a key release does to the text and the caret.
// Nothing here beeps or touches a widget; the editing functions report a refusal and the
// field beeps.

#include <QString>
#include <QStringView>

#include "base/number_text.h"

enum class NumberFormat { Standard, Thousands, Scientific, Engineering };

constexpr int kFreeDecimals = -1;  // decimals(): as many as the value needs
constexpr int kMaxDecimals = 14;

// The field's text for value. decimals is kFreeDecimals or 0..kMaxDecimals.
QString realValueText(long double value, NumberFormat format, int decimals, const FormatSettings& fs);

// The field's value for text. Empty reads 0, a lone "-" reads -0, a dangling "E" or "E-"
// counts as exponent 0. Text that is still no number (only settable from code) reads 0:
// the other windows read the fields every cycle and must never see an error from them.
// A number beyond the extended range ("9E4932") reads +-infinity; the field turns that into
// the limit it violates, so no infinity ever leaves a field.
long double realTextValue(QStringView text, const FormatSettings& fs);

// The text as it goes to the clipboard: without thousands separators.
QString withoutThousands(QStringView text, const FormatSettings& fs);

// a < b, resp. a > b, by more than rounding noise. The limits and increments come from
// double literals and the value from 80-bit parsing, so 0.1 and 0.1L must count as equal.
// The noise is relative to the largest of a, b and scale; a sum or difference passes the
// size of its operands as scale (-0.1L + 0.1 is 5.5e-18, not above 0).
bool isBelow(long double a, long double b, long double scale = 0);
bool isAbove(long double a, long double b, long double scale = 0);

// minValue + k * increment, k = (value - minValue) / increment rounded half to even; one
// increment less when that lands above maxValue (only with limits set). A zero increment
// leaves the value alone.
long double roundToGrid(long double value, long double minValue, long double maxValue, long double increment,
                        bool limitsSet);

// What the editing rules need to know about the field.
struct FieldRules {
  NumberFormat format = NumberFormat::Standard;
  int decimals = kFreeDecimals;
  int maxLength = 0;  // 0: no limit
  FormatSettings fs;
};

// Text, caret and selection of a field; anchor == cursor means no selection.
struct FieldEdit {
  QString text;
  int cursor = 0;
  int anchor = 0;

  bool hasSelection() const { return anchor != cursor; }
  int selectionStart() const { return anchor < cursor ? anchor : cursor; }
  int selectionEnd() const { return anchor < cursor ? cursor : anchor; }
  void moveCaret(int pos) { cursor = anchor = pos; }
};

// One typed (or pasted) character through the input rules. False: refused, nothing changed
// (except that a selection may have been collapsed); the field beeps.
bool typeChar(FieldEdit& e, QChar c, const FieldRules& r);

// Backspace (backward) or Delete: the selection if there is one, else one character.
void deleteKey(FieldEdit& e, bool backward, const FieldRules& r);
void deleteSelection(FieldEdit& e, const FieldRules& r);

// Thousands only, no selection: reformats the text when its grouping is out of date (or
// always with force: Enter and Space) and moves the caret along. True when it did.
bool regroup(FieldEdit& e, bool force, const FieldRules& r);
