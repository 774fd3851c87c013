#pragma once
// An INI file held in memory that reads and writes the way the Windows private-profile
// functions do, because the state, scenario and project files were always written by them:
//
//  - sections and keys match without letter case; the first section of a name and, in it,
//    the first key of a name win; later duplicates are kept but never seen;
//  - a section header is a line whose first non-blank character is '[', the name running to
//    the last ']' of the line; a key line has '=' (the key is the text before it, blanks
//    around it dropped); a line starting with ';' is a comment; anything else is kept as it is;
//  - a value read loses the blanks around it and one pair of matching quotes (" or '), and is
//    cut at 2047 characters (the profile functions' buffer);
//  - writing a key replaces the value of its first occurrence in place, or adds a line after
//    the last key line of the section (before trailing blank lines and comments); a missing
//    section is added at the end of the file; lines written end with CR LF;
//  - everything not written (other sections, comments, junk, line ends) stays byte for byte.
//
// Text is cp1251, unless the file starts with a UTF-8 byte-order mark: then it is read and
// written as UTF-8 (the mark kept). Files are parsed lazily: loading finds only the section
// headers; a section's keys are indexed when it is first looked into, so a huge file loads in
// linear time and a section of a hundred keys is read without scanning it a hundred times.

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <memory>
#include <optional>
#include <vector>

#include "persist/atomic_write.h"

class IniFile {
 public:
  static constexpr qsizetype kMaxValueLength = 2047;

  enum class Encoding { Cp1251, Utf8 };

  IniFile();
  // Parses the bytes of a file.
  explicit IniFile(QByteArray bytes);
  ~IniFile();
  IniFile(IniFile&&) noexcept;
  IniFile& operator=(IniFile&&) noexcept;
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  // Reads the file at path, first putting back its old text where an in-place save of it was
  // torn (recoverUnfinishedWrite; reported). A missing file gives an empty profile and true; a file
  // that exists but cannot be read (a folder, a pipe, socket or device, no permission, an I/O
  // error) gives an empty profile and false.
  bool load(const QString& path, QString* error = nullptr);
  // Writes the whole text atomically (writeFileAtomically). False with a reason on failure, and
  // the path of another user's link that was not followed in refusedLink.
  bool save(const QString& path, QString* error = nullptr, QString* refusedLink = nullptr) const;
  QByteArray toBytes() const;
  // The bytes as they were loaded.
  const QByteArray& loadedBytes() const { return raw_; }

  Encoding encoding() const { return encoding_; }

  bool hasSection(QStringView section) const;
  // The value as the profile functions return it; nullopt when the section or key is missing.
  std::optional<QString> value(QStringView section, QStringView key) const;
  // GetPrivateProfileString: a missing key gives the default, which loses its trailing spaces
  // and is cut at kMaxValueLength, as the profile functions do with it.
  QString readString(QStringView section, QStringView key, QStringView defaultValue) const;

  // The value is written unchanged (CR and LF become blanks: they would break the line).
  void writeString(QStringView section, QStringView key, QStringView value);
  // Removes the first section of that name: its header and every line up to the next header.
  void eraseSection(QStringView section);

 private:
  struct Line;
  struct Section;

  void parse();
  qsizetype findSection(QStringView section) const;
  bool foldedEquals(QByteArrayView name, const QString& folded) const;
  const Section* sectionAt(qsizetype i) const;
  std::optional<QByteArray> rawValue(const Section& s, const QString& foldedKey, quint64 hash) const;
  void materialize(Section& s);
  void buildIndex(const Section& s) const;
  QByteArray encode(QStringView text) const;
  QString decode(QByteArrayView bytes) const;

  QByteArray raw_;  // the bytes loaded; never modified, unchanged lines point into it
  Encoding encoding_ = Encoding::Cp1251;
  qsizetype bomLength_ = 0;
  qsizetype preambleEnd_ = 0;  // lines before the first header belong to no section
  std::vector<Section> sections_;

  // The last section looked up: a form's save or load asks for one section a few hundred times.
  mutable QString cachedName_;
  mutable qsizetype cachedIndex_ = -1;
  mutable bool cacheValid_ = false;
};
