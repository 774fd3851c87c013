// libFuzzer target: any bytes as what a virtual device sends back to a run of requests, read by
// the program's answer reader. Whatever it accepts must be an answer to a request that was sent,
// in order, never one already answered, with exactly the length of its request and an errno-sized
// error; anything else must be refused as malformed. No crash, no read or write out of bounds.
//
// Input: byte 0 the number of requests (1-8); then per request a length selector and a patience
// (how many reads it waits before it is given up, as a timeout does); one byte of read sizes;
// the rest is the byte stream from the device.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/virtual_device_answer.h"
#include "platform/virtual_device_protocol.h"

namespace {

// Buffer lengths the program sends (size request, status, command) and a few odd ones.
constexpr std::array<std::uint32_t, 8> kLengths{8, 70, 102, 0, 1, 16, 38, 200};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const std::size_t requests = 1 + data[0] % 8;
  if (size < 2 + 2 * requests) return 0;
  std::array<std::uint32_t, 8> length{};
  std::array<unsigned, 8> patience{};
  for (std::size_t i = 0; i < requests; ++i) {
    length[i] = kLengths[data[1 + 2 * i] % kLengths.size()];
    patience[i] = 1 + data[2 + 2 * i] % 16;
  }
  const unsigned readSizes = data[1 + 2 * requests];
  const std::uint8_t* stream = data + 2 + 2 * requests;
  std::size_t left = size - (2 + 2 * requests);

  virtual_device::AnswerReader reader;
  std::uint32_t answered = 0;
  unsigned reads = 0;
  for (std::size_t i = 0; i < requests; ++i) {
    const std::uint32_t seq = std::uint32_t(i + 1);
    reader.expect(seq, length[i]);
    bool done = false;
    for (unsigned n = 0; n < patience[i] && left > 0 && !done; ++n) {
      const auto space = reader.space();
      if (space.empty()) std::abort();
      // Reads as a socket delivers them: sometimes a byte, sometimes all there is.
      const std::size_t chunk = (readSizes >> (reads++ % 8)) & 1 ? left : 1 + (readSizes + reads * 7) % 23;
      const std::size_t k = std::min({space.size(), chunk, left});
      std::memcpy(space.data(), stream, k);
      stream += k;
      left -= k;
      switch (reader.received(k)) {
        case virtual_device::AnswerReader::Result::More:
          break;
        case virtual_device::AnswerReader::Result::Malformed:
          return 0;  // the connection is closed
        case virtual_device::AnswerReader::Result::Frame: {
          const std::uint32_t s = reader.sequence();
          if (s <= answered || s > seq) std::abort();
          if (reader.payload().size() != length[s - 1]) std::abort();
          if (reader.error() > virtual_device::kMaxErrorValue) std::abort();
          answered = s;
          done = s == seq;
          break;
        }
      }
    }
    if (!done) reader.giveUp(seq, length[i]);
  }
  return 0;
}
