// qz418-sim: a virtual QZ418 synthesizer on a Unix socket in the virtual-device folder.
// The program lists it like an attached synthesizer and talks to it as to the driver.

#include <QCommandLineParser>
#include <QStringList>
#include <charconv>
#include <cstdio>
#include <string>

#include "sim_server.h"

namespace {

#ifdef _WIN32
#define QZ_SIM_ENDPOINT "pipe"
#else
#define QZ_SIM_ENDPOINT "socket"
#endif

constexpr const char* kUsage =
    "Usage: qz418-sim [OPTION]...\n"
#ifdef _WIN32
    "Serves a virtual QZ418 synthesizer on a named pipe, named in the file NAME.pipe of the\n"
    "virtual-device folder, where the QZ418 control program finds it as an attached synthesizer.\n"
#else
    "Serves a virtual QZ418 synthesizer as a Unix socket NAME.sock in the virtual-device folder,\n"
    "where the QZ418 control program finds it as an attached synthesizer.\n"
#endif
    "\n"
    "Options:\n"
    "  --name NAME         name of the device and its " QZ_SIM_ENDPOINT " (default sim0)\n"
    "  --folder DIR        serve in DIR instead of the virtual-device folder\n"
#ifdef _WIN32
    "                      (%LOCALAPPDATA%\\qz418\\devices)\n"
#else
    "                      ($XDG_RUNTIME_DIR/qz418, else /tmp/qz418-UID)\n"
#endif
    "  --latency MS        delay each answer by MS milliseconds (0 to 3600000)\n"
    "  --drop-every N      leave every Nth request unanswered\n"
    "  --log FILE          write a line per command packet: milliseconds since start,\n"
    "                      then the 64 bytes in hex\n"
    "  -h, --help          show this help and exit\n"
    "  -v, --version       show the version and exit\n"
    "\n"
    "Commands on standard input, one a line:\n"
    "  scene N             the scene request in the status report (0 to 255)\n"
    "  pulse VOLTS MICROSECONDS\n"
    "                      the probe pulse in the receive buffer (default 100 2)\n"
    "  freq HZ             the probe-pulse frequency in the status report (default 1000)\n"
    "  unplug              remove the " QZ_SIM_ENDPOINT ", as if the device were unplugged\n"
    "  plug                create it again\n"
    "  hangup              close every connection (the device stays plugged in)\n"
    "  hangup always       close every connection, and each new one as soon as it is\n"
    "                      accepted, until \"hangup never\"\n"
    "  garble              the next answer repeats an answered sequence number\n"
#ifdef _WIN32
    "  quit                end (so do Ctrl+C, Ctrl+Break and closing the console; end of\n"
    "                      input does not)\n";
#else
    "  quit                end (so do SIGINT, SIGTERM and SIGHUP; end of input does not)\n";
#endif

int usageError(const std::string& what) {
  std::fprintf(stderr, "qz418-sim: %s\n%s", what.c_str(), kUsage);
  return 2;
}

bool parseCount(const std::string& text, long long max, long long* out) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, *out);
  return !text.empty() && ec == std::errc() && p == end && *out >= 0 && *out <= max;
}

}  // namespace

int main(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser p;
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  const QCommandLineOption name(QStringLiteral("name"), QString(), QStringLiteral("NAME"));
  const QCommandLineOption folder(QStringLiteral("folder"), QString(), QStringLiteral("DIR"));
  const QCommandLineOption latency(QStringLiteral("latency"), QString(), QStringLiteral("MS"));
  const QCommandLineOption dropEvery(QStringLiteral("drop-every"), QString(), QStringLiteral("N"));
  const QCommandLineOption log(QStringLiteral("log"), QString(), QStringLiteral("FILE"));
  p.addOptions({help, version, name, folder, latency, dropEvery, log});
  // parse(), not process(): a bad command line ends with 2 and our usage, without Qt's.
  if (!p.parse(arguments)) return usageError(p.errorText().toStdString());
  if (!p.positionalArguments().isEmpty())
    return usageError("unexpected argument: " + p.positionalArguments().first().toStdString());
  if (p.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (p.isSet(version)) {
    std::printf("qz418-sim %s\n", QZ418_VERSION);
    return 0;
  }

  SimOptions o;
  if (p.isSet(name)) o.name = p.value(name).toStdString();
  if (p.isSet(folder)) o.folder = p.value(folder).toLocal8Bit().toStdString();
  if (p.isSet(log)) o.logPath = p.value(log).toLocal8Bit().toStdString();
  long long n = 0;
  if (p.isSet(latency)) {
    if (!parseCount(p.value(latency).toStdString(), 3600000, &n)) return usageError("bad --latency");
    o.latencyMs = int(n);
  }
  if (p.isSet(dropEvery)) {
    if (!parseCount(p.value(dropEvery).toStdString(), 1LL << 31, &n)) return usageError("bad --drop-every");
    o.dropEvery = unsigned(n);
  }
  SimServer server(o);
  if (!server.start()) return 1;
  return server.run();
}
