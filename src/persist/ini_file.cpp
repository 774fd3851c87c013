#include "persist/ini_file.h"

#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_map>

#include "base/cp1251.h"

namespace {

enum class Term : quint8 { None, Lf, CrLf };

// The blanks the profile functions drop around names and values; 0x1A is the old end-of-file mark.
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f' || c == '\x1a'; }

QByteArrayView trimmed(QByteArrayView s) {
  qsizetype b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.sliced(b, e - b);
}

qsizetype firstNonBlank(QByteArrayView line) {
  qsizetype i = 0;
  while (i < line.size() && isBlank(line[i])) ++i;
  return i;
}

// The name between '[' and the last ']' of a header line; nullopt when the line is no header.
std::optional<QByteArrayView> headerName(QByteArrayView line) {
  const qsizetype i = firstNonBlank(line);
  if (i >= line.size() || line[i] != '[') return std::nullopt;
  const qsizetype close = line.lastIndexOf(']');
  if (close <= i) return std::nullopt;
  return line.sliced(i + 1, close - i - 1);
}

struct KeyLine {
  QByteArrayView key;    // blanks around it dropped
  qsizetype valueStart;  // just past the '='
};

std::optional<KeyLine> keyLine(QByteArrayView line) {
  const qsizetype i = firstNonBlank(line);
  if (i >= line.size() || line[i] == ';' || headerName(line)) return std::nullopt;
  const qsizetype eq = line.indexOf('=', i);
  if (eq < 0) return std::nullopt;
  qsizetype e = eq;
  while (e > i && isBlank(line[e - 1])) --e;
  return KeyLine{line.sliced(i, e - i), eq + 1};
}

// Content of the line starting at pos (its end found before limit), without the line end.
QByteArrayView lineFrom(const QByteArray& raw, qint64 pos, qint64 limit, qint64* next = nullptr) {
  const char* d = raw.constData();
  const void* nl = std::memchr(d + pos, '\n', size_t(limit - pos));
  qint64 end = nl ? static_cast<const char*>(nl) - d : limit;
  if (next) *next = nl ? end + 1 : limit;
  if (nl && end > pos && d[end - 1] == '\r') --end;
  return QByteArrayView(d + pos, end - pos);
}

// FNV-1a over the UTF-16 units of a case-folded name.
constexpr quint64 kFnvBasis = 14695981039346656037ull;
constexpr quint64 kFnvPrime = 1099511628211ull;

quint64 hashStep(quint64 h, char16_t u) {
  h = (h ^ (u & 0xFF)) * kFnvPrime;
  return (h ^ (u >> 8)) * kFnvPrime;
}

quint64 hashFolded(QStringView folded) {
  quint64 h = kFnvBasis;
  for (QChar c : folded) h = hashStep(h, c.unicode());
  return h;
}

bool isAscii(QByteArrayView s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return uchar(c) < 0x80; });
}

char16_t asciiLower(char c) { return char16_t(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : uchar(c)); }

struct IndexEntry {
  quint64 hash;
  qint64 pos;  // offset of the line in raw_, or index into the section's lines once materialized
  bool operator<(const IndexEntry& o) const { return hash != o.hash ? hash < o.hash : pos < o.pos; }
};

// What a section needs once it is looked into or written.
struct SectionBody {
  bool materialized = false;  // header and lines below hold the section; raw_ no longer does
  bool indexed = false;
  std::vector<IndexEntry> index;                   // key lines at indexing time, sorted
  std::unordered_multimap<quint64, qint64> added;  // keys written into the section since
};

}  // namespace

struct IniFile::Line {
  QByteArray text;  // without the line end; unchanged lines share raw_'s bytes
  Term term = Term::CrLf;
};

struct IniFile::Section {
  qint64 rawBegin = -1;  // header line in raw_; -1 for a section added by a write
  qint64 rawEnd = -1;    // end of the section's last line in raw_, line end included
  struct Body : SectionBody {
    Line header;
    std::vector<Line> lines;
  };
  mutable std::unique_ptr<Body> body;  // created when the section is first looked into

  Body& ensureBody() const {
    if (!body) body = std::make_unique<Body>();
    return *body;
  }
  bool isMaterialized() const { return body && body->materialized; }
};

IniFile::IniFile() = default;
IniFile::~IniFile() = default;
IniFile::IniFile(IniFile&&) noexcept = default;
IniFile& IniFile::operator=(IniFile&&) noexcept = default;

IniFile::IniFile(QByteArray bytes) : raw_(std::move(bytes)) { parse(); }

