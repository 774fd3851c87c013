#pragma once
// A 32-bit integer shown as decimal, binary or "$"-prefixed hexadecimal text. No window
// places one, but the form-state format stores it, so it keeps the whole behaviour.

#include <QLineEdit>
#include <functional>
#include <optional>

#include "widgets/spin_edit.h"

enum class BaseFormat { Number, Binary, HexaDecimal };

class TBinHexEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(int asInteger READ asInteger WRITE setAsInteger)
  Q_PROPERTY(QString asBin READ asBin WRITE setAsBin)
  Q_PROPERTY(QString asHex READ asHex WRITE setAsHex)
  Q_PROPERTY(int minValue READ minValue WRITE setMinValue)
  Q_PROPERTY(int maxValue READ maxValue WRITE setMaxValue)
  Q_PROPERTY(bool autoSelect READ autoSelect WRITE setAutoSelect)

 public:
  static constexpr int kHexTextLength = 9;  // "$" and eight digits
  static constexpr int kBinaryDigits = 32;

  explicit TBinHexEdit(QWidget* parent = nullptr);

  // The value the text shows, read in the current format (text it cannot read gives 0).
  qint32 asInteger() const;
  // Rewrites the text when it is not already the formatted value.
  void setAsInteger(qint32 v);
  QString asBin() const { return formatBinary(asInteger()); }
  // Read by the binary rules; changes the value only if it differs.
  void setAsBin(const QString& text);
  QString asHex() const { return formatHex(asInteger()); }
  // Integer text, "$" for hexadecimal; text that is no integer leaves the value alone.
  void setAsHex(const QString& text);

  BaseFormat baseFormat() const { return format_; }
  // Keeps the value and rewrites the text.
  void setBaseFormat(BaseFormat f);

  // Tested on leaving the field, and only when both are non-zero. A new maximum is taken
  // only if it differs and is not below the minimum; a new minimum likewise.
  qint32 minValue() const { return min_; }
  void setMinValue(qint32 v);
  qint32 maxValue() const { return max_; }
  void setMaxValue(qint32 v);

  bool autoSelect() const { return autoSelect_; }
  void setAutoSelect(bool on) { autoSelect_ = on; }

  // Replaces the "Value out of range!" message.
  void setOnInvalidEntry(std::function<void()> handler) { onInvalidEntry_ = std::move(handler); }
  const std::function<void()>& onInvalidEntry() const { return onInvalidEntry_; }

  QString version() const;

  // "$" and eight upper-case digits, two's complement.
  static QString formatHex(qint32 v);
  // No leading zeros ("0" for zero); a negative value has all 32 digits.
  static QString formatBinary(qint32 v);
  static QString formatNumber(qint32 v) { return QString::number(v); }
  // Only "0" and "1": two's complement from the last digit, digits left of the 32nd
  // ignored. Empty text or any other character gives 0.
  static qint32 parseBinary(QStringView text);
  // Decimal with optional sign, or "$" and up to eight hexadecimal digits (taken as
  // 32-bit two's complement). nullopt for anything else, and for decimals beyond int32.
  static std::optional<qint32> parseInteger(QStringView text);

  // Feeds text through the typing rules, as a paste does after removing the selection.
  void pasteText(const QString& text);

 signals:
  // The operator left the field (raised before the range check).
  void exited();

 protected:
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void inputMethodEvent(QInputMethodEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  QString format(qint32 v) const;
  qint32 read(const QString& text) const;
  void typeChar(QChar c);
  void typeDigit(QChar c, int maxLength, int firstEditable);
  void typeNumberChar(QChar c);
  void resetToZero();
  void repairText();
  void pasteClipboard();
  void cutSelection();

  BaseFormat format_ = BaseFormat::HexaDecimal;
  qint32 min_ = 0;
  qint32 max_ = 0;
  bool autoSelect_ = true;
  std::function<void()> onInvalidEntry_;
  entryfield::AutoSelectOnEntry autoSelectOnEntry_;
};
