#pragma once
// Shared by the persistence tests: a dialogs stand-in that records what would be shown, fixed
// regional settings for one test, and small file helpers.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>

#include "base/number_text.h"
#include "widgets/dialogs.h"

class WarningLogDialogs final : public Dialogs {
 public:
  QStringList* warnings;
  explicit WarningLogDialogs(QStringList* w) : warnings(w) {}
  void information(QWidget*, const QString&, const QString&) override {}
  void warning(QWidget*, const QString&, const QString& text) override { warnings->append(text); }
  bool warningYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool confirmYesNo(QWidget*, const QString&, const QString&) override { return false; }
  bool informationYesNo(QWidget*, const QString&, const QString&) override { return false; }
  QString openFile(QWidget*, const FileDialogRequest&) override { return {}; }
  QString saveFile(QWidget*, const FileDialogRequest&) override { return {}; }
};

// Installs WarningLogDialogs and the given separators for the life of the object.
class TestEnvironment {
 public:
  explicit TestEnvironment(const FormatSettings& fs = FormatSettings::point())
      : oldSettings_(appFormatSettings()) {
    setAppFormatSettings(fs);
    old_ = installDialogs(std::make_unique<WarningLogDialogs>(&warnings));
  }
  ~TestEnvironment() {
    installDialogs(std::move(old_));
    setAppFormatSettings(oldSettings_);
  }
  TestEnvironment(const TestEnvironment&) = delete;
  TestEnvironment& operator=(const TestEnvironment&) = delete;

  QStringList warnings;

 private:
  FormatSettings oldSettings_;
  std::unique_ptr<Dialogs> old_;
};

inline QByteArray readBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
