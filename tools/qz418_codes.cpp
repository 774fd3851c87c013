// qz418-codes: prints the counts the control program sends for given panel values.
//
// Input, one per line:  KIND VALUE   (VALUE: decimal text with a point, e.g.
// "time 100.245"). Output, one line per input line: the count in decimal, or for "amp" the
// three bytes sent as six upper-case hex digits. A line that cannot be read prints
// "invalid" (and the exit status becomes 1), so output lines stay aligned with input
// lines. Blank lines are echoed as blank lines.

#include <QCommandLineParser>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "base/number_text.h"
#include "panel/device_codes.h"

namespace {

const char* const kUsage =
    "Usage: qz418-codes [OPTION]... < LINES\n"
    "Prints the counts the QZ418 control program sends to the synthesizer for panel values.\n"
    "\n"
    "Each input line is KIND VALUE, the value a decimal number with a point:\n"
    "  time MICROSECONDS   delay or duration: the count of 5 ns steps\n"
    "  clock MICROSECONDS  clock period: the low 24 bits of the count of 5 ns steps\n"
    "  amp DB              amplitude: the three bytes sent, as six hex digits\n"
    "  att DB              attenuation per pulse of an amplitude series\n"
    "  freq MHZ            carrier frequency or frequency step\n"
    "  am KHZ              frequency of the amplitude modulation\n"
    "Each input line gives one output line; a line that cannot be read gives \"invalid\"\n"
    "and the exit status 1. Blank lines stay blank.\n"
    "\n"
    "Options:\n"
    "  -h, --help          show this help and exit\n"
    "  -v, --version       show the version and exit\n";

// Help, version or a usage error: the exit code. Nothing when the lines are to be read.
std::optional<int> parseCommandLine(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser p;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  p.addOptions({help, version});
  QString error;
  if (!p.parse(arguments))
    error = p.errorText();
  else if (!p.positionalArguments().isEmpty())
    error = QStringLiteral("unexpected argument: ") + p.positionalArguments().first();
  if (!error.isEmpty()) {
    std::fprintf(stderr, "qz418-codes: %s\n%s", error.toLocal8Bit().constData(), kUsage);
    return 2;
  }
  if (p.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (p.isSet(version)) {
    std::printf("qz418-codes %s\n", QZ418_VERSION);
    return 0;
  }
  return std::nullopt;
}

class Output {
 public:
  Output() { buf_.reserve(kSize + 64); }
  ~Output() { flush(); }
  void put(std::string_view s) {
    buf_.insert(buf_.end(), s.begin(), s.end());
    if (buf_.size() >= kSize) flush();
  }
  void putUnsigned(std::uint32_t v) {
    char tmp[12];
    int n = 0;
    do {
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    while (n) buf_.push_back(tmp[--n]);
  }
  void putHex24(std::uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    for (int shift = 20; shift >= 0; shift -= 4) buf_.push_back(digits[(v >> shift) & 0xF]);
  }
  void flush() {
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stdout);
    buf_.clear();
  }

 private:
  static constexpr std::size_t kSize = 1 << 16;
  std::vector<char> buf_;
};

bool processLine(std::string_view line, Output& out) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i == line.size()) return true;  // blank
  std::size_t k = i;
  while (k < line.size() && line[k] != ' ' && line[k] != '\t') ++k;
  const std::string_view kind = line.substr(i, k - i);
  while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
  std::size_t e = line.size();
  while (e > k && (line[e - 1] == ' ' || line[e - 1] == '\t')) --e;
  const auto value = parseDecimal(line.substr(k, e - k));
  if (!value) return false;

  using namespace device_codes;
  if (kind == "time")
    out.putUnsigned(TimeCount(*value));
  else if (kind == "clock")
    out.putUnsigned(ClockPeriodCount(*value));
  else if (kind == "amp")
    out.putHex24(AmplitudeCode(*value) >> 8);
  else if (kind == "att")
    out.putUnsigned(AttenuationCode(*value));
  else if (kind == "freq")
    out.putUnsigned(FrequencyCode(*value));
  else if (kind == "am")
    out.putUnsigned(AmFrequencyCode(*value));
  else
    return false;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::optional<int> rc = parseCommandLine(argc, argv)) return *rc;
  Output out;
  std::vector<char> in(1 << 20);
  std::string carry;
  bool allGood = true;
  unsigned long long lineNo = 0;
  const auto handle = [&](std::string_view line) {
    ++lineNo;
    if (!processLine(line, out)) {
      out.put("invalid");
      if (allGood) std::fprintf(stderr, "qz418-codes: line %llu cannot be read\n", lineNo);
      allGood = false;
    }
    out.put("\n");
  };
  std::size_t n;
  while ((n = std::fread(in.data(), 1, in.size(), stdin)) > 0) {
    std::string_view chunk(in.data(), n);
    std::size_t start = 0;
    for (;;) {
      const std::size_t nl = chunk.find('\n', start);
      if (nl == std::string_view::npos) break;
      if (!carry.empty()) {
        carry.append(chunk.substr(start, nl - start));
        handle(carry);
        carry.clear();
      } else {
        handle(chunk.substr(start, nl - start));
      }
      start = nl + 1;
    }
    carry.append(chunk.substr(start));
  }
  if (!carry.empty()) handle(carry);
  out.flush();
  return allGood ? 0 : 1;
}
