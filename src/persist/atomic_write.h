#pragma once
// Replacing a saved file so that a crash, a full disk or a frozen file never costs the
// operator the set-up stored in it.

#include <QByteArrayView>
#include <QString>
#include <functional>

// Replaces the file at path by data. A symbolic link at path, or a chain of them, is followed
// to the file it finally names, and that file is replaced (a dangling link's target is
// created); the links stay links. The data goes to a new file in the target's folder, named
// ".<file>.<host>.<pid>.<random>~", which is synced to the disk and renamed over the target;
// the folder is synced after the rename. The new file keeps the old one's permissions and,
// where the system allows, its owner and group.
//
// A target whose mode bits do not let the running user write it (modeAllowsWrite: root is
// judged like the owner) is not replaced: "chmod a-w" is how an operator freezes a file.
//
// Before writing, temporary files of earlier saves of the same target are removed when their
// writer (the pid in their name, on this host) no longer runs: they are what a crash in the
// middle of a save leaves behind. Files of live writers and of other hosts stay.
//
// False, with a reason in error, when the target was not replaced; the old file is then
// whole and no temporary file of this call is left.
bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error = nullptr);

// What makes a file's or a folder's contents durable: fsync by default. Tests put a recorder
// here; an empty function restores fsync. Returns the function replaced.
using AtomicWriteSync = std::function<int(int fd)>;
AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync);
