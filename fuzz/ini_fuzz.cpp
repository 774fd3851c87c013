// libFuzzer target: any bytes as an INI file. Reading, looking up, writing and erasing must
// neither crash nor hang, unchanged text must come back byte for byte, and a written key must
// read back after the text is parsed again.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "base/cp1251.h"
#include "persist/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
  IniFile ini(bytes);
  if (ini.toBytes() != bytes) std::abort();

  // Names from the input itself, so that the fuzzer can steer them, and fixed ones.
  const qsizetype cut = bytes.indexOf('\n');
  // Taken through cp1251 and back, with line breaks as blanks: what a write can store.
  QString own = fromCp1251(toCp1251(
      fromCp1251(QByteArrayView(bytes).first(std::min<qsizetype>(cut < 0 ? bytes.size() : cut, 12)))));
  own.replace(u'\r', u' ');
  const QString names[] = {QStringLiteral("S"), QStringLiteral("MainForm"), own};
  for (const QString& section : names)
    for (const QString& key : names) (void)ini.value(section, key);

  for (const QString& section : names) {
    ini.writeString(section, QStringLiteral("Key"), QStringLiteral("v 1"));
    const IniFile again(ini.toBytes());
    const std::optional<QString> v = again.value(section, QStringLiteral("KEY"));
    if (!v || *v != QStringLiteral("v 1")) std::abort();
  }
  ini.eraseSection(own);
  ini.eraseSection(QStringLiteral("S"));
  (void)IniFile(ini.toBytes()).value(QStringLiteral("MainForm"), QStringLiteral("Key"));
  return 0;
}
