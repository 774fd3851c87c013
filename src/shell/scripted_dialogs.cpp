#include "shell/scripted_dialogs.h"

#include <QFile>

void LoggingDialogs::write(const char* kind, const QString& caption, const QString& text) {
  QFile f(logPath_);
  if (!f.open(QIODevice::Append)) return;
  // One record per line: kind, caption, text with its carriage returns shown as \r.
  QString t = text;
  t.replace(u'\r', QStringLiteral("\\r")).replace(u'\n', QStringLiteral("\\n"));
  f.write(QStringLiteral("%1\t%2\t%3\n").arg(QLatin1String(kind), caption, t).toUtf8());
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
