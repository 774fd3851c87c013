// The exchange thread against a scripted transport: the order of the cycle, what the windows
// are handed, pause, terminate and failures in the middle of a cycle.
#include "usb/usb_thread.h"

#include "usb_fakes.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <stdexcept>

namespace {

using fake::Ev;
using Status = std::array<std::uint8_t, 32>;

class ExchangeThread : public ::testing::Test {
 protected:
  void SetUp() override { mainThread = std::this_thread::get_id(); }
  void TearDown() override { thread.reset(); }

  void start(std::uint32_t waitMs = 400) {
    LinkReceivers r;
    r.showStatus = [this](const Status& s, std::uint32_t error) {
      script->log.add(fake::event(Ev::ShowStatus, 0, 0, 0, false, error, onMain()));
      statuses.push_back(s);
      if (throwIn == Ev::ShowStatus && statuses.size() == 2) throw std::runtime_error("status window failed");
    };
    r.showRx = [this](std::span<const std::uint16_t, 4096> samples) {
      script->log.add(fake::event(Ev::ShowRx, 0, 0, 0, false, 0, onMain()));
      rx.emplace_back(samples.begin(), samples.end());
      if (throwIn == Ev::ShowRx && rx.size() == 2) throw std::runtime_error("receive view failed");
    };
    r.buildCommand = [this](std::span<std::uint8_t, 64> packet) {
      script->log.add(fake::event(Ev::BuildCommand, 0, 0, 0, false, 0, onMain()));
      ++built;
      if (build) build(packet, built);
      if (throwIn == Ev::BuildCommand && built == 2) throw std::runtime_error("panel failed");
    };
    thread = std::make_unique<TUSB_Thread>(r, fake::opener(script));
    ASSERT_TRUE(thread->OpenDeviceHandle(QStringLiteral("/dev/fake")));
    thread->setWaitTime(waitMs);
    thread->resume();
  }
  bool onMain() const { return std::this_thread::get_id() == mainThread; }
  // Stops as the events window does and checks that it ends.
  void stop() {
    thread->terminate();
    ASSERT_TRUE(thread->waitFor());
    ASSERT_TRUE(thread->isFinished());
  }
  std::vector<Ev> kinds() const {
    std::vector<Ev> k;
    for (const fake::Event& e : script->log.events()) k.push_back(e.kind);
    return k;
  }

  std::thread::id mainThread;
  std::shared_ptr<fake::Script> script = std::make_shared<fake::Script>();
  std::unique_ptr<TUSB_Thread> thread;
  std::vector<Status> statuses;
  std::vector<std::vector<std::uint16_t>> rx;
  int built = 0;
  std::function<void(std::span<std::uint8_t, 64>, int cycle)> build;
  Ev throwIn = Ev::Configure;  // none
};

const std::vector<Ev> kCycle = {Ev::Transfer, Ev::ShowStatus,   Ev::Transfer,
                                Ev::ShowRx,   Ev::BuildCommand, Ev::Transfer};

// The endpoints' sizes first, then the cycle again and again: every step, in its order, with
// the request header made fresh each time and the hand-overs on the main thread.
TEST_F(ExchangeThread, ConfiguresThenRepeatsTheCycleInOrder) {
  start(400);
  ASSERT_TRUE(fake::runUntil([&] { return script->log.count(Ev::BuildCommand) >= 4; }));
  stop();
  const auto events = script->log.events();
  ASSERT_GE(events.size(), 3 + 4 * kCycle.size());

  const std::uint8_t configEndpoints[] = {0x86, 0x82, 0x04};
  const std::uint32_t configSizes[] = {32, 8192, 64};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(events[i].kind, Ev::Configure);
    EXPECT_EQ(events[i].endpoint, configEndpoints[i]);
    EXPECT_EQ(events[i].length, configSizes[i]);
    EXPECT_EQ(events[i].waitMs, 500u);
  }
  const std::uint8_t transferEndpoints[] = {0x86, 0x82, 0x04};
  const std::uint32_t transferLengths[] = {70, 8230, 102};
  ASSERT_EQ((events.size() - 3) % kCycle.size(), 0u) << "the thread ended in the middle of a cycle";
  for (std::size_t i = 3; i < events.size(); ++i) {
    const std::size_t step = (i - 3) % kCycle.size();
    ASSERT_EQ(events[i].kind, kCycle[step]) << "event " << i;
    if (events[i].kind == Ev::Transfer) {
      const int t = step == 0 ? 0 : step == 2 ? 1 : 2;
      EXPECT_EQ(events[i].endpoint, transferEndpoints[t]) << "event " << i;
      EXPECT_EQ(events[i].length, transferLengths[t]) << "event " << i;
      EXPECT_EQ(events[i].waitMs, 400u);
      EXPECT_TRUE(events[i].headerClean) << "event " << i;
    } else {
      EXPECT_TRUE(events[i].onMainThread) << "event " << i;
    }
    // Step 11: at least the 20 ms pause between a cycle's command and the next status.
    if (step == 0 && i > 3) {
      EXPECT_GE(events[i].at - events[i - 1].at, std::chrono::milliseconds(19));
    }
  }
}

