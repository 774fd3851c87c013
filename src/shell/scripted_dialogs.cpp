#include "shell/scripted_dialogs.h"

#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

void LoggingDialogs::write(const char* kind, const QString& caption, const QString& text) {
  {
    QFile f(logPath_);
    if (f.open(QIODevice::Append)) {
      // One record per line: kind, caption, text with its carriage returns shown as \r.
      QString t = text;
      t.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
      f.write(QStringLiteral("%1\t%2\t%3\n").arg(QLatin1String(kind), caption, t).toUtf8());
    }
  }  // written out before the box waits
  if (releasePath_.isEmpty() || QFileInfo::exists(releasePath_)) return;
  QEventLoop loop;
  QTimer poll;
  poll.callOnTimeout(&loop, [&] {
    if (QFileInfo::exists(releasePath_)) loop.quit();
  });
  poll.start(20);
  loop.exec();
}

void LoggingDialogs::information(QWidget*, const QString& caption, const QString& text) {
  write("information", caption, text);
}
void LoggingDialogs::warning(QWidget*, const QString& caption, const QString& text) {
  write("warning", caption, text);
}
bool LoggingDialogs::warningYesNo(QWidget*, const QString& caption, const QString& text) {
  write("warning-yes-no", caption, text);
  return true;
}
bool LoggingDialogs::confirmYesNo(QWidget*, const QString& caption, const QString& text) {
  write("confirm-yes-no", caption, text);
  return true;
}
bool LoggingDialogs::informationYesNo(QWidget*, const QString& caption, const QString& text) {
  write("information-yes-no", caption, text);
  return true;
}
QString LoggingDialogs::openFile(QWidget*, const FileDialogRequest& r) {
  write("open-file", r.title, r.initialFolder);
  return QString();
}
QString LoggingDialogs::saveFile(QWidget*, const FileDialogRequest& r) {
  write("save-file", r.title, r.initialFolder);
  return QString();
}

bool UnattendedDialogs::answered(const QString& caption, const QString& text, const QString& answer) {
  if (!programsOwn_()) return false;
  // "[caption] text -> answer": the box's lines joined by blanks.
  QString line = text;
  line.replace(QLatin1String("\r\n"), QLatin1String(" ")).replace(u'\r', u' ').replace(u'\n', u' ');
  report_(u'[' + shownCaption(caption) + QStringLiteral("] ") + line + QStringLiteral(" -> ") + answer);
  return true;
}

void UnattendedDialogs::information(QWidget* parent, const QString& caption, const QString& text) {
  if (!answered(caption, text, QStringLiteral("OK"))) inner_->information(parent, caption, text);
}
void UnattendedDialogs::warning(QWidget* parent, const QString& caption, const QString& text) {
  if (!answered(caption, text, QStringLiteral("OK"))) inner_->warning(parent, caption, text);
}
bool UnattendedDialogs::warningYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return answered(caption, text, QStringLiteral("Да")) || inner_->warningYesNo(parent, caption, text);
}
bool UnattendedDialogs::confirmYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return answered(caption, text, QStringLiteral("Да")) || inner_->confirmYesNo(parent, caption, text);
}
bool UnattendedDialogs::informationYesNo(QWidget* parent, const QString& caption, const QString& text) {
  return answered(caption, text, QStringLiteral("Да")) || inner_->informationYesNo(parent, caption, text);
}
QString UnattendedDialogs::openFile(QWidget* parent, const FileDialogRequest& r) {
  return answered(r.title, r.initialFolder, QStringLiteral("Отмена")) ? QString()
                                                                      : inner_->openFile(parent, r);
}
QString UnattendedDialogs::saveFile(QWidget* parent, const FileDialogRequest& r) {
  return answered(r.title, r.initialFolder, QStringLiteral("Отмена")) ? QString()
                                                                      : inner_->saveFile(parent, r);
}
