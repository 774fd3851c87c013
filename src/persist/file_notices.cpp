#include "persist/file_notices.h"

#include <QStringList>
#include <cstdio>

namespace {

struct Notices {
  std::function<void(const QString&)> sink;
  QStringList waiting;
};

Notices& notices() {
  static Notices n;
  return n;
}

}  // namespace

void reportFileNotice(const QString& line) {
  // A closed stderr (a pipe whose reader went) is no reason to lose the line in the window.
  std::fprintf(stderr, "qz418: %s\n", line.toLocal8Bit().constData());
  std::fflush(stderr);
  Notices& n = notices();
  if (n.sink)
    n.sink(line);
  else
    n.waiting.append(line);
}

void setFileNoticeSink(std::function<void(const QString&)> sink) {
  Notices& n = notices();
  n.sink = std::move(sink);
  if (!n.sink) return;
  const QStringList lines = std::exchange(n.waiting, {});
  for (const QString& line : lines) n.sink(line);
}
