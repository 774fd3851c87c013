#pragma once
// Reads the answer frames of the virtual-device protocol from a byte stream and checks each
// header against the requests sent. No I/O of its own: the transport receives into space()
// and reports the count, so a frame cut off by one request's wait is finished during the next.
// Plain C++ (no Qt), so that it can be fuzzed on its own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace virtual_device {

class AnswerReader {
 public:
  enum class Result { More, Frame, Malformed };

  AnswerReader();

  // The request with this sequence number and buffer length is on the wire; it is the newest.
  void expect(std::uint32_t sequence, std::uint32_t length);
  // Its wait ran out: an answer to it that comes later must still have its length.
  void giveUp(std::uint32_t sequence, std::uint32_t length);

  // Where the next received bytes go; never beyond the end of the frame being read, so the
  // stream is read frame by frame. Never empty.
  std::span<std::uint8_t> space();
  // n bytes were stored at space(). Frame: a whole valid answer is in (see below); Malformed:
  // its header broke the protocol, and the stream cannot be trusted any further.
  Result received(std::size_t n);

  // The frame just completed; valid until the next received().
  std::uint32_t sequence() const { return answerSeq_; }
  std::uint32_t error() const { return answerError_; }
  std::span<const std::uint8_t> payload() const { return {payload_.data(), answerLength_}; }

 private:
  bool headerValid() const;

  std::uint32_t sent_ = 0;      // the newest sequence number sent
  std::uint32_t answered_ = 0;  // the last sequence number an answer arrived for
  std::uint32_t currentLength_ = 0;

  // Lengths of requests given up on, by sequence number modulo the table size.
  struct GivenUp {
    std::uint32_t sequence = 0;
    std::uint32_t length = 0;
  };
  std::array<GivenUp, 64> givenUp_{};

  std::array<std::uint8_t, 16> header_{};
  std::size_t headerFill_ = 0;
  std::uint32_t answerSeq_ = 0, answerError_ = 0, answerLength_ = 0;
  std::size_t payloadFill_ = 0;
  bool frameDone_ = false;
  std::vector<std::uint8_t> payload_;  // kMaxFrameLength bytes, allocated once
};

}  // namespace virtual_device
