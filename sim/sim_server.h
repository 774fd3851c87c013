#pragma once
// qz418-sim's socket server: one listening socket in the virtual-device folder, any number
// of connections (the program's own plus the short probes of enumeration), each answered
// in order, one request at a time, by the same synthesizer.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/device_request.h"
#include "platform/virtual_device_synth.h"

struct SimOptions {
  std::string name = "sim0";
  std::string folder;      // empty: the program's virtual-device folder
  int latencyMs = 0;       // delay before each answer
  unsigned dropEvery = 0;  // leave every Nth request unanswered; 0: answer all
  std::string logPath;     // one line per command packet; empty: no log
};

class SimServer {
 public:
  explicit SimServer(SimOptions options);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Makes the folder and the socket; false with a message on stderr.
  bool start();
  // Serves until quit, SIGINT, SIGTERM or SIGHUP; removes the socket on the way out.
  int run();

  // One line of standard input. False for a line it does not understand.
  bool command(const std::string& line);

  const std::string& socketPath() const { return socketPath_; }

 private:
  struct Client;
  bool plug();
  void unplug();
  void acceptClients();
  void readClient(Client& c);
  void writeClient(Client& c);
  void answer(Client& c);
  void readStdin();
  void logCommand(const std::uint8_t* packet);
  long long elapsedMs() const;

  SimOptions options_;
  VirtualSynthesizer synth_;
  std::string folder_, socketPath_;
  int listenFd_ = -1;
  unsigned long long socketInode_ = 0;
  int signalFd_ = -1;
  bool stdinOpen_ = true;
  bool quit_ = false;
  std::string stdinLine_;
  std::vector<std::unique_ptr<Client>> clients_;
  unsigned long long requests_ = 0;
  bool garbleNext_ = false;  // the next answer repeats an answered sequence number
  bool hangUpAlways_ = false;  // every connection is closed as soon as it is accepted
  std::FILE* log_ = nullptr;
  long long startMs_ = 0;
};
