#include "shell/command_line.h"

#include <QCommandLineParser>
#include <cstdio>

namespace {

const char* const kUsage =
    "Usage: qz418 [--unattended] [--scpi] [--scpi-port PORT] [--scpi-listen ADDRESS]\n"
    "Control program of the QZ418 two-channel test-signal synthesizer.\n"
    "\n"
    "Options:\n"
    "  --unattended           no one at the screen (a test station): the message boxes the\n"
    "                         program raises on its own (file errors, the drive question at\n"
    "                         exit, a second copy) are answered at once and logged to stderr;\n"
    "                         a second copy ends with exit code 1; offscreen when there is\n"
    "                         no display\n"
    "  --scpi                 accept SCPI commands over TCP (port 5025, loopback only)\n"
    "  --scpi-port PORT       TCP port of the SCPI server (implies --scpi)\n"
    "  --scpi-listen ADDRESS  address the SCPI server listens on (implies --scpi)\n"
#ifdef _WIN32
    // No portmapper and no Avahi on Windows: only the raw SCPI socket is served.
    "                         (Windows: SCPI socket only; VXI-11 and the LAN announcement\n"
    "                         by mDNS are not available)\n"
#endif
    "  -h, --help             show this help and exit\n"
    "  -v, --version          show the version and exit\n";

int usageError(const QString& what) {
  std::fprintf(stderr, "qz418: %s\n%s", what.toLocal8Bit().constData(), kUsage);
  return 2;
}

}  // namespace

std::optional<int> parseCommandLine(const QStringList& arguments, CommandLine& out) {
  QCommandLineParser p;
  p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  const QCommandLineOption scpi(QStringLiteral("scpi"));
  const QCommandLineOption port(QStringLiteral("scpi-port"), QString(), QStringLiteral("PORT"));
  const QCommandLineOption listen(QStringLiteral("scpi-listen"), QString(), QStringLiteral("ADDRESS"));
  const QCommandLineOption unattended(QStringLiteral("unattended"));
  p.addOptions({help, version, unattended, scpi, port, listen});
#ifdef _WIN32
  // Qt's own "-platform NAME", which QApplication takes from the arguments itself: on Windows
  // there is no QT_QPA_PLATFORM to read under wine, so tests and stations name it here.
  const QCommandLineOption platform(QStringLiteral("platform"), QString(), QStringLiteral("NAME"));
  p.addOption(platform);
#endif
  if (!p.parse(QStringList{QStringLiteral("qz418")} + arguments)) return usageError(p.errorText());
  if (!p.positionalArguments().isEmpty())
    return usageError(QStringLiteral("unexpected argument: ") + p.positionalArguments().first());
  if (p.isSet(help)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (p.isSet(version)) {
    std::printf("qz418 %s\n", QZ418_VERSION);
    return 0;
  }
  out.unattended = p.isSet(unattended);
  out.scpi = p.isSet(scpi) || p.isSet(port) || p.isSet(listen);
  if (p.isSet(port)) {
    bool ok = false;
    const uint v = p.value(port).toUInt(&ok);
    if (!ok || v == 0 || v > 65535) return usageError(QStringLiteral("bad port: ") + p.value(port));
    out.scpiPort = static_cast<quint16>(v);
  }
  if (p.isSet(listen)) out.scpiListen = p.value(listen);
  return std::nullopt;
}
