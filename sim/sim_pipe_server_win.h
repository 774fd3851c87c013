#pragma once
// qz418-sim's named-pipe server for Windows: one pipe named in the virtual-device folder, any
// number of connections (the program's own plus the short probes of enumeration), each
// answered in order, one request at a time, by the same synthesizer. It tells the programs
// when it starts and stops serving (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED to every top-level
// window), as the system does when a device is plugged in or out.
#ifdef _WIN32

#include <windows.h>

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim_device.h"

class SimServer {
 public:
  explicit SimServer(SimOptions options);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Makes the folder and the pipe; false with a message on stderr.
  bool start();
  // Serves until quit, Ctrl+C, Ctrl+Break or the console's closing; removes its file of the
  // folder on the way out.
  int run();

  // One line of standard input. False for a line it does not understand.
  bool command(const std::string& line);

  // The pipe's name, "\\.\pipe\qz418-<process id>-<name>", in UTF-8.
  const std::string& socketPath() const { return pipeText_; }

 private:
  struct Client;
  bool plug();
  void unplug();
  void hangUp();
  bool listen(bool first);
  void accepted();
  void startRead(Client& c);
  void readDone(Client& c, DWORD n);
  void startWrite(Client& c);
  void serve(Client& c);
  void takeStdinLines();
  void dropClosed();

  SimOptions options_;
  SimDevice device_;
  std::wstring folder_, pipe_;
  std::string pipeText_;
  bool plugged_ = false;
  PSECURITY_DESCRIPTOR security_ = nullptr;
  std::unique_ptr<Client> listener_;  // the instance waiting for the next client
  std::vector<std::unique_ptr<Client>> clients_;
  bool quit_ = false;
  // Lines of standard input, read by a thread of their own (a console or pipe cannot be waited
  // on together with the pipes).
  HANDLE stdinReady_ = nullptr;
  std::mutex stdinMutex_;
  std::deque<std::string> stdinLines_;
};

#endif
