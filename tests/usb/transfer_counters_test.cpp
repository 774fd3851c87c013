// The exchange's transfer counters, which remote clients wait on (*OPC?): a packet counts as
// transferred only when its own transfer completed without error.
#include "usb/usb_thread.h"

#include "usb_fakes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <mutex>
#include <vector>

TEST(TransferCounters, OnlyGoodTransfersCountAndEachCountsItsOwnPacket) {
  auto script = std::make_shared<fake::Script>();
  const std::uint64_t builtBefore = TUSB_Thread::packetsBuilt();
  const std::uint64_t completedBefore = TUSB_Thread::commandTransfersCompleted();
  std::mutex m;
  std::vector<std::uint64_t> seenAtTransfer;  // lastTransferredPacket as each command transfer begins
  seenAtTransfer.reserve(16);
  // Command transfers 1 and 2 (the second and third packet) fail.
  script->answer = [&](std::uint8_t ep, std::uint8_t*, std::uint32_t, std::uint32_t, int index) {
    if (ep != 0x04) return 0;
    std::lock_guard lock(m);
    if (seenAtTransfer.size() < seenAtTransfer.capacity())
      seenAtTransfer.push_back(TUSB_Thread::lastTransferredPacket() - builtBefore);
    return index == 1 || index == 2 ? EIO : 0;
  };
  std::vector<std::uint64_t> builtInHandOver;
  LinkReceivers r;
  r.buildCommand = [&](std::span<std::uint8_t, 64>) {
    builtInHandOver.push_back(TUSB_Thread::packetsBuilt() - builtBefore);
  };
  TUSB_Thread thread(r, fake::opener(script));
  ASSERT_TRUE(thread.OpenDeviceHandle(QStringLiteral("/dev/fake")));
  thread.setWaitTime(5);
  thread.resume();
  ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x04] >= 6; }));
  thread.terminate();
  ASSERT_TRUE(thread.waitFor());

  std::lock_guard lock(m);
  ASSERT_GE(seenAtTransfer.size(), 6u);
  // Packet n's transfer finds packets before it counted: 0, 1, then 1 while 2 and 3 fail, 4.
  EXPECT_EQ(std::vector<std::uint64_t>(seenAtTransfer.begin(), seenAtTransfer.begin() + 6),
            (std::vector<std::uint64_t>{0, 1, 1, 1, 4, 5}));
  // The builder runs before its packet is counted: a change made after the count moved is
  // in a later packet.
  ASSERT_GE(builtInHandOver.size(), 3u);
  EXPECT_EQ(std::vector<std::uint64_t>(builtInHandOver.begin(), builtInHandOver.begin() + 3),
            (std::vector<std::uint64_t>{0, 1, 2}));
  const std::uint64_t built = TUSB_Thread::packetsBuilt() - builtBefore;
  EXPECT_EQ(TUSB_Thread::commandTransfersCompleted() - completedBefore, built - 2);
  EXPECT_EQ(TUSB_Thread::lastTransferredPacket() - builtBefore, built);
}
