#pragma once
// A Dialogs that records every call and answers from a script; installed for one test.

#include "widgets/dialogs.h"

#include <QStringList>

#include <deque>

class RecordingDialogs final : public Dialogs {
 public:
  struct Call {
    QString kind, caption, text;
  };
  std::vector<Call> calls;
  std::deque<bool> answers;       // for the yes/no questions; empty: Yes
  std::deque<QString> fileNames;  // for open/save; empty: cancelled
  std::vector<FileDialogRequest> fileRequests;

  void information(QWidget*, const QString& c, const QString& t) override { calls.push_back({"information", c, t}); }
  void warning(QWidget*, const QString& c, const QString& t) override { calls.push_back({"warning", c, t}); }
  bool warningYesNo(QWidget*, const QString& c, const QString& t) override {
    calls.push_back({"warningYesNo", c, t});
    return answer();
  }
  bool confirmYesNo(QWidget*, const QString& c, const QString& t) override {
    calls.push_back({"confirmYesNo", c, t});
    return answer();
  }
  bool informationYesNo(QWidget*, const QString& c, const QString& t) override {
    calls.push_back({"informationYesNo", c, t});
    return answer();
  }
  QString openFile(QWidget*, const FileDialogRequest& r) override {
    calls.push_back({"openFile", r.title, r.initialFolder});
    fileRequests.push_back(r);
    return nextFile();
  }
  QString saveFile(QWidget*, const FileDialogRequest& r) override {
    calls.push_back({"saveFile", r.title, r.initialFolder});
    fileRequests.push_back(r);
    return nextFile();
  }

 private:
  bool answer() {
    if (answers.empty()) return true;
    const bool a = answers.front();
    answers.pop_front();
    return a;
  }
  QString nextFile() {
    if (fileNames.empty()) return {};
    QString f = fileNames.front();
    fileNames.pop_front();
    return f;
  }
};

// Installs a RecordingDialogs for the life of the guard.
class ScopedRecordingDialogs {
 public:
  ScopedRecordingDialogs() {
    auto d = std::make_unique<RecordingDialogs>();
    dialogs_ = d.get();
    previous_ = installDialogs(std::move(d));
  }
  ~ScopedRecordingDialogs() { installDialogs(std::move(previous_)); }
  RecordingDialogs* operator->() { return dialogs_; }
  RecordingDialogs& operator*() { return *dialogs_; }

 private:
  RecordingDialogs* dialogs_;
  std::unique_ptr<Dialogs> previous_;
};
