// The exchange thread allocates nothing once it cycles: every operator new on a thread other
// than the main one is counted while the test looks.
#include "usb/usb_thread.h"

#include "usb_fakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> counting{false};
std::atomic<long> workerAllocations{0};
std::thread::id mainThreadId;

void* allocate(std::size_t n) {
  if (counting.load(std::memory_order_relaxed) && std::this_thread::get_id() != mainThreadId)
    ++workerAllocations;
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(ExchangeThreadAllocation, NoneOnTheExchangeThreadPerCycle) {
  mainThreadId = std::this_thread::get_id();
  auto script = std::make_shared<fake::Script>();
  script->answer = [](std::uint8_t ep, std::uint8_t* payload, std::uint32_t length, std::uint32_t,
                      int index) {
    if (ep != 0x04) std::fill(payload, payload + length, std::uint8_t(index));
    return index % 3 == 0 ? 110 : 0;  // failures too
  };
  LinkReceivers r;
  std::uint64_t handed = 0;
  r.showStatus = [&](const std::array<std::uint8_t, 32>&, std::uint32_t) { ++handed; };
  r.showRx = [&](std::span<const std::uint16_t, 4096>) { ++handed; };
  r.buildCommand = [&](std::span<std::uint8_t, 64> p) { p[0] = std::uint8_t(handed); };
  TUSB_Thread thread(r, fake::opener(script));
  ASSERT_TRUE(thread.OpenDeviceHandle(QStringLiteral("/dev/fake")));
  thread.setWaitTime(5);  // the failures cost their wait
  thread.resume();
  // The thread's own start-up (its stack, the first wake-up) is not counted.
  ASSERT_TRUE(fake::runUntil([&] { return thread.cyclesStarted() >= 3; }));
  counting = true;
  const std::uint64_t from = thread.cyclesStarted();
  ASSERT_TRUE(fake::runUntil([&] { return thread.cyclesStarted() >= from + 10; }));
  counting = false;
  thread.terminate();
  ASSERT_TRUE(thread.waitFor());
  EXPECT_EQ(workerAllocations.load(), 0);
}

}  // namespace
