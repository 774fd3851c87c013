#include "widgets/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

class QtDialogs final : public Dialogs {
 public:
  void information(QWidget* parent, const QString& caption, const QString& text) override {
    QMessageBox::information(parent, shownCaption(caption), displayText(text));
  }
  void warning(QWidget* parent, const QString& caption, const QString& text) override {
    QMessageBox::warning(parent, shownCaption(caption), displayText(text));
  }
  bool warningYesNo(QWidget* parent, const QString& caption, const QString& text) override {
    return QMessageBox::warning(parent, shownCaption(caption), displayText(text),
                                QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  bool confirmYesNo(QWidget* parent, const QString& caption, const QString& text) override {
    return QMessageBox::question(parent, shownCaption(caption), displayText(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  bool informationYesNo(QWidget* parent, const QString& caption, const QString& text) override {
    return QMessageBox::information(parent, shownCaption(caption), displayText(text),
                                    QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  }
  QString openFile(QWidget* parent, const FileDialogRequest& r) override {
    QFileDialog d(parent, r.title, r.initialFolder, r.filter);
    d.setAcceptMode(QFileDialog::AcceptOpen);
    // Any name may be confirmed: the callers answer a missing file themselves (the scenario
    // window still takes the name as its title, a project says the file does not exist).
    d.setFileMode(QFileDialog::AnyFile);
    if (!r.defaultSuffix.isEmpty()) d.setDefaultSuffix(r.defaultSuffix);
    if (!r.defaultName.isEmpty()) d.selectFile(r.defaultName);
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().first() : QString();
  }
  QString saveFile(QWidget* parent, const FileDialogRequest& r) override {
    QFileDialog d(parent, r.title, r.initialFolder, r.filter);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setOption(QFileDialog::DontConfirmOverwrite);  // the program asks itself, with its own text
    if (!r.defaultSuffix.isEmpty()) d.setDefaultSuffix(r.defaultSuffix);
    if (!r.defaultName.isEmpty()) d.selectFile(r.defaultName);
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().first() : QString();
  }
};

std::unique_ptr<Dialogs>& current() {
  static std::unique_ptr<Dialogs> d = std::make_unique<QtDialogs>();
  return d;
}

}  // namespace

Dialogs& dialogs() { return *current(); }

std::unique_ptr<Dialogs> installDialogs(std::unique_ptr<Dialogs> d) {
  auto previous = std::move(current());
  current() = d ? std::move(d) : std::make_unique<QtDialogs>();
  return previous;
}

// Spelled out: the application has no display name, since Qt would append one to every window
// title.
QString shownCaption(const QString& caption) { return caption.isEmpty() ? QStringLiteral("QZ418") : caption; }

QString displayText(const QString& text) {
  QString t = text;
  t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  t.replace(u'\r', u'\n');
  return t;
}
