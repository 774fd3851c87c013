#pragma once
// What qz418-sim is apart from its transport: the synthesizer, the operator's commands, the
// command log, and the framing of requests and answers on one connection. The Unix-socket
// server (sim_server.cpp) and the named-pipe server (sim_pipe_server_win.cpp) both serve it.
// Plain C++, no system calls.

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/device_request.h"
#include "platform/virtual_device_protocol.h"
#include "platform/virtual_device_synth.h"

struct SimOptions {
  std::string name = "sim0";
  std::string folder;      // empty: the program's virtual-device folder
  int latencyMs = 0;       // delay before each answer
  unsigned dropEvery = 0;  // leave every Nth request unanswered; 0: answer all
  std::string logPath;     // one line per command packet; empty: no log
};

// Letters, digits, '.', '_' and '-', not starting with '.': a name that is safe in a file
// name and a pipe name.
bool isValidSimName(const std::string& name);

// The requests of one connection, read from its byte stream frame by frame.
class RequestFramer {
 public:
  enum class Result { More, Request, TooLong };
  // Where the next received bytes go; never beyond the end of the request being read.
  std::uint8_t* space();
  std::size_t spaceSize() const;
  // n bytes were stored at space(). Request: a whole request is in (read it below, then the
  // next bytes start a new one); TooLong: its length is over the protocol's limit.
  Result received(std::size_t n);

  std::uint32_t sequence() const { return seq_; }
  std::uint32_t code() const { return code_; }
  std::uint32_t length() const { return length_; }
  std::vector<std::uint8_t>& payload() { return payload_; }
  // The transfer sizes of this connection, as a driver keeps them per opened handle.
  EndpointSizes sizes;

 private:
  std::array<std::uint8_t, virtual_device::kRequestHeaderSize> header_{};
  std::size_t headerFill_ = 0;
  std::uint32_t seq_ = 0, code_ = 0, length_ = 0;
  std::size_t payloadFill_ = 0;
  std::vector<std::uint8_t> payload_;
};

class SimDevice {
 public:
  explicit SimDevice(SimOptions options);
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  const SimOptions& options() const { return options_; }
  // Opens the command log when one is asked for; false with a message on stderr.
  bool openLog();

  // What a line of standard input asks of the server; the device's own settings (scene,
  // pulse, freq, garble) are already applied when this returns Done.
  enum class Command { Done, Unplug, Plug, HangUp, Quit, NotUnderstood };
  Command command(const std::string& line);
  // "hangup always" is on: every connection is closed as soon as it is accepted.
  bool hangUpAlways() const { return hangUpAlways_; }

  // Carries out the request the framer has just completed and writes its answer frame into
  // out. False when the request is to stay unanswered (--drop-every).
  bool answer(RequestFramer& request, std::vector<std::uint8_t>& out);

  // Milliseconds since the device started, from a steady clock.
  long long elapsedMs() const;

 private:
  void logCommand(const std::uint8_t* packet);

  SimOptions options_;
  VirtualSynthesizer synth_;
  unsigned long long requests_ = 0;
  bool garbleNext_ = false;    // the next answer repeats an answered sequence number
  bool hangUpAlways_ = false;  // every connection is closed as soon as it is accepted
  std::FILE* log_ = nullptr;
  long long startMs_ = 0;
};
