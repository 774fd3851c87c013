#include "persist/project_files.h"

#include <QFileInfo>
#include <QWidget>

#include "panel/main_form.h"
#include "persist/form_state.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "usb/link_form.h"

QList<QWidget*> applicationWindows() {
  QList<QWidget*> windows;
  for (QWidget* w : std::initializer_list<QWidget*>{MainForm, RxDrawForm, SchemaForm, LinkForm})
    if (w) windows.append(w);
  return windows;
}

bool LoadAllForms(const QString& fileName) {
  for (QWidget* w : applicationWindows())
    if (!LoadFormState(fileName, w)) return false;
  return true;
}

bool SaveAllForms(const QString& fileName) { return SaveFormStates(fileName, applicationWindows()); }

namespace {

// The next dialog starts in the folder of the file last named in it (empty when that name
// has no folder, as the untouched default name).
void rememberFolder(FileDialogRequest& dialog) {
  const qsizetype slash = dialog.defaultName.lastIndexOf(u'/');
  dialog.initialFolder = slash >= 0 ? dialog.defaultName.left(slash) : QString();
}

}  // namespace

QString OpenProject(FileDialogRequest& dialog, QWidget* owner) {
  QString result = owner ? owner->windowTitle() : QString();
  dialog.title = QStringLiteral("Загрузить проект из файла");
  const QString chosen = dialogs().openFile(owner, dialog);
  if (!chosen.isEmpty()) {
    dialog.defaultName = QFileInfo(chosen).absoluteFilePath();
    if (QFileInfo::exists(chosen)) {
      if (LoadAllForms(dialog.defaultName)) result = dialog.defaultName;
    } else {
      dialogs().information(owner, QString(), QStringLiteral("Не существует Файл \r") + dialog.defaultName);
    }
  }
  rememberFolder(dialog);
  return result;
}

QString SaveProjectAs(FileDialogRequest& dialog, QWidget* owner) {
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
    if (write && SaveAllForms(dialog.defaultName)) result = dialog.defaultName;
  }
  rememberFolder(dialog);
  return result;
}
