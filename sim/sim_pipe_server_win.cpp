#ifdef _WIN32

#include "sim_pipe_server_win.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/virtual_pipe_win.h"

namespace {

constexpr std::size_t kMaxClients = 32;
constexpr DWORD kPipeBuffer = virtual_device::kAnswerHeaderSize + virtual_device::kMaxFrameLength;

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Set by a console event (Ctrl+C, Ctrl+Break, the console's closing), which also arrives when
// wine's process gets SIGINT.
HANDLE quitRequested = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
// Set once the server has removed its file and said goodbye: a closing console may end us then.
HANDLE cleanedUp = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);

BOOL WINAPI onConsoleEvent(DWORD type) {
  ::SetEvent(quitRequested);
  // The system ends the process once the handler returns from a close.
  if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
    ::WaitForSingleObject(cleanedUp, 4000);
  return TRUE;
}

}  // namespace

struct SimServer::Client {
  enum class State { Listening, Reading, Waiting, Writing, Idle };
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped{};
  State state = State::Idle;
  bool pending = false;  // an operation on overlapped has not completed
  bool connectedAtOnce = false;  // ConnectNamedPipe found its client already there
  RequestFramer framer;
  std::vector<std::uint8_t> out;  // the answer being written
  std::size_t outSent = 0;
  long long dueMs = 0;  // when Waiting: the answer goes out then

  ~Client() {
    if (pipe != INVALID_HANDLE_VALUE) {
      if (pending) {
        // The system writes into overlapped until the cancel has completed.
        ::CancelIoEx(pipe, &overlapped);
        DWORD n = 0;
        ::GetOverlappedResult(pipe, &overlapped, &n, TRUE);
      }
      ::CloseHandle(pipe);
    }
    ::CloseHandle(event);
  }
  void closeNow() {
    if (pending) {
      ::CancelIoEx(pipe, &overlapped);
      DWORD n = 0;
      ::GetOverlappedResult(pipe, &overlapped, &n, TRUE);
      pending = false;
    }
    if (pipe != INVALID_HANDLE_VALUE) ::CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }
  bool closed() const { return pipe == INVALID_HANDLE_VALUE; }
  OVERLAPPED* fresh() {
    overlapped = {};
    overlapped.hEvent = event;
    return &overlapped;
  }
};

SimServer::SimServer(SimOptions options) : options_(options), device_(std::move(options)) {}

SimServer::~SimServer() {
  unplug();
  if (security_) ::LocalFree(security_);
  ::SetEvent(cleanedUp);
}

