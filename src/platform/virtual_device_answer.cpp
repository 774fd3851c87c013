#include "platform/virtual_device_answer.h"

#include <algorithm>

#include "platform/device_request.h"
#include "platform/virtual_device_protocol.h"

namespace virtual_device {

AnswerReader::AnswerReader() : payload_(kMaxFrameLength) {}

void AnswerReader::expect(std::uint32_t sequence, std::uint32_t length) {
  sent_ = sequence;
  currentLength_ = length;
}

void AnswerReader::giveUp(std::uint32_t sequence, std::uint32_t length) {
  givenUp_[sequence % givenUp_.size()] = {sequence, length};
}

std::span<std::uint8_t> AnswerReader::space() {
  if (headerFill_ < header_.size()) return {header_.data() + headerFill_, header_.size() - headerFill_};
  return {payload_.data() + payloadFill_, answerLength_ - payloadFill_};
}

AnswerReader::Result AnswerReader::received(std::size_t n) {
  n = std::min(n, space().size());
  if (headerFill_ < header_.size()) {
    headerFill_ += n;
    if (headerFill_ < header_.size()) return Result::More;
    answerSeq_ = readLe32(header_.data());
    answerError_ = readLe32(header_.data() + 4);
    // Bytes 8-11 (bytes returned) are informational only.
    answerLength_ = readLe32(header_.data() + 12);
    if (!headerValid()) {
      headerFill_ = 0;
      answerLength_ = 0;
      return Result::Malformed;
    }
    payloadFill_ = 0;
  } else {
    payloadFill_ += n;
  }
  if (payloadFill_ < answerLength_) return Result::More;
  headerFill_ = payloadFill_ = 0;
  answered_ = answerSeq_;
  return Result::Frame;
}

bool AnswerReader::headerValid() const {
  if (answerLength_ > kMaxFrameLength || answerError_ > kMaxErrorValue) return false;
  // Answers come in order: each one is for a request sent after the last one answered and
  // not after the newest one. A repeated sequence number is as wrong as one never sent.
  if (answerSeq_ <= answered_ || answerSeq_ > sent_) return false;
  if (answerSeq_ == sent_) return answerLength_ == currentLength_;
  const GivenUp& g = givenUp_[answerSeq_ % givenUp_.size()];
  return g.sequence != answerSeq_ || g.length == answerLength_;
}

}  // namespace virtual_device
