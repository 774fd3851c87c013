#pragma once
// The record of an in-place write: what a save that writes into a file keeps, in the user's
// private state folder, until the new text is on the disk, and how a load tells from it what
// happened to the file. Pure code: the file access is in atomic_write.cpp.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <optional>

struct UnfinishedWriteRecord {
  quint64 device = 0;
  quint64 inode = 0;
  QByteArray path;  // the file written, links resolved
  QByteArray oldText;
  qint64 newLength = 0;
  QByteArray newHash;                // SHA-256 of the whole new text
  QList<QByteArray> newBlockHashes;  // the first 8 bytes of the SHA-256 of each block of the new text

  // Blocks of the new text are hashed one by one, so that a load can tell a torn write (some
  // blocks new, the others old or zero) from a text someone else wrote: 512 bytes, the
  // smallest unit a disk writes whole.
  static constexpr qsizetype kBlock = 512;

  static UnfinishedWriteRecord make(quint64 device, quint64 inode, const QByteArray& path,
                                    const QByteArray& oldText, QByteArrayView newText);
  QByteArray encode() const;
  // nullopt for a record that is incomplete or damaged: its write had not begun.
  static std::optional<UnfinishedWriteRecord> decode(QByteArrayView bytes);
};

// What the file holds, judged against the record of its last in-place write.
enum class FileAgainstRecord {
  OldText,    // the write had not changed it, or its old text was put back
  NewText,    // the write finished
  TornWrite,  // blocks of the new text, the rest old text or zero fill
  Other,      // someone else wrote it since
};
FileAgainstRecord compareWithRecord(const UnfinishedWriteRecord& record, QByteArrayView file);

// The record's file name in the private folder: one per written path.
QByteArray unfinishedWriteRecordName(const QByteArray& path);
