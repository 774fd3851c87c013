// qz418-codes as device engineers use it: lines in, one line out per line in.
#include <gtest/gtest.h>

#include <QProcess>

#include "support/program_paths.h"

namespace {

struct CodesRun {
  QString out;
  int exitCode;
};

CodesRun runCodes(const QByteArray& input) {
  QProcess p;
  p.start(qz418CodesPath(), {});
  EXPECT_TRUE(p.waitForStarted(5000));
  p.write(input);
  p.closeWriteChannel();
  EXPECT_TRUE(p.waitForFinished(10000));
  QString out = QString::fromLatin1(p.readAllStandardOutput());
#ifdef _WIN32
  // A Windows console program ends its lines with CR LF.
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
#endif
  return {out, p.exitCode()};
}

}  // namespace

TEST(Qz418Codes, KnownValuesAndLineHandling) {
  const CodesRun r = runCodes(
      "time 100.245\ntime 1.005\ntime 4.015\ntime 8.03\namp -2.3\namp 0\namp -60\natt -6\nfreq 2.5\nam 1\n"
      "  time   0.05  \r\n\nclock 1000\nclock 1000000\nfreq 16");  // blanks, CR LF, an empty line, no final newline
  EXPECT_EQ(r.exitCode, 0);
  // The clock period keeps the low 24 bits of its count: 200 000 000 gives 15 450 624.
  EXPECT_EQ(r.out,
            "20049\n201\n802\n1605\nC471CD\nFFFFFF\n004189\n32845\n209715\n2684\n10\n\n200000\n15450624\n1342177\n");
}

TEST(Qz418Codes, UnreadableLinesKeepTheOutputAligned) {
  const CodesRun r = runCodes("time 1,5\nvolts 3\ntime\namp -1e400000\ntime 1\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "invalid\ninvalid\ninvalid\ninvalid\n200\n");
}
