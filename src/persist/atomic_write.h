#pragma once
// Replacing a saved file so that a crash, a full disk or a frozen file never costs the
// operator the set-up stored in it.

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

// Replaces the file at path by data. A symbolic link at path, or a chain of them, is followed
// to the file it finally names, and that file is replaced (a dangling link's target is
// created); the links stay links. A link is followed only when the running user or the owner of
// the folder holding it owns it (the kernel's rule for sticky shared folders, applied to every
// folder): another's link, dangling or not, is refused and named in refusedLink. The data goes
// to a new file in the target's folder, named ".<file>.<host>.<pid>.<random>~", which is synced
// to the disk and renamed over the target; the folder is synced after the rename. The new file
// keeps the old one's permissions, its owner, group and access ACL.
//
// When the new file cannot be given the old one's owner and group (another user's file, or a
// group the user cannot give files to) or the folder refuses a new name or the rename (another
// user's folder, a sticky one), and the mode bits let the user write the file, the file is
// written in place, which keeps all of them. First a record of the write goes to the user's
// private state folder (privateStateFolder()): the file's device, inode and path, its old text,
// the new text's length and hashes; the record and its folder are synced before the first byte
// of the file changes. The new length is reserved (posix_fallocate) before anything is
// written, so a full disk stops the save with the file untouched; where the file system cannot
// reserve, the write goes ahead unreserved. A write that fails midway writes the old text back
// at once. The record is removed once the new text is synced; a record left by a crash is
// judged by the next load (recoverUnfinishedWrite). No file is ever made beside the target for
// this. Root can give any owner, so root always replaces.
//
// A target whose mode bits do not let the running user write it (modeAllowsWrite: root is
// judged like the owner) is not replaced: "chmod a-w" is how an operator freezes a file.
//
// Before writing, temporary files of earlier saves of the same target are removed when their
// writer (the pid in their name, on this host) no longer runs: they are what a crash in the
// middle of a save leaves behind. Files of live writers and of other hosts stay.
//
// False, with a reason in error, when the target was not replaced; the file then holds its old
// text (or, where even writing the old text back failed, the record stays for the next load)
// and no temporary file of this call is left.
bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error = nullptr,
                         QString* refusedLink = nullptr);

// What makes a file's or a folder's contents durable: fsync by default. Tests put a recorder
// here; an empty function restores fsync. Returns the function replaced.
using AtomicWriteSync = std::function<int(int fd)>;
AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync);

// What a load finds in the private state folder about the file at path (links followed by the
// rule above) when its last in-place write did not finish. A record whose file holds its old
// or its new text, one that is incomplete (its write had not begun) and one of another inode
// (the file was replaced since) are removed silently.
struct UnfinishedWrite {
  enum class Outcome {
    None,       // nothing to do: the file is whole
    Restored,   // a torn write: the old text is back in the file, the record gone
    ReadOld,    // a torn write that cannot be put back now: text is the old text, the record stays
    KeptAside,  // someone else wrote the file since: the record's old text is kept in keptCopy
  };
  Outcome outcome = Outcome::None;
  QByteArray text;
  QString keptCopy;
};
// Each outcome but None is also reported (reportFileNotice).
UnfinishedWrite recoverUnfinishedWrite(const QString& path);

// Writes bytes as a new file in the private state folder, named after originalPath's file name
// and the time ("qz418.ini.2026-12-07_23-10-05.kept", a number added when taken), synced. The
// new file's path, or empty (a reason in error) when there is no private folder or no room.
QString keepDatedCopy(const QString& originalPath, QByteArrayView bytes, QString* error = nullptr);
