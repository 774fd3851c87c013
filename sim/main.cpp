// qz418-sim: a virtual QZ418 synthesizer on a Unix socket in the virtual-device folder.
// The program lists it like an attached synthesizer and talks to it as to the driver.

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim_server.h"

namespace {

constexpr const char* kUsage =
    "usage: qz418-sim [--name NAME] [--folder DIR] [--latency MS] [--drop-every N] [--log FILE]\n"
    "Serves a virtual QZ418 as DIR/NAME.sock (default name sim0, default folder the program's\n"
    "virtual-device folder). Commands on standard input, one a line:\n"
    "  scene N                 the scene request in the status report (0-255)\n"
    "  pulse VOLTS MICROSECONDS  the probe pulse in the receive buffer (default 100 2)\n"
    "  freq HZ                 the probe-pulse frequency in the status report (default 1000)\n"
    "  unplug | plug | quit\n"
    "  hangup                  close every connection (the device stays plugged in)\n"
    "  garble                  the next answer repeats an answered sequence number\n"
    "--latency MS delays each answer; --drop-every N leaves every Nth request unanswered;\n"
    "--log FILE writes a line per command packet: milliseconds since start, the 64 bytes in hex.\n";

bool parseCount(const char* text, long long max, long long* out) {
  const char* end = text + std::strlen(text);
  const auto [p, ec] = std::from_chars(text, end, *out);
  return ec == std::errc() && p == end && *out >= 0 && *out <= max;
}

}  // namespace

int main(int argc, char** argv) {
  SimOptions o;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (const auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.resize(eq);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      std::fprintf(stderr, "qz418-sim: %s needs a value\n%s", arg.c_str(), kUsage);
      return 2;
    }
    long long n = 0;
    if (arg == "--name") {
      o.name = value;
    } else if (arg == "--folder") {
      o.folder = value;
    } else if (arg == "--log") {
      o.logPath = value;
    } else if (arg == "--latency" && parseCount(value.c_str(), 3600000, &n)) {
      o.latencyMs = int(n);
    } else if (arg == "--drop-every" && parseCount(value.c_str(), 1LL << 31, &n)) {
      o.dropEvery = unsigned(n);
    } else {
      std::fprintf(stderr, "qz418-sim: bad argument %s %s\n%s", arg.c_str(), value.c_str(), kUsage);
      return 2;
    }
  }
  SimServer server(o);
  if (!server.start()) return 1;
  return server.run();
}
