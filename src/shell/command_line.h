#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line of qz418 asks for. With no arguments the program starts as it
// always did: the panel, no remote control.
struct CommandLine {
  // No one at the screen: the boxes the program raises on its own do not wait.
  bool unattended = false;
  // Remote control over SCPI (off unless asked for).
  bool scpi = false;
  quint16 scpiPort = 5025;
  // The address the SCPI server listens on; loopback unless the operator names another.
  QString scpiListen = QStringLiteral("127.0.0.1");
};

// Reads the arguments (without the program name). Prints --help and --version to stdout
// and a usage error to stderr itself; then returns the exit code the program ends with
// (0 for help and version, 2 for a bad command line). Returns nothing when the program
// is to start. Needs no application object and no display.
std::optional<int> parseCommandLine(const QStringList& arguments, CommandLine& out);