// Payloads are never cleared: a failed IN transfer hands on what the last good one left,
// zeros before the first, together with the failure's code.
TEST_F(ExchangeThread, FailedTransfersHandOnThePreviousPayloads) {
  struct Cycle {
    int error;           // of both IN transfers; 0: the device answers with the cycle's pattern
    std::uint8_t shown;  // the status byte and sample value the windows get
  };
  const std::vector<Cycle> cycles = {{110, 0}, {5, 0}, {0, 3}, {110, 3}, {19, 3}, {0, 6}, {110, 6}};
  script->answer = [&cycles](std::uint8_t ep, std::uint8_t* payload, std::uint32_t length, std::uint32_t,
                             int index) -> int {
    if (ep == 0x04 || std::size_t(index) >= cycles.size()) return 0;
    if (cycles[index].error) return cycles[index].error;
    std::fill(payload, payload + length, std::uint8_t(index + 1));
    return 0;
  };
  start(5);
  ASSERT_TRUE(fake::runUntil([&] { return rx.size() >= cycles.size(); }));
  stop();
  std::vector<std::uint32_t> errors;
  for (const fake::Event& e : script->log.events())
    if (e.kind == Ev::ShowStatus) errors.push_back(e.errorCode);
  for (std::size_t i = 0; i < cycles.size(); ++i) {
    SCOPED_TRACE(i);
    const std::uint8_t b = cycles[i].shown;
    EXPECT_EQ(errors[i], std::uint32_t(cycles[i].error));
    Status expected;
    expected.fill(b);
    EXPECT_EQ(statuses[i], expected);
    EXPECT_EQ(rx[i], std::vector<std::uint16_t>(4096, std::uint16_t(b << 8 | b)));
  }
}

// Bytes the panel does not write keep what they had: the thread never clears the packet.
TEST_F(ExchangeThread, CommandPayloadIsSentAsTheBuilderLeftIt) {
  std::vector<std::array<std::uint8_t, 64>> sent;
  std::mutex sentMutex;
  sent.reserve(64);  // filled on the exchange thread
  script->answer = [&](std::uint8_t ep, std::uint8_t* payload, std::uint32_t, std::uint32_t, int) {
    if (ep == 0x04) {
      std::lock_guard lock(sentMutex);
      if (sent.size() < sent.capacity()) {
        sent.emplace_back();
        std::copy(payload, payload + 64, sent.back().begin());
      }
    }
    return 0;
  };
  build = [](std::span<std::uint8_t, 64> p, int cycle) {
    p[0] = std::uint8_t(cycle);
    if (cycle == 2) p[63] = 0xA5;
  };
  start();
  ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x04] >= 4; }));
  stop();
  std::lock_guard lock(sentMutex);
  ASSERT_GE(sent.size(), 4u);
  for (std::size_t i = 0; i < sent.size(); ++i) {
    std::array<std::uint8_t, 64> expected{};
    expected[0] = std::uint8_t(i + 1);
    if (i >= 1) expected[63] = 0xA5;
    EXPECT_EQ(sent[i], expected) << "cycle " << i + 1;
  }
}

// A stop asked for while the receive transfer is under way lets that cycle run to its end
// (steps 6 to 11) and starts no other.
TEST_F(ExchangeThread, TerminateDuringTheReceiveTransferFinishesTheCycle) {
  script->closeGate(0x82, 1);
  start();
  ASSERT_TRUE(fake::runUntil([&] { return script->reachedGate(); }));
  thread->terminate();
  const auto released = std::chrono::steady_clock::now();
  script->openGate();
  ASSERT_TRUE(thread->waitFor());
  EXPECT_GE(std::chrono::steady_clock::now() - released, std::chrono::milliseconds(19))
      << "no pause at the end";

  std::vector<Ev> expected = {Ev::Configure, Ev::Configure, Ev::Configure};
  expected.insert(expected.end(), kCycle.begin(), kCycle.end());
  expected.insert(expected.end(), kCycle.begin(), kCycle.end());
  EXPECT_EQ(kinds(), expected);
}

