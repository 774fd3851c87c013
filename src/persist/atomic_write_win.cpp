// Windows: the new text goes to a temporary file in the target's folder, is flushed to the disk
// and then takes the target's place with ReplaceFileW, which keeps the old file's attributes,
// access list and creation time (what owner, mode and ACL copying do on Linux). A new target
// is moved into place with write-through. A read-only file is how an operator freezes a file on
// Windows: it is not replaced. Windows has no in-place fallback: a folder that refuses new
// names fails the save with the system's reason, the old file whole.
#ifdef _WIN32
#include <windows.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>

#include "persist/atomic_write.h"
#include "platform/executable_path.h"

namespace {

AtomicWriteSync& syncOverride() {
  static AtomicWriteSync sync;
  return sync;
}

QString systemMessage(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString out = n ? QString::fromWCharArray(text, int(n)).trimmed() : QStringLiteral("error %1").arg(code);
  if (text) ::LocalFree(text);
  return out;
}

std::wstring native(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

}  // namespace

AtomicWriteSync setAtomicWriteSync(AtomicWriteSync sync) {
  AtomicWriteSync old = std::move(syncOverride());
  syncOverride() = std::move(sync);
  return old;
}

bool writeFileAtomically(const QString& path, QByteArrayView data, QString* error, QString* refusedLink) {
  // Windows programs see no symbolic links here that another user could plant in a shared
  // folder the way Linux sticky folders allow: nothing is refused by owner.
  if (refusedLink) refusedLink->clear();
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const QFileInfo info(path);
  if (info.fileName().isEmpty()) return fail(QStringLiteral("no file name"));
  const QString target = info.absoluteFilePath();
  const std::wstring targetW = native(target);
  const DWORD attributes = ::GetFileAttributesW(targetW.c_str());
  const bool existed = attributes != INVALID_FILE_ATTRIBUTES;
  if (existed && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(QStringLiteral("is a folder"));
  if (existed && (attributes & FILE_ATTRIBUTE_READONLY)) return fail(systemMessage(ERROR_ACCESS_DENIED));

  HANDLE h = INVALID_HANDLE_VALUE;
  std::wstring tempW;
  for (int attempt = 0; attempt < 64 && h == INVALID_HANDLE_VALUE; ++attempt) {
    const QString temp = info.absolutePath() + QStringLiteral("/.") + info.fileName() + QLatin1Char('.') +
                         QString::number(::GetCurrentProcessId()) + QLatin1Char('.') +
                         QString::number(QRandomGenerator::global()->generate64(), 36) + QLatin1Char('~');
    tempW = native(temp);
    h = ::CreateFileW(tempW.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) return fail(systemMessage(::GetLastError()));
  auto abandon = [&](DWORD code) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    ::DeleteFileW(tempW.c_str());
    return fail(systemMessage(code));
  };
  const char* p = data.data();
  qsizetype left = data.size();
  while (left > 0) {
    DWORD written = 0;
    const DWORD chunk = DWORD(std::min<qsizetype>(left, 1 << 30));
    if (!::WriteFile(h, p, chunk, &written, nullptr)) return abandon(::GetLastError());
    p += written;
    left -= written;
  }
  // The contents reach the disk before the name does: a crash after the replace must not
  // leave an empty file under the target's name. A test's recorder stands in for the flush.
  if (syncOverride()) {
    if (syncOverride()(-1) != 0) return abandon(ERROR_WRITE_FAULT);
  } else if (!::FlushFileBuffers(h)) {
    return abandon(::GetLastError());
  }
  ::CloseHandle(h);
  h = INVALID_HANDLE_VALUE;
  const bool replaced =
      existed ? ::ReplaceFileW(targetW.c_str(), tempW.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                               nullptr)
              : ::MoveFileExW(tempW.c_str(), targetW.c_str(), MOVEFILE_WRITE_THROUGH);
  if (!replaced) return abandon(::GetLastError());
  return true;
}

// No in-place saves on Windows, so there is never a record of an unfinished one to judge.
UnfinishedWrite recoverUnfinishedWrite(const QString&) { return {}; }

QString keepDatedCopy(const QString& originalPath, QByteArrayView bytes, QString* error) {
  const QString folder = privateStateFolder(true);
  if (folder.isEmpty()) {
    if (error) *error = QStringLiteral("no private state folder");
    return QString();
  }
  const QString base = folder + QLatin1Char('/') + QFileInfo(originalPath).fileName() + QLatin1Char('.') +
                       QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
  for (int n = 1; n < 1000; ++n) {
    const QString name = base + (n > 1 ? QLatin1Char('-') + QString::number(n) : QString()) + QStringLiteral(".kept");
    const std::wstring nameW = native(name);
    HANDLE h = ::CreateFileW(nameW.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      if (::GetLastError() == ERROR_FILE_EXISTS) continue;
      break;
    }
    DWORD written = 0;
    const bool ok = ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                    written == DWORD(bytes.size()) && ::FlushFileBuffers(h);
    ::CloseHandle(h);
    if (ok) return name;
    ::DeleteFileW(nameW.c_str());
    break;
  }
  if (error) *error = systemMessage(::GetLastError());
  return QString();
}
#endif
