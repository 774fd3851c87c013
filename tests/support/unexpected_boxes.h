#pragma once
// Test programs that embed the windows answer every message box and file dialog that no test
// expects with a failure that names it, at once: a real modal box would wait for a click that
// never comes until CTest's timeout. Tests that expect boxes install their own Dialogs
// (RecordingDialogs) for their duration; this one is what is left between them.

#include "widgets/dialogs.h"

#include <gtest/gtest.h>

class UnexpectedBoxes final : public Dialogs {
 public:
  void information(QWidget*, const QString& c, const QString& t) override { fail("information", c, t); }
  void warning(QWidget*, const QString& c, const QString& t) override { fail("warning", c, t); }
  bool warningYesNo(QWidget*, const QString& c, const QString& t) override { return fail("warningYesNo", c, t); }
  bool confirmYesNo(QWidget*, const QString& c, const QString& t) override { return fail("confirmYesNo", c, t); }
  bool informationYesNo(QWidget*, const QString& c, const QString& t) override {
    return fail("informationYesNo", c, t);
  }
  QString openFile(QWidget*, const FileDialogRequest& r) override {
    fail("openFile", r.title, r.initialFolder);
    return {};
  }
  QString saveFile(QWidget*, const FileDialogRequest& r) override {
    fail("saveFile", r.title, r.initialFolder);
    return {};
  }

 private:
  // No is the answer that changes nothing.
  static bool fail(const char* kind, const QString& caption, const QString& text) {
    ADD_FAILURE() << "a box no test expected: " << kind << " \"" << caption.toStdString() << "\": "
                  << text.toStdString();
    return false;
  }
};

inline void failOnUnexpectedBoxes() { installDialogs(std::make_unique<UnexpectedBoxes>()); }
