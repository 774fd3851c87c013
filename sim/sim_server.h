#pragma once
// qz418-sim's socket server: one listening socket in the virtual-device folder, any number
// of connections (the program's own plus the short probes of enumeration), each answered
// in order, one request at a time, by the same synthesizer. Windows has its named-pipe server
// under the same name.

#ifdef _WIN32
#include "sim_pipe_server_win.h"
#else

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim_device.h"

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
  void readStdin();
  void hangUp();

  SimOptions options_;
  SimDevice device_;
  std::string folder_, socketPath_;
  int listenFd_ = -1;
  unsigned long long socketInode_ = 0;
  int signalFd_ = -1;
  bool stdinOpen_ = true;
  bool quit_ = false;
  std::string stdinLine_;
  std::vector<std::unique_ptr<Client>> clients_;
};

#endif
