#include "persist/unfinished_write.h"

#include <QCryptographicHash>
#include <algorithm>

namespace {

constexpr QByteArrayView kMagic = "QZ418 unfinished in-place write 1\n";

QByteArray sha256(QByteArrayView data) { return QCryptographicHash::hash(data, QCryptographicHash::Sha256); }

QByteArray blockHash(QByteArrayView block) { return sha256(block).left(8); }

// "name=value\n" at pos; advances pos past the line.
std::optional<QByteArrayView> field(QByteArrayView bytes, qsizetype& pos, QByteArrayView name) {
  const qsizetype end = bytes.indexOf('\n', pos);
  if (end < 0) return std::nullopt;
  const QByteArrayView line = bytes.sliced(pos, end - pos);
  if (!line.startsWith(name) || line.size() <= name.size() || line[name.size()] != '=') return std::nullopt;
  pos = end + 1;
  return line.sliced(name.size() + 1);
}

std::optional<quint64> number(std::optional<QByteArrayView> text) {
  if (!text || text->isEmpty() || text->size() > 20) return std::nullopt;
  bool ok = false;
  const quint64 v = text->toULongLong(&ok, 10);
  return ok ? std::optional(v) : std::nullopt;
}

std::optional<QByteArray> hex(std::optional<QByteArrayView> text) {
  if (!text || text->size() % 2) return std::nullopt;
  for (char c : *text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
  return QByteArray::fromHex(text->toByteArray());
}

bool allZero(QByteArrayView s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c == 0; });
}

// The old text over [from, to): its bytes, zeros past its end (a reserved tail reads as zeros).
bool matchesOld(QByteArrayView old, QByteArrayView part, qsizetype from) {
  const qsizetype inOld = std::clamp<qsizetype>(old.size() - from, 0, part.size());
  return part.first(inOld) == old.sliced(std::min(from, old.size()), inOld) && allZero(part.sliced(inOld));
}

}  // namespace

UnfinishedWriteRecord UnfinishedWriteRecord::make(quint64 device, quint64 inode, const QByteArray& path,
                                                  const QByteArray& oldText, QByteArrayView newText) {
  UnfinishedWriteRecord r;
  r.device = device;
  r.inode = inode;
  r.path = path;
  r.oldText = oldText;
  r.newLength = newText.size();
  r.newHash = sha256(newText);
  for (qsizetype at = 0; at < newText.size(); at += kBlock)
    r.newBlockHashes.append(blockHash(newText.sliced(at, std::min(kBlock, newText.size() - at))));
  return r;
}

QByteArray UnfinishedWriteRecord::encode() const {
  QByteArray out = kMagic.toByteArray();
  out += "device=" + QByteArray::number(device) + '\n';
  out += "inode=" + QByteArray::number(inode) + '\n';
  out += "path=" + path.toHex() + '\n';
  out += "new-length=" + QByteArray::number(newLength) + '\n';
  out += "new-sha256=" + newHash.toHex() + '\n';
  out += "new-blocks=" + newBlockHashes.join().toHex() + '\n';
  out += "old-length=" + QByteArray::number(oldText.size()) + '\n';
  out += "old-sha256=" + sha256(oldText).toHex() + '\n';
  out += '\n';
  out += oldText;
  return out;
}

std::optional<UnfinishedWriteRecord> UnfinishedWriteRecord::decode(QByteArrayView bytes) {
  if (!bytes.startsWith(kMagic)) return std::nullopt;
  qsizetype pos = kMagic.size();
  const auto device = number(field(bytes, pos, "device"));
  const auto inode = number(field(bytes, pos, "inode"));
  const auto path = hex(field(bytes, pos, "path"));
  const auto newLength = number(field(bytes, pos, "new-length"));
  const auto newHash = hex(field(bytes, pos, "new-sha256"));
  const auto blocks = hex(field(bytes, pos, "new-blocks"));
  const auto oldLength = number(field(bytes, pos, "old-length"));
  const auto oldHash = hex(field(bytes, pos, "old-sha256"));
  if (!device || !inode || !path || path->isEmpty() || !newLength || !newHash || newHash->size() != 32 ||
      !blocks || !oldLength || !oldHash || pos >= bytes.size() || bytes[pos] != '\n')
    return std::nullopt;
  ++pos;
  const qint64 expectedBlocks = (qint64(*newLength) + kBlock - 1) / kBlock;
  if (qint64(*newLength) < 0 || blocks->size() != expectedBlocks * 8) return std::nullopt;
  // The old text must be all there: a record cut short was never synced, so its write had not begun.
  if (quint64(bytes.size() - pos) != *oldLength) return std::nullopt;
  UnfinishedWriteRecord r;
  r.oldText = bytes.sliced(pos).toByteArray();
  if (sha256(r.oldText) != *oldHash) return std::nullopt;
  r.device = *device;
  r.inode = *inode;
  r.path = *path;
  r.newLength = qint64(*newLength);
  r.newHash = *newHash;
  for (qsizetype at = 0; at < blocks->size(); at += 8) r.newBlockHashes.append(blocks->mid(at, 8));
  return r;
}

FileAgainstRecord compareWithRecord(const UnfinishedWriteRecord& r, QByteArrayView file) {
  if (file.size() == r.newLength && sha256(file) == r.newHash) return FileAgainstRecord::NewText;
  if (file == r.oldText) return FileAgainstRecord::OldText;
  const qsizetype oldLength = r.oldText.size(), newLength = r.newLength;
  // The sizes a write can leave: the old one, the reserved one, the new one after truncation.
  const qsizetype size = file.size();
  if (size != oldLength && size != newLength && size != std::max(oldLength, newLength))
    return FileAgainstRecord::Other;
  // Blocks reach the disk whole and in any order (a kill leaves whole pages, a full disk whole
  // file-system blocks, both multiples of 512 bytes). A block that is neither old, zero nor new
  // is someone else's text: a small file another user saved may differ from the old text in
  // a few bytes only, and must never be taken for a torn write of ours.
  for (qsizetype at = 0; at < size; at += UnfinishedWriteRecord::kBlock) {
    const QByteArrayView part = file.sliced(at, std::min(UnfinishedWriteRecord::kBlock, size - at));
    if (matchesOld(r.oldText, part, at) || allZero(part)) continue;
    // A block of the new text, whole; past the new text's end the old text or zeros.
    const qsizetype inNew = std::min(part.size(), newLength - at);
    const qsizetype block = at / UnfinishedWriteRecord::kBlock;
    if (inNew > 0 && at + inNew == std::min(at + UnfinishedWriteRecord::kBlock, newLength) &&
        block < r.newBlockHashes.size() && blockHash(part.first(inNew)) == r.newBlockHashes[block] &&
        matchesOld(r.oldText, part.sliced(inNew), at + inNew))
      continue;
    return FileAgainstRecord::Other;
  }
  return FileAgainstRecord::TornWrite;
}

QByteArray unfinishedWriteRecordName(const QByteArray& path) {
  return "unfinished-" + sha256(path).toHex().left(32) + ".rec";
}
