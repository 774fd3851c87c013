#pragma once
// Stand-ins for the platform layer: a transport driven by a script, an enumerator with a
// device list the test changes, and a log of what the exchange did, in order.
//
// The transport runs on the exchange thread and must not allocate (one test counts the
// exchange thread's allocations): the log is a fixed array behind a mutex.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/devices.h"
#include "usb/transfer_request.h"

namespace fake {

enum class Ev : std::uint8_t { Configure, Transfer, ShowStatus, ShowRx, BuildCommand };

struct Event {
  Ev kind{};
  std::uint8_t endpoint = 0;  // Configure, Transfer
  std::uint32_t length = 0;   // buffer length, or the transfer size of a Configure
  std::uint32_t waitMs = 0;
  bool headerClean = false;     // Transfer: header bytes 0-12 and 14-29 zero, offset 38, length right
  std::uint32_t errorCode = 0;  // ShowStatus
  std::chrono::steady_clock::time_point at;
  bool onMainThread = false;  // hand-overs
};

inline Event event(Ev kind, std::uint8_t endpoint = 0, std::uint32_t length = 0, std::uint32_t waitMs = 0,
                   bool headerClean = false, std::uint32_t errorCode = 0, bool onMainThread = false) {
  Event e;
  e.kind = kind;
  e.endpoint = endpoint;
  e.length = length;
  e.waitMs = waitMs;
  e.headerClean = headerClean;
  e.errorCode = errorCode;
  e.onMainThread = onMainThread;
  return e;
}

class EventLog {
 public:
  void add(Event e) {
    e.at = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (count_ < events_.size()) events_[count_++] = e;
  }
  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return {events_.begin(), events_.begin() + long(count_)};
  }
  std::size_t count(Ev kind) const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (std::size_t i = 0; i < count_; ++i) n += events_[i].kind == kind;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::array<Event, 20000> events_{};
  std::size_t count_ = 0;
};

// What one request does: fill the IN payload, pretend to wait, return an error code. Index
// counts the requests with this endpoint (0 for the first), configure requests excluded.
using Answer = std::function<int(std::uint8_t endpoint, std::uint8_t* payload, std::uint32_t payloadLength,
                                 std::uint32_t waitMs, int index)>;

// Shared by the test and the transport the thread owns.
struct Script {
  EventLog log;
  Answer answer;  // empty: every transfer succeeds and writes nothing
  std::atomic<int> cancels{0};
  bool cancelResult = true;
  std::array<std::atomic<int>, 256> transfers{};  // per endpoint
  // The next this many connections close on their first transfer on closeOn (the device hangs
  // up or sends garbage): that transfer and every later one fails with 19.
  std::atomic<int> connectionsToClose{0};
  std::uint8_t closeOn = 0x04;

  // A gate on one endpoint's n-th transfer: the transport blocks there until released.
  std::mutex gateMutex;
  std::condition_variable gateChanged;
  int gateEndpoint = -1, gateIndex = -1;
  bool gateReached = false, gateOpen = false;

  void closeGate(std::uint8_t endpoint, int index) {
    std::lock_guard lock(gateMutex);
    gateEndpoint = endpoint;
    gateIndex = index;
    gateReached = gateOpen = false;
  }
  void openGate() {
    std::lock_guard lock(gateMutex);
    gateOpen = true;
    gateChanged.notify_all();
  }
  bool reachedGate() {
    std::lock_guard lock(gateMutex);
    return gateReached;
  }
};

class Transport final : public DeviceTransport {
 public:
  explicit Transport(std::shared_ptr<Script> s) : s_(std::move(s)) {}
  ~Transport() override = default;

  int request(std::uint32_t code, std::uint8_t* buffer, std::uint32_t length, std::uint32_t waitMs) override {
    if (code == driver_ioctl::kSetTransferSize) {
      s_->log.add(event(Ev::Configure, buffer[0], usb::getU32(buffer + 4), waitMs));
      return 0;
    }
    const std::uint8_t ep = buffer[driver_ioctl::kEndpointOffset];
    const std::uint32_t payloadLength = usb::getU32(buffer + driver_ioctl::kPayloadLengthField);
    bool clean =
        usb::getU32(buffer + driver_ioctl::kPayloadOffsetField) == 38 && payloadLength + 38 == length;
    for (int i = 0; i < 38; ++i)
      if (i != driver_ioctl::kEndpointOffset && (i < 30 || i >= 38)) clean = clean && buffer[i] == 0;
    s_->log.add(event(Ev::Transfer, ep, length, waitMs, clean));
    const int index = s_->transfers[ep]++;
    {
      std::unique_lock lock(s_->gateMutex);
      if (s_->gateEndpoint == ep && s_->gateIndex == index) {
        s_->gateReached = true;
        s_->gateChanged.wait(lock, [this] { return s_->gateOpen; });
      }
    }
    int rc = s_->answer ? s_->answer(ep, buffer + 38, payloadLength, waitMs, index) : 0;
    if (!closed_ && ep == s_->closeOn && s_->connectionsToClose.load() > 0) {
      --s_->connectionsToClose;
      closed_ = true;
    }
    if (closed_) rc = ENODEV;
    // A driver may leave anything in the header; the next request must not depend on it.
    std::fill(buffer, buffer + 38, std::uint8_t(0xEE));
    return rc;
  }
  bool cancel() override {
    ++s_->cancels;
    return s_->cancelResult;
  }
  bool connectionClosed() const override { return closed_; }

 private:
  std::shared_ptr<Script> s_;
  bool closed_ = false;
};

inline usb::TransportOpener opener(std::shared_ptr<Script> s) {
  return [s](const QString&, int*) -> std::unique_ptr<DeviceTransport> {
    return std::make_unique<Transport>(s);
  };
}

class Enumerator final : public DeviceEnumerator {
 public:
  explicit Enumerator(std::shared_ptr<std::vector<DeviceRecord>> devices,
                      std::shared_ptr<QStringList> notes = std::make_shared<QStringList>())
      : devices_(std::move(devices)), notes_(std::move(notes)) {}
  std::vector<DeviceRecord> enumerate() override { return *devices_; }
  QStringList notes() const override { return *notes_; }

 private:
  std::shared_ptr<std::vector<DeviceRecord>> devices_;
  std::shared_ptr<QStringList> notes_;
};

inline DeviceRecord synthesizer(const QString& location, const QString& path = {}) {
  DeviceRecord r;
  r.devicePath = path.isEmpty() ? QStringLiteral("/dev/bus/usb/001/") + location : path;
  r.hardwareIds = {QStringLiteral("USB\\VID_5D3C&PID_5D3C&REV_0100"),
                   QStringLiteral("USB\\VID_5D3C&PID_5D3C")};
  r.deviceDescription = QStringLiteral("QZ418 synthesizer");
  r.locationInformation = location;
  return r;
}

// Lets the event loop run (hand-overs included) until done() or the time is up.
inline bool runUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline void runFor(int ms) {
  runUntil([] { return false; }, ms);
}

}  // namespace fake
