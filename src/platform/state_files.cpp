// The running program's state files: where the decision for this copy put them, decided once.
// The same on every system; only the facts differ (runningProgramFacts()).

#include <QDir>
#include <QFileInfo>

#include "platform/executable_path.h"

namespace {
const QString kScenesFileName = QStringLiteral("Scenes.ini");

QString& stateFolderOverride() {
  static QString folder;
  return folder;
}
}  // namespace

void keepStateIn(const QString& folder) { stateFolderOverride() = QDir::cleanPath(folder); }

const StateLocation& stateLocation() {
  static const StateLocation location = [] {
    StateLocationFacts facts = runningProgramFacts();
    if (const QString& folder = stateFolderOverride(); !folder.isEmpty()) {
      facts.executable = QDir(folder).filePath(QFileInfo(facts.executable).fileName());
      facts.installBinFolder.clear();
      facts.drive = DriveType::Fixed;
      facts.folderWritable = true;
    }
    return decideStateLocation(facts);
  }();
  return location;
}

QString stateFileName() {
  const StateLocation& l = stateLocation();
  if (l.installed) createPrivateFolder(l.saveFolder);
  return l.savePath(l.stateFileName);
}

QString stateFileForReading() { return stateLocation().readPath(stateLocation().stateFileName); }

QString scenesFileName() {
  const StateLocation& l = stateLocation();
  if (l.installed) createPrivateFolder(l.saveFolder);
  return l.savePath(kScenesFileName);
}

QString scenesFileForReading() { return stateLocation().readPath(kScenesFileName); }

QString fileDialogFolder() { return stateLocation().dialogFolder(); }
