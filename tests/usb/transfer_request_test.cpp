// The driver's two buffers byte for byte, and one request issued through a transport.
#include "usb/transfer_request.h"

#include "usb_fakes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

struct Layout {
  const char* name;
  std::uint8_t endpoint;
  std::uint32_t payloadLength;
  std::uint32_t size;
  std::uint8_t* bytes;
  std::function<void(std::uint8_t)> prepare;
};

template <typename R>
Layout layoutOf(const char* name, R& r, std::uint8_t endpoint) {
  return {name,      endpoint,  std::uint32_t(R::kPayloadBytes),
          R::size(), r.bytes(), [&r](std::uint8_t e) { r.prepare(e); }};
}

TEST(TransferRequest, HeaderIsRebuiltWholeAndPayloadKept) {
  usb::StatusRequest status;
  usb::ReceiveRequest receive;
  usb::CommandRequest command;
  for (const Layout& l : {layoutOf("status", status, 0x86), layoutOf("receive", receive, 0x82),
                          layoutOf("command", command, 0x04)}) {
    SCOPED_TRACE(l.name);
    // What a previous request and the driver left behind, header and payload alike.
    std::memset(l.bytes, 0xC3, l.size);
    l.prepare(l.endpoint);

    std::vector<std::uint8_t> expectedHeader(38, 0);
    expectedHeader[13] = l.endpoint;
    expectedHeader[30] = 38;
    usb::putU32(&expectedHeader[34], l.payloadLength);
    EXPECT_EQ(std::vector<std::uint8_t>(l.bytes, l.bytes + 38), expectedHeader);
    EXPECT_EQ(38 + l.payloadLength, l.size);
    for (std::uint32_t i = 38; i < l.size; ++i) ASSERT_EQ(l.bytes[i], 0xC3) << "payload byte " << i;
  }
  EXPECT_EQ(usb::StatusRequest::size(), 70u);
  EXPECT_EQ(usb::ReceiveRequest::size(), 8230u);
  EXPECT_EQ(usb::CommandRequest::size(), 102u);
  // 8192 does not fit a byte: the length field must carry the high byte too.
  EXPECT_EQ(receive.bytes()[34], 0x00);
  EXPECT_EQ(receive.bytes()[35], 0x20);
}

TEST(TransferRequest, ReceiveSamplesAreLittleEndianPairsOfThePayload) {
  usb::ReceiveRequest r;
  std::uint8_t* p = r.bytes() + 38;
  p[0] = 0x34, p[1] = 0x12;
  p[8190] = 0xFF, p[8191] = 0x0F;
  EXPECT_EQ(r.payload[0], 0x1234);
  EXPECT_EQ(r.payload[4095], 0x0FFF);
}

TEST(TransferSizeRequest, Bytes) {
  struct Row {
    std::uint8_t endpoint;
    std::uint32_t size;
    std::array<std::uint8_t, 8> bytes;
  };
  for (const Row& row :
       {Row{0x86, 32, {0x86, 0, 0, 0, 32, 0, 0, 0}}, Row{0x82, 8192, {0x82, 0, 0, 0, 0, 0x20, 0, 0}},
        Row{0x04, 64, {0x04, 0, 0, 0, 64, 0, 0, 0}},
        Row{0x01, 0x12345678, {1, 0, 0, 0, 0x78, 0x56, 0x34, 0x12}}})
    EXPECT_EQ(usb::makeTransferSizeRequest(row.endpoint, row.size), row.bytes) << int(row.endpoint);
}

TEST(IssueRequest, PassesTheRequestThroughAndReturnsTheTransportsCode) {
  auto script = std::make_shared<fake::Script>();
  script->answer = [](std::uint8_t, std::uint8_t* payload, std::uint32_t, std::uint32_t, int) {
    payload[0] = 0x5A;
    return 110;
  };
  fake::Transport t(script);
  usb::StatusRequest r;
  r.prepare(0x86);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(usb::issueRequest(&t, driver_ioctl::kTransfer, r.bytes(), r.size(), 123), 110);
  // The fake fails at once; a failed request still costs its whole wait.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(123));
  EXPECT_EQ(r.payload[0], 0x5A);
  const auto events = script->log.events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].length, 70u);
  EXPECT_EQ(events[0].waitMs, 123u);
  EXPECT_TRUE(events[0].headerClean);
  // No open device: fails at once, like a request on an invalid handle.
  EXPECT_EQ(usb::issueRequest(nullptr, driver_ioctl::kTransfer, r.bytes(), r.size(), 400), EBADF);
}

}  // namespace
