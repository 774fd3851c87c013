#pragma once
// The running executable and where the program keeps its state files: the state file (named
// after the executable, "qz418.ini") and the scenario file "Scenes.ini".

#include <QString>

#include "platform/drive_type.h"

// Full path of the running executable (the link /proc/self/exe resolves to).
QString executablePath();

// The path with its extension replaced by newExtension (with the dot), or the extension
// appended when the file name has none: "/opt/qz/qz418" -> "/opt/qz/qz418.ini".
QString replaceExtension(const QString& path, const QString& newExtension);

// A portable copy (a folder of its own that the user may write, or any copy on a CD-ROM, a
// stick or a share, where the drive question at exit decides) keeps its files beside the
// executable, as operators have always kept them. An installed copy keeps them in the user's
// own config folder, $XDG_CONFIG_HOME/qz418/, under the same names; a set-up shipped beside
// the executable is its starting point until the user's own file exists.
struct StateLocation {
  bool installed = false;
  QString programFolder;  // the executable's folder
  QString saveFolder;     // programFolder, or the user's config folder for an installed copy
  QString homeFolder;
  QString stateFileName;  // the executable's file name with ".ini"

  // Where the file of that name is written.
  QString savePath(const QString& fileName) const;
  // Where it is read at start: where it is written; for an installed copy that has not
  // written it yet, the copy shipped beside the executable when there is one.
  QString readPath(const QString& fileName) const;
  // Where the file dialogs start: the executable's folder, or the home folder of an
  // installed copy (nobody keeps projects in /usr/bin).
  QString dialogFolder() const { return installed ? homeFolder : programFolder; }
};

// What the decision rests on, gathered by stateLocation() for the running program.
struct StateLocationFacts {
  QString executable;        // absolute, links resolved
  QString installBinFolder;  // the bin folder of the install prefix of this build, links resolved
  DriveType drive = DriveType::Unknown;  // of the executable's folder
  bool folderWritable = false;           // the folder's mode bits let the running user write
  QString configHome;                    // see configHome()
  QString homeFolder;
};

// The facts of the running program (each system finds them its own way).
StateLocationFacts runningProgramFacts();

// Installed when the executable lies in the bin folder it was built to be installed in, or
// in a folder on a fixed disk that the user may not write (root is judged like the owner, so
// root running a copy in the install prefix keeps out of it too).
StateLocation decideStateLocation(const StateLocationFacts& facts);

// $XDG_CONFIG_HOME when it is an absolute path (a relative one is to be ignored), else
// home/.config.
QString configHome(const QString& xdgConfigHome, const QString& homeFolder);

// Creates the folder and any missing parent with mode 0700, the way the config folders of a
// user are made. True when it is a folder afterwards.
bool createPrivateFolder(const QString& folder);

// The user's persistent private state folder: $XDG_STATE_HOME/qz418 when that variable is an
// absolute path, else <home>/.local/state/qz418. It survives a power loss and a log-out (the
// runtime folder is cleared then), and only the user may enter it: a real folder (no link),
// owned by the user, mode 0700 (made so when missing, its mode narrowed when the user owns it).
// Here the program keeps what no one else may choose or read: the record of an unfinished
// in-place save, and copies of files it would otherwise overwrite. Empty when there is no such
// folder, or (create false) when it does not exist yet.
QString privateStateFolder(bool create = true);

// The running program's, decided once on first use so that every window and the exit agree.
const StateLocation& stateLocation();

// Makes the running program keep its state files in folder, as a portable copy in that folder
// would, whatever its executable's place. For programs that embed the windows (the test
// programs): they sit beside a copy of qz418 a user runs from the same build folder and must
// never read or write that copy's state. Takes effect only before the first stateLocation().
void keepStateIn(const QString& folder);

// The state file of the program, where it is saved. For an installed copy the config folder
// is created (0700) when missing, as the file is about to be written into it.
QString stateFileName();
// The state file to read at start.
QString stateFileForReading();
// Scenes.ini, where it is saved (creating the config folder like stateFileName()).
QString scenesFileName();
// Scenes.ini to read at start.
QString scenesFileForReading();
// Where the program's file dialogs start.
QString fileDialogFolder();