void IniFile::parse() {
  sections_.clear();
  cacheValid_ = false;
  const char* d = raw_.constData();
  const qint64 n = raw_.size();
  encoding_ = Encoding::Cp1251;
  bomLength_ = 0;
  if (n >= 3 && uchar(d[0]) == 0xEF && uchar(d[1]) == 0xBB && uchar(d[2]) == 0xBF) {
    encoding_ = Encoding::Utf8;
    bomLength_ = 3;
  }
  preambleEnd_ = n;
  qint64 pos = bomLength_;
  while (pos < n) {
    qint64 next = 0;
    const QByteArrayView line = lineFrom(raw_, pos, n, &next);
    if (headerName(line)) {
      if (sections_.empty())
        preambleEnd_ = pos;
      else
        sections_.back().rawEnd = pos;
      Section s;
      s.rawBegin = pos;
      s.rawEnd = n;
      sections_.push_back(std::move(s));
    }
    pos = next;
  }
}

bool IniFile::load(const QString& path, QString* error) {
  *this = IniFile();
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  // An in-place save that did not finish left a record in the private state folder: a torn
  // file gets its old text back before it is read.
  const UnfinishedWrite unfinished = recoverUnfinishedWrite(path);
  if (unfinished.outcome == UnfinishedWrite::Outcome::ReadOld) {
    raw_ = unfinished.text;
    parse();
    return true;
  }
  struct stat st {};
  if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
    // Nothing there (a dangling link included) reads as an empty file.
    if (errno == ENOENT) return true;
    return fail(QString::fromLocal8Bit(std::strerror(errno)));
  }
  if (S_ISDIR(st.st_mode)) return fail(QStringLiteral("is a folder"));
  // A pipe would block the reading for good, a device could stream without end, a socket
  // cannot be opened: none of them is a file the program wrote.
  if (!S_ISREG(st.st_mode)) return fail(QStringLiteral("is not a regular file"));
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return fail(f.errorString());
  QByteArray data = f.readAll();
  if (f.error() != QFileDevice::NoError) return fail(f.errorString());
  raw_ = std::move(data);
  parse();
  return true;
}

bool IniFile::save(const QString& path, QString* error, QString* refusedLink) const {
  return writeFileAtomically(path, toBytes(), error, refusedLink);
}

QByteArray IniFile::encode(QStringView text) const {
  return encoding_ == Encoding::Utf8 ? text.toUtf8() : toCp1251(text);
}

QString IniFile::decode(QByteArrayView bytes) const {
  return encoding_ == Encoding::Utf8 ? QString::fromUtf8(bytes) : fromCp1251(bytes);
}

namespace {

// The case-folded name and its hash; ASCII names (all of the program's) skip the decoding.
struct FoldedName {
  QString text;
  quint64 hash;
};

FoldedName foldName(QByteArrayView bytes, IniFile::Encoding enc) {
  FoldedName f;
  if (isAscii(bytes)) {
    f.text.resize(bytes.size());
    QChar* out = f.text.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) out[i] = QChar(asciiLower(bytes[i]));
  } else {
    f.text = (enc == IniFile::Encoding::Utf8 ? QString::fromUtf8(bytes) : fromCp1251(bytes)).toCaseFolded();
  }
  f.hash = hashFolded(f.text);
  return f;
}

quint64 hashName(QByteArrayView bytes, IniFile::Encoding enc) {
  if (!isAscii(bytes)) return foldName(bytes, enc).hash;
  quint64 h = kFnvBasis;
  for (char c : bytes) h = hashStep(h, asciiLower(c));
  return h;
}

}  // namespace

// Without building a string for ASCII names: a file may hold millions of headers.
bool IniFile::foldedEquals(QByteArrayView name, const QString& folded) const {
  if (isAscii(name)) {
    if (name.size() != folded.size()) return false;
    for (qsizetype i = 0; i < name.size(); ++i)
      if (asciiLower(name[i]) != folded[i].unicode()) return false;
    return true;
  }
  // One byte is one character in cp1251, and folding keeps the length: a cheap first test.
  if (encoding_ == Encoding::Cp1251 && name.size() != folded.size()) return false;
  return foldName(name, encoding_).text == folded;
}

qsizetype IniFile::findSection(QStringView section) const {
  QString folded = section.toString().toCaseFolded();
  if (cacheValid_ && folded == cachedName_) return cachedIndex_;
  qsizetype found = -1;
  for (size_t i = 0; i < sections_.size() && found < 0; ++i) {
    const Section& s = sections_[i];
    const QByteArrayView line =
        s.isMaterialized() ? QByteArrayView(s.body->header.text) : lineFrom(raw_, s.rawBegin, s.rawEnd);
    const std::optional<QByteArrayView> name = headerName(line);
    if (!name) continue;  // cannot happen: only header lines start sections
    if (foldedEquals(*name, folded)) found = qsizetype(i);
  }
  cachedName_ = std::move(folded);
  cachedIndex_ = found;
  cacheValid_ = true;
  return found;
}

