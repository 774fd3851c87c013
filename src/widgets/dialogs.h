#pragma once
// Every modal question, notice and file dialog of the program goes through here.
// The Qt implementation shows real message boxes and file dialogs; tests install a
// scripted one and check the exact texts. A carriage return in a text is a line break.

#include <QString>

#include <memory>

class QWidget;

struct FileDialogRequest {
  QString title;
  QString filter;          // "Project files (*.qz4)|*.qz4" style pairs are converted by the caller
  QString defaultName;     // file name proposed
  QString defaultSuffix;   // without the dot
  QString initialFolder;
};

// A box given an empty caption shows "QZ418". The open dialog accepts names that do not exist:
// every caller handles a missing file itself.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  virtual void information(QWidget* parent, const QString& caption, const QString& text) = 0;
  virtual void warning(QWidget* parent, const QString& caption, const QString& text) = 0;
  virtual bool warningYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  virtual bool confirmYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  // An information box that asks: Yes and No buttons.
  virtual bool informationYesNo(QWidget* parent, const QString& caption, const QString& text) = 0;
  // Empty string when the operator cancels.
  virtual QString openFile(QWidget* parent, const FileDialogRequest& request) = 0;
  virtual QString saveFile(QWidget* parent, const FileDialogRequest& request) = 0;
};

// The program-wide instance; a QtDialogs unless a test installed another.
Dialogs& dialogs();
// Installs d (taking ownership); nullptr restores the Qt implementation. Returns the previous one.
std::unique_ptr<Dialogs> installDialogs(std::unique_ptr<Dialogs> d);

// The caption a box shows: the given one, "QZ418" when it is empty.
QString shownCaption(const QString& caption);

// Turns the carriage returns of the program's texts into line breaks for display.
QString displayText(const QString& text);
