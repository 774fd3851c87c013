#pragma once
// Dialogs that answer by themselves, for runs of the whole program that no one watches.

#include <functional>
#include <memory>

#include "widgets/dialogs.h"

// Writes what it would show into a log file and answers: questions "Yes", file dialogs
// cancelled. Used by test runs. With a release file, each box first waits in an event loop of
// its own, as a real box waits for its button, until that file exists.
class LoggingDialogs final : public Dialogs {
 public:
  explicit LoggingDialogs(QString logPath, QString releasePath = {})
      : logPath_(std::move(logPath)), releasePath_(std::move(releasePath)) {}
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
  QString releasePath_;
};

// A station's dialogs: while programsOwn() says that a box is the program's own (no operator's
// click led to it), the box does not wait but is answered at once with the answer that keeps
// the operator's data: a question "Да", a notice or an error OK, a file dialog cancelled. Its
// caption, text and answer go to report() as one line. Other boxes are the inner dialogs'.
class UnattendedDialogs final : public Dialogs {
 public:
  UnattendedDialogs(std::unique_ptr<Dialogs> inner, std::function<bool()> programsOwn,
                    std::function<void(const QString& line)> report)
      : inner_(std::move(inner)), programsOwn_(std::move(programsOwn)), report_(std::move(report)) {}
  void information(QWidget*, const QString& caption, const QString& text) override;
  void warning(QWidget*, const QString& caption, const QString& text) override;
  bool warningYesNo(QWidget*, const QString& caption, const QString& text) override;
  bool confirmYesNo(QWidget*, const QString& caption, const QString& text) override;
  bool informationYesNo(QWidget*, const QString& caption, const QString& text) override;
  QString openFile(QWidget*, const FileDialogRequest& request) override;
  QString saveFile(QWidget*, const FileDialogRequest& request) override;

 private:
  // Reports and returns true when the box is the program's own; false leaves it to the inner.
  bool answered(const QString& caption, const QString& text, const QString& answer);
  std::unique_ptr<Dialogs> inner_;
  std::function<bool()> programsOwn_;
  std::function<void(const QString&)> report_;
};
