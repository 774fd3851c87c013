#pragma once
// Dialogs that write what they would show into a log file and answer by themselves:
// questions "Yes", file dialogs cancelled. Used by unattended runs of the whole program.

#include "widgets/dialogs.h"

class LoggingDialogs final : public Dialogs {
 public:
  explicit LoggingDialogs(QString logPath) : logPath_(std::move(logPath)) {}
  void information(QWidget*, const QString& caption, const QString& text) override;
  void warning(QWidget*, const QString& caption, const QString& text) override;
  bool warningYesNo(QWidget*, const QString& caption, const QString& text) override;
  bool confirmYesNo(QWidget*, const QString& caption, const QString& text) override;
  bool informationYesNo(QWidget*, const QString& caption, const QString& text) override;
  QString openFile(QWidget*, const FileDialogRequest& request) override;
  QString saveFile(QWidget*, const FileDialogRequest& request) override;

 private:
  void write(const char* kind, const QString& caption, const QString& text);
  QString logPath_;
};
