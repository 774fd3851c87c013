#include "shell/project_files.h"

#include <QFileInfo>
#include <QWidget>

#include "persist/form_state.h"

bool LoadAllForms(const QString& fileName, const QList<QWidget*>& windows) {
  for (QWidget* w : windows)
    if (!LoadFormState(fileName, w)) return false;
  return true;
}

bool SaveAllForms(const QString& fileName, const QList<QWidget*>& windows) {
  return SaveFormStates(fileName, windows);
}

namespace {

// The next dialog starts in the folder of the file last named in it (empty when that name
// has no folder, as the untouched default name).
void rememberFolder(FileDialogRequest& dialog) {
  const qsizetype slash = dialog.defaultName.lastIndexOf(u'/');
  dialog.initialFolder = slash >= 0 ? dialog.defaultName.left(slash) : QString();
}

}  // namespace

QString OpenProject(FileDialogRequest& dialog, QWidget* owner, const QList<QWidget*>& windows) {
  QString result = owner ? owner->windowTitle() : QString();
  dialog.title = QStringLiteral("Загрузить проект из файла");
  const QString chosen = dialogs().openFile(owner, dialog);
  if (!chosen.isEmpty()) {
    dialog.defaultName = QFileInfo(chosen).absoluteFilePath();
    if (QFileInfo::exists(chosen)) {
      if (LoadAllForms(dialog.defaultName, windows)) result = dialog.defaultName;
    } else {
      dialogs().information(owner, QString(), QStringLiteral("Не существует Файл \r") + dialog.defaultName);
    }
  }
  rememberFolder(dialog);
  return result;
}

QString SaveProjectAs(FileDialogRequest& dialog, QWidget* owner, const QList<QWidget*>& windows) {
  QString result = owner ? owner->windowTitle() : QString();
  dialog.title = QStringLiteral("Сохранить проект в файл как...");
  const QString chosen = dialogs().saveFile(owner, dialog);
  if (!chosen.isEmpty()) {
    dialog.defaultName = QFileInfo(chosen).absoluteFilePath();
    bool write = true;
    if (QFileInfo::exists(chosen))
      write = dialogs().confirmYesNo(owner, QString(),
                                     QStringLiteral("Файл с именем \r") + dialog.defaultName +
                                         QStringLiteral("\rуже существует\rЗаписать в него?"));
    if (write && SaveAllForms(dialog.defaultName, windows)) result = dialog.defaultName;
  }
  rememberFolder(dialog);
  return result;
}