bool SimServer::start() {
  if (!isValidSimName(options_.name)) {
    std::fprintf(stderr, "qz418-sim: a name is letters, digits, '.', '_' and '-', not starting with '.'\n");
    return false;
  }
  folder_ = virtual_pipe::folderPath();
  if (!options_.folder.empty()) {
    // The folder as given, in the system's code page like every other argument here.
    const int n =
        ::MultiByteToWideChar(CP_ACP, 0, options_.folder.data(), int(options_.folder.size()), nullptr, 0);
    folder_.assign(std::size_t(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, options_.folder.data(), int(options_.folder.size()), folder_.data(), n);
  }
  if (!virtual_pipe::createFolder(folder_)) {
    std::fprintf(stderr, "qz418-sim: cannot make the folder %ls (error %lu)\n", folder_.c_str(),
                 ::GetLastError());
    return false;
  }
  if (!device_.openLog()) return false;
  security_ = virtual_pipe::currentUserOnly();
  ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);

  stdinReady_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // End of standard input only stops reading it, so the simulator can run in the background.
  const HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
  if (in && in != INVALID_HANDLE_VALUE) {
    std::thread([this, in] {
      std::string partial;
      char buf[4096];
      DWORD n = 0;
      while (::ReadFile(in, buf, sizeof buf, &n, nullptr) && n > 0) {
        partial.append(buf, n);
        std::size_t pos;
        bool any = false;
        while ((pos = partial.find('\n')) != std::string::npos) {
          std::string line = partial.substr(0, pos);
          partial.erase(0, pos + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          std::lock_guard<std::mutex> lock(stdinMutex_);
          stdinLines_.push_back(std::move(line));
          any = true;
        }
        if (partial.size() > 65536) partial.clear();  // no line is that long
        if (any) ::SetEvent(stdinReady_);
      }
    }).detach();
  }
  return plug();
}

bool SimServer::listen(bool first) {
  SECURITY_ATTRIBUTES sa{sizeof sa, security_, FALSE};
  auto c = std::make_unique<Client>();
  c->pipe =
      ::CreateNamedPipeW(pipe_.c_str(),
                         PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED |
                             // The first instance claims the name: it fails when anyone
                             // else has made a pipe of that name.
                             (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                         PIPE_UNLIMITED_INSTANCES, kPipeBuffer, kPipeBuffer, 0, security_ ? &sa : nullptr);
  if (c->pipe == INVALID_HANDLE_VALUE) return false;
  c->state = Client::State::Listening;
  for (;;) {
    if (::ConnectNamedPipe(c->pipe, c->fresh())) {
      c->connectedAtOnce = true;
      ::SetEvent(c->event);
      break;
    }
    const DWORD e = ::GetLastError();
    if (e == ERROR_IO_PENDING) {
      c->pending = true;
      break;
    }
    if (e == ERROR_PIPE_CONNECTED) {  // a client came between the two calls
      c->connectedAtOnce = true;
      ::SetEvent(c->event);
      break;
    }
    // A client came and went already (a listing's probe): the instance is free once it is
    // disconnected.
    if (e != ERROR_NO_DATA || !::DisconnectNamedPipe(c->pipe)) return false;
  }
  listener_ = std::move(c);
  return true;
}

bool SimServer::plug() {
  if (plugged_) return true;
  const std::wstring existing = virtual_pipe::readDeviceFile(folder_, options_.name);
  if (!existing.empty() && virtual_pipe::acceptsConnection(existing)) {
    std::fprintf(stderr, "qz418-sim: a device named %s is already running (%ls)\n", options_.name.c_str(),
                 existing.c_str());
    return false;
  }
  pipe_ = virtual_pipe::pipeNameFor(options_.name);
  pipeText_.assign(pipe_.begin(), pipe_.end());  // the name is ASCII
  // The file appears only once the pipe accepts connections: a listed pipe that is gone is a
  // device that was killed.
  if (!listen(true) || !virtual_pipe::writeDeviceFile(folder_, options_.name, pipe_)) {
    std::fprintf(stderr, "qz418-sim: cannot serve %s in %ls (error %lu)\n", pipeText_.c_str(),
                 folder_.c_str(), ::GetLastError());
    listener_.reset();
    return false;
  }
  plugged_ = true;
  virtual_pipe::announceDeviceChange();
  std::printf("qz418-sim: serving %s\n", pipeText_.c_str());
  std::fflush(stdout);
  return true;
}

void SimServer::unplug() {
  clients_.clear();
  listener_.reset();
  if (!plugged_) return;
  plugged_ = false;
  virtual_pipe::removeDeviceFile(folder_, options_.name, pipe_);
  virtual_pipe::announceDeviceChange();
}

void SimServer::hangUp() { clients_.clear(); }

bool SimServer::command(const std::string& line) {
  switch (device_.command(line)) {
    case SimDevice::Command::NotUnderstood:
      return false;
    case SimDevice::Command::Unplug:
      unplug();
      std::printf("qz418-sim: unplugged\n");
      break;
    case SimDevice::Command::Plug:
      plug();
      break;
    case SimDevice::Command::HangUp:
      hangUp();
      break;
    case SimDevice::Command::Quit:
      quit_ = true;
      break;
    case SimDevice::Command::Done:
      break;
  }
  std::fflush(stdout);
  return true;
}

void SimServer::accepted() {
  std::unique_ptr<Client> c = std::move(listener_);
  c->pending = false;
  DWORD n = 0;
  // A connection made at once has no result to ask for (its overlapped may still read pending).
  const bool ok = c->connectedAtOnce || ::GetOverlappedResult(c->pipe, &c->overlapped, &n, FALSE);
  // The next client needs an instance of its own; the loop tries again when none can be made.
  listen(false);
  if (!ok || device_.hangUpAlways() || clients_.size() >= kMaxClients) return;  // closed with c
  startRead(*c);
  clients_.push_back(std::move(c));
}

void SimServer::startRead(Client& c) {
  c.state = Client::State::Reading;
  if (::ReadFile(c.pipe, c.framer.space(), DWORD(c.framer.spaceSize()), nullptr, c.fresh()) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    c.pending = true;  // the event reports it, also when it completed at once
    return;
  }
  c.closeNow();  // ERROR_BROKEN_PIPE: the client went away
}

void SimServer::readDone(Client& c, DWORD n) {
  switch (c.framer.received(n)) {
    case RequestFramer::Result::More:
      startRead(c);
      return;
    case RequestFramer::Result::TooLong:
      std::fprintf(stderr, "qz418-sim: request of %u bytes refused; connection closed\n", c.framer.length());
      c.closeNow();
      return;
    case RequestFramer::Result::Request:
      break;
  }
  if (!device_.answer(c.framer, c.out)) {  // left unanswered
    startRead(c);
    return;
  }
  c.outSent = 0;
  c.state = Client::State::Waiting;
  c.dueMs = monotonicMs() + options_.latencyMs;
  if (options_.latencyMs == 0) startWrite(c);
}

void SimServer::startWrite(Client& c) {
  c.state = Client::State::Writing;
  if (::WriteFile(c.pipe, c.out.data() + c.outSent, DWORD(c.out.size() - c.outSent), nullptr, c.fresh()) ||
      ::GetLastError() == ERROR_IO_PENDING) {
    c.pending = true;
    return;
  }
  c.closeNow();
}

// The operation on c's event has completed.
void SimServer::serve(Client& c) {
  c.pending = false;
  DWORD n = 0;
  if (!::GetOverlappedResult(c.pipe, &c.overlapped, &n, FALSE)) {
    c.closeNow();  // the client closed its end
    return;
  }
  if (c.state == Client::State::Reading) {
    if (n == 0) {
      startRead(c);
      return;
    }
    readDone(c, n);
  } else if (c.state == Client::State::Writing) {
    c.outSent += n;
    if (c.outSent < c.out.size()) {
      startWrite(c);
      return;
    }
    c.out.clear();
    c.outSent = 0;
    startRead(c);
  }
}

void SimServer::takeStdinLines() {
  std::deque<std::string> lines;
  {
    std::lock_guard<std::mutex> lock(stdinMutex_);
    lines.swap(stdinLines_);
  }
  for (const std::string& line : lines)
    if (!command(line)) std::fprintf(stderr, "qz418-sim: not understood: %s\n", line.c_str());
}

void SimServer::dropClosed() {
  std::erase_if(clients_, [](const std::unique_ptr<Client>& c) { return c->closed(); });
}

int SimServer::run() {
  std::vector<HANDLE> handles;
  std::vector<Client*> owners;
  while (!quit_) {
    const long long now = monotonicMs();
    long long timeout = -1;
    for (auto& c : clients_) {
      if (c->state != Client::State::Waiting) continue;
      if (c->dueMs <= now)
        startWrite(*c);
      else
        timeout = timeout < 0 ? c->dueMs - now : std::min(timeout, c->dueMs - now);
    }
    dropClosed();
    if (plugged_ && !listener_ && !listen(false)) {
      std::fprintf(stderr, "qz418-sim: cannot make another pipe instance (error %lu)\n", ::GetLastError());
      timeout = timeout < 0 ? 100 : std::min(timeout, 100LL);
    }

    handles = {quitRequested, stdinReady_};
    owners = {nullptr, nullptr};
    if (listener_) handles.push_back(listener_->event), owners.push_back(listener_.get());
    for (auto& c : clients_)
      if (c->pending) handles.push_back(c->event), owners.push_back(c.get());
    const DWORD r = ::WaitForMultipleObjects(DWORD(handles.size()), handles.data(), FALSE,
                                             timeout < 0 ? INFINITE : DWORD(timeout));
    if (r == WAIT_TIMEOUT) continue;
    if (r == WAIT_FAILED) break;
    const DWORD i = r - WAIT_OBJECT_0;
    if (i >= handles.size()) continue;
    if (i == 0) break;
    if (i == 1) {
      takeStdinLines();
      continue;
    }
    Client* c = owners[i];
    if (c == listener_.get())
      accepted();
    else
      serve(*c);
    dropClosed();
  }
  unplug();
  return 0;
}

#endif