// A pause lands on the next step boundary and the thread goes on from exactly there.
TEST_F(ExchangeThread, PausedMidCycleResumesWhereItStopped) {
  script->closeGate(0x82, 1);
  start();
  ASSERT_TRUE(fake::runUntil([&] { return script->reachedGate(); }));
  thread->suspend();
  script->openGate();
  const std::size_t before = script->log.events().size();
  fake::runFor(150);
  EXPECT_EQ(script->log.events().size(), before) << "ran on while paused";
  EXPECT_EQ(script->log.events().back().kind, Ev::Transfer);
  EXPECT_TRUE(thread->isSuspended());
  EXPECT_FALSE(thread->waitFor()) << "a paused thread cannot end; waiting must not block";

  thread->resume();
  ASSERT_TRUE(fake::runUntil([&] { return script->log.count(Ev::BuildCommand) >= 4; }));
  stop();
  const auto k = kinds();
  for (std::size_t i = 3; i < k.size(); ++i)
    ASSERT_EQ(k[i], kCycle[(i - 3) % kCycle.size()]) << "event " << i;
}

// A window step that throws ends the thread body: nothing after that step runs, and a stop
// afterwards returns at once.
TEST_F(ExchangeThread, ExceptionInAHandOverEndsTheThread) {
  for (Ev step : {Ev::ShowStatus, Ev::ShowRx, Ev::BuildCommand}) {
    SCOPED_TRACE(int(step));
    script = std::make_shared<fake::Script>();
    statuses.clear();
    rx.clear();
    built = 0;
    throwIn = step;
    start();
    ASSERT_TRUE(fake::runUntil([&] { return thread->isFinished(); }));
    EXPECT_FALSE(thread->failure().isEmpty());
    const auto k = kinds();
    EXPECT_EQ(k.back(), step);
    EXPECT_EQ(std::count(k.begin(), k.end(), step), 2);
    stop();
    thread.reset();
  }
}

// A device that never answers, or is gone and fails at once: each transfer costs the whole
// wait, and the windows still get a status every 3 waits + 20 ms with the failure's code.
TEST_F(ExchangeThread, AbsentDeviceCostsTheWaitTimeOfEveryTransfer) {
  for (const int error : {110, 19}) {
    SCOPED_TRACE(error);
    script = std::make_shared<fake::Script>();
    statuses.clear();
    script->answer = [error](std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t waitMs, int) {
      if (error == 110) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
      return error;
    };
    const std::uint32_t wait = 150;
    start(wait);
    ASSERT_TRUE(fake::runUntil([&] { return statuses.size() >= 5; }, 20000));
    stop();
    std::vector<std::chrono::steady_clock::time_point> shown;
    for (const fake::Event& e : script->log.events())
      if (e.kind == Ev::ShowStatus) {
        shown.push_back(e.at);
        EXPECT_EQ(e.errorCode, std::uint32_t(error));
      }
    // Never shorter than the three waits and the pause. A busy machine only stretches single
    // periods, so the shortest one must still be near 470 ms; one wait too many makes it 620.
    long long shortest = 1LL << 40;
    for (std::size_t i = 1; i < shown.size(); ++i) {
      const auto period = std::chrono::duration_cast<std::chrono::milliseconds>(shown[i] - shown[i - 1]);
      EXPECT_GE(period.count(), 3 * wait + 20 - 1);
      shortest = std::min<long long>(shortest, period.count());
    }
    EXPECT_LT(shortest, 4 * wait + 20 - 5);
    thread.reset();
  }
}

// The main thread that waits for the end runs the hand-overs itself: no event loop needed.
TEST_F(ExchangeThread, StopsWithoutAnEventLoop) {
  start();
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  QElapsedTimer t;
  t.start();
  stop();
  EXPECT_LT(t.elapsed(), 1000);
  EXPECT_GE(script->log.count(Ev::ShowStatus), 1u);
}

TEST(ExchangeThreadDevice, OpenAndCancel) {
  struct Row {
    const char* name;
    int openErrno;  // -1: opens
    bool opened;
    int keptError;
  };
  for (const Row& row : {Row{"opens", -1, true, 0}, Row{"refused", EACCES, false, EACCES},
                         Row{"no errno", 0, false, ENODEV}}) {
    SCOPED_TRACE(row.name);
    auto script = std::make_shared<fake::Script>();
    usb::TransportOpener open = [&](const QString&, int* error) -> std::unique_ptr<DeviceTransport> {
      if (row.openErrno < 0) return std::make_unique<fake::Transport>(script);
      *error = row.openErrno;
      return nullptr;
    };
    TUSB_Thread t({}, open);
    EXPECT_FALSE(t.CancelTransfers()) << "nothing open yet";
    EXPECT_EQ(t.OpenDeviceHandle(QStringLiteral("/dev/x")), row.opened);
    EXPECT_EQ(t.openError(), row.keptError);
    EXPECT_EQ(t.CancelTransfers(), row.opened);
    EXPECT_EQ(script->cancels.load(), row.opened ? 1 : 0);
  }
  // Never started: destroying it must not wait for anything.
  TUSB_Thread idle({}, {});
  EXPECT_FALSE(idle.OpenDeviceHandle(QStringLiteral("/dev/x")));
  EXPECT_FALSE(idle.wasStarted());
}

}  // namespace
