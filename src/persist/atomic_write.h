#pragma once
// Replacing a saved file so that a crash, a full disk or a frozen file never costs the
// operator the set-up stored in it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

// Replaces the file at path by data. A symbolic link at path, or a chain of them, is followed
// to the file it finally names, and that file is replaced (a dangling link's target is
// created); the links stay links. The data goes to a new file in the target's folder, named
// ".<file>.<host>.<pid>.<random>~", which is synced to the disk and renamed over the target;
// the folder is synced after the rename. The new file keeps the old one's permissions,
// its owner, group and access ACL.
//
// When the new file cannot be given the old one's owner and group (another user's file, or a
// group the user cannot give files to) or the folder refuses the new name (another user's
// folder, a sticky one), and the mode bits let the user write the file, the file is written in
// place, which keeps all of them: its old text is first copied, synced, to
// unfinishedSaveCopyName() beside it, and the copy is removed once the new text is synced. Root
// can give any owner, so root always replaces. A copy found at a save is the last whole text of
// an unfinished in-place save: an in-place save keeps it as its copy, a replace removes it.
//
// A target whose mode bits do not let the running user write it (modeAllowsWrite: root is
// judged like the owner) is not replaced: "chmod a-w" is how an operator freezes a file.
//
// Before writing, temporary files of earlier saves of the same target are removed when their
// writer (the pid in their name, on this host) no longer runs: they are what a crash in the
// middle of a save leaves behind. Files of live writers and of other hosts stay.
//
// False, with a reason in error, when the target was not replaced; the old file is then
// whole (or, after a crash in an in-place write, its copy is) and no temporary file of this call
// is left.
bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error = nullptr);

// What makes a file's or a folder's contents durable: fsync by default. Tests put a recorder
// here; an empty function restores fsync. Returns the function replaced.
using AtomicWriteSync = std::function<int(int fd)>;
AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync);

// ".<file>.before-save~": where an in-place save keeps the old text until the new one is on the
// disk. Never a name of the temporary files above (their last part is letters and digits).
QByteArray unfinishedSaveCopyName(const QByteArray& fileName);

// What a load finds beside a file (links followed) when its last in-place save did not finish.
struct UnfinishedSave {
  enum class Outcome {
    None,          // no copy: the file is whole
    Restored,      // the copy's text is back in the file; the copy is removed unless problem says
    ReadFromCopy,  // the file cannot be written: text is the one to use, the copy stays
    Ignored,       // a copy that cannot be read, or that a user who may not write the file made
  };
  Outcome outcome = Outcome::None;
  QString copyPath;
  QByteArray text;
  QString problem;
};
UnfinishedSave recoverUnfinishedSave(const QString& path);