const IniFile::Section* IniFile::sectionAt(qsizetype i) const {
  return i < 0 ? nullptr : &sections_[size_t(i)];
}

bool IniFile::hasSection(QStringView section) const { return findSection(section) >= 0; }

void IniFile::buildIndex(const Section& s) const {
  Section::Body& b = s.ensureBody();
  b.index.clear();
  b.added.clear();
  if (b.materialized) {
    for (size_t i = 0; i < b.lines.size(); ++i)
      if (const auto k = keyLine(b.lines[i].text))
        b.index.push_back({hashName(k->key, encoding_), qint64(i)});
  } else {
    qint64 pos = 0;
    lineFrom(raw_, s.rawBegin, s.rawEnd, &pos);  // the header
    while (pos < s.rawEnd) {
      qint64 next = 0;
      const QByteArrayView line = lineFrom(raw_, pos, s.rawEnd, &next);
      if (const auto k = keyLine(line)) b.index.push_back({hashName(k->key, encoding_), pos});
      pos = next;
    }
  }
  std::sort(b.index.begin(), b.index.end());
  b.indexed = true;
}

namespace {

// Position of the first key line named like foldedKey in a section's index, or -1.
template <typename LineOf>
qint64 findKeyIn(const SectionBody& b, const QString& foldedKey, quint64 hash, IniFile::Encoding enc,
                 LineOf lineOf) {
  auto matches = [&](qint64 pos) {
    const auto k = keyLine(lineOf(pos));
    return k && foldName(k->key, enc).text == foldedKey;
  };
  auto it = std::lower_bound(b.index.begin(), b.index.end(), IndexEntry{hash, -1});
  for (; it != b.index.end() && it->hash == hash; ++it)
    if (matches(it->pos)) return it->pos;
  const auto range = b.added.equal_range(hash);
  for (auto a = range.first; a != range.second; ++a)
    if (matches(a->second)) return a->second;
  return -1;
}

}  // namespace

std::optional<QByteArray> IniFile::rawValue(const Section& s, const QString& foldedKey, quint64 hash) const {
  if (!s.body || !s.body->indexed) buildIndex(s);
  const Section::Body& b = *s.body;
  if (b.materialized) {
    auto lineOf = [&](qint64 pos) { return QByteArrayView(b.lines[size_t(pos)].text); };
    const qint64 pos = findKeyIn(b, foldedKey, hash, encoding_, lineOf);
    if (pos < 0) return std::nullopt;
    const QByteArrayView line = lineOf(pos);
    return line.sliced(keyLine(line)->valueStart).toByteArray();
  }
  auto lineOf = [&](qint64 pos) { return lineFrom(raw_, pos, s.rawEnd); };
  const qint64 pos = findKeyIn(b, foldedKey, hash, encoding_, lineOf);
  if (pos < 0) return std::nullopt;
  const QByteArrayView line = lineOf(pos);
  return line.sliced(keyLine(line)->valueStart).toByteArray();
}

namespace {

// Cut at max characters, never between the two halves of a surrogate pair.
void cutValue(QString& v) {
  if (v.size() <= IniFile::kMaxValueLength) return;
  qsizetype n = IniFile::kMaxValueLength;
  if (v[n - 1].isHighSurrogate()) --n;
  v.truncate(n);
}

}  // namespace

std::optional<QString> IniFile::value(QStringView section, QStringView key) const {
  const Section* s = sectionAt(findSection(section));
  if (!s) return std::nullopt;
  const QString folded = key.toString().toCaseFolded();
  const std::optional<QByteArray> bytes = rawValue(*s, folded, hashFolded(folded));
  if (!bytes) return std::nullopt;
  QString v = decode(trimmed(*bytes));
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    v = v.sliced(1, v.size() - 2);
  cutValue(v);
  return v;
}

QString IniFile::readString(QStringView section, QStringView key, QStringView defaultValue) const {
  if (std::optional<QString> v = value(section, key)) return *v;
  qsizetype n = defaultValue.size();
  while (n > 0 && defaultValue[n - 1] == u' ') --n;
  QString d = defaultValue.first(n).toString();
  cutValue(d);
  return d;
}

void IniFile::materialize(Section& s) {
  Section::Body& b = s.ensureBody();
  if (b.materialized) return;
  qint64 pos = 0;
  const QByteArrayView header = lineFrom(raw_, s.rawBegin, s.rawEnd, &pos);
  // The line end is whatever lies between the line's text and the start of the next line.
  auto termAt = [&](qint64 next, QByteArrayView line) {
    const qint64 gap = next - (line.data() - raw_.constData() + line.size());
    return gap == 0 ? Term::None : gap == 2 ? Term::CrLf : Term::Lf;
  };
  b.header = {QByteArray::fromRawData(header.data(), header.size()), termAt(pos, header)};
  while (pos < s.rawEnd) {
    qint64 next = 0;
    const QByteArrayView line = lineFrom(raw_, pos, s.rawEnd, &next);
    b.lines.push_back({QByteArray::fromRawData(line.data(), line.size()), termAt(next, line)});
    pos = next;
  }
  b.materialized = true;
  b.indexed = false;  // the index held raw offsets
}

namespace {

QString oneLine(QStringView text) {
  QString s = text.toString();
  s.replace(u'\r', u' ');
  s.replace(u'\n', u' ');
  return s;
}

}  // namespace

void IniFile::writeString(QStringView section, QStringView key, QStringView value) {
  const QString sectionText = oneLine(section);
  const QByteArray keyBytes = encode(oneLine(key));
  const QByteArray valueBytes = encode(oneLine(value));
  const qsizetype si = findSection(sectionText);
  if (si < 0) {
    Section s;
    Section::Body& b = s.ensureBody();
    b.materialized = true;
    b.header = {encode(QString(u'[' + sectionText + u']')), Term::CrLf};
    b.lines.push_back({keyBytes + '=' + valueBytes, Term::CrLf});
    sections_.push_back(std::move(s));
    cacheValid_ = false;
    return;
  }
  Section& s = sections_[size_t(si)];
  materialize(s);
  if (!s.body->indexed) buildIndex(s);
  Section::Body& b = *s.body;
  const FoldedName folded = foldName(keyBytes, encoding_);
  auto lineOf = [&](qint64 pos) { return QByteArrayView(b.lines[size_t(pos)].text); };
  const qint64 pos = findKeyIn(b, folded.text, folded.hash, encoding_, lineOf);
  if (pos >= 0) {
    Line& line = b.lines[size_t(pos)];
    QByteArray text = line.text.left(keyLine(line.text)->valueStart) + valueBytes;
    if (text != line.text) line = {std::move(text), Term::CrLf};
    return;
  }
  // After the last key line: blank lines and comments that end the section stay at its end.
  size_t at = b.lines.size();
  while (at > 0 && !keyLine(b.lines[at - 1].text)) --at;
  b.lines.insert(b.lines.begin() + qsizetype(at), Line{keyBytes + '=' + valueBytes, Term::CrLf});
  b.added.emplace(folded.hash, qint64(at));  // every key line lies before `at`: their indices stand
}

void IniFile::eraseSection(QStringView section) {
  const qsizetype si = findSection(section);
  if (si < 0) return;
  sections_.erase(sections_.begin() + si);
  cacheValid_ = false;
}

QByteArray IniFile::toBytes() const {
  QByteArray out;
  out.reserve(raw_.size() + 64);
  bool needBreak = false;  // the text so far ends in a line without its line end
  // Untouched sections that follow each other in raw_ go out as one piece.
  qint64 pendingBegin = 0, pendingEnd = 0;
  auto flush = [&] {
    if (pendingEnd <= pendingBegin) return;
    if (needBreak) out.append("\r\n");
    out.append(raw_.constData() + pendingBegin, pendingEnd - pendingBegin);
    needBreak = raw_[pendingEnd - 1] != '\n';
    pendingBegin = pendingEnd = 0;
  };
  auto putRaw = [&](qint64 begin, qint64 end) {
    if (end <= begin) return;
    if (pendingEnd > pendingBegin && pendingEnd != begin) flush();
    if (pendingEnd <= pendingBegin) pendingBegin = begin;
    pendingEnd = end;
  };
  auto putLine = [&](const Line& l) {
    flush();
    if (needBreak) out.append("\r\n");
    out.append(l.text);
    if (l.term == Term::CrLf) out.append("\r\n");
    if (l.term == Term::Lf) out.append('\n');
    needBreak = l.term == Term::None;
  };
  out.append(raw_.constData(), bomLength_);
  putRaw(bomLength_, preambleEnd_);
  for (const Section& s : sections_) {
    if (!s.isMaterialized()) {
      putRaw(s.rawBegin, s.rawEnd);
      continue;
    }
    putLine(s.body->header);
    for (const Line& l : s.body->lines) putLine(l);
  }
  flush();
  return out;
}
