#include "sim_device.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

long long monotonicMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

template <typename T>
bool parseNumber(const std::string& text, T* out) {
  const char* end = text.data() + text.size();
  const auto [p, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && p == end;
}

}  // namespace

bool isValidSimName(const std::string& n) {
  return !n.empty() && n[0] != '.' && std::all_of(n.begin(), n.end(), [](char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
           ch == '-' || ch == '.';
  });
}

std::uint8_t* RequestFramer::space() {
  return headerFill_ < header_.size() ? header_.data() + headerFill_ : payload_.data() + payloadFill_;
}

std::size_t RequestFramer::spaceSize() const {
  return headerFill_ < header_.size() ? header_.size() - headerFill_ : length_ - payloadFill_;
}

RequestFramer::Result RequestFramer::received(std::size_t n) {
  if (headerFill_ < header_.size()) {
    headerFill_ += n;
    if (headerFill_ < header_.size()) return Result::More;
    seq_ = readLe32(header_.data());
    code_ = readLe32(header_.data() + 4);
    length_ = readLe32(header_.data() + 8);
    if (length_ > virtual_device::kMaxFrameLength) return Result::TooLong;
    payload_.resize(length_);
    payloadFill_ = 0;
  } else {
    payloadFill_ += n;
  }
  if (payloadFill_ < length_) return Result::More;
  headerFill_ = 0;  // the next bytes start the next request
  return Result::Request;
}

SimDevice::SimDevice(SimOptions options) : options_(std::move(options)) {
  startMs_ = monotonicMs();
  synth_.onCommand = [this](const std::uint8_t* packet) { logCommand(packet); };
}

SimDevice::~SimDevice() {
  if (log_) std::fclose(log_);
}

long long SimDevice::elapsedMs() const { return monotonicMs() - startMs_; }

bool SimDevice::openLog() {
  if (options_.logPath.empty()) return true;
  log_ = std::fopen(options_.logPath.c_str(), "w");
  if (!log_) {
    std::fprintf(stderr, "qz418-sim: cannot write %s: %s\n", options_.logPath.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

SimDevice::Command SimDevice::command(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  if (w.empty()) return Command::Done;
  const std::string& cmd = w[0];
  if (cmd == "scene" && w.size() == 2) {
    unsigned v = 0;
    if (!parseNumber(w[1], &v) || v > 255) return Command::NotUnderstood;
    synth_.setSceneRequest(std::uint8_t(v));
  } else if (cmd == "pulse" && w.size() == 3) {
    double volts = 0, us = 0;
    if (!parseNumber(w[1], &volts) || !parseNumber(w[2], &us) || !std::isfinite(volts) ||
        !std::isfinite(us) || us < 0)
      return Command::NotUnderstood;
    synth_.setPulse(volts, us);
  } else if (cmd == "freq" && w.size() == 2) {
    unsigned v = 0;
    if (!parseNumber(w[1], &v) || v > 65535) return Command::NotUnderstood;
    synth_.setProbeFrequency(std::uint16_t(v));
  } else if (cmd == "unplug" && w.size() == 1) {
    return Command::Unplug;
  } else if (cmd == "plug" && w.size() == 1) {
    return Command::Plug;
  } else if (cmd == "hangup" && (w.size() == 1 || (w.size() == 2 && (w[1] == "always" || w[1] == "never")))) {
    // The device closes every connection but stays plugged in: it can be opened again.
    // "always": it goes on closing each new one at once, a device that never gets a packet
    // through while it stays listed; "never" ends that.
    if (w.size() == 2) hangUpAlways_ = w[1] == "always";
    return w.size() == 1 || hangUpAlways_ ? Command::HangUp : Command::Done;
  } else if (cmd == "garble" && w.size() == 1) {
    garbleNext_ = true;
  } else if (cmd == "quit" && w.size() == 1) {
    return Command::Quit;
  } else {
    return Command::NotUnderstood;
  }
  return Command::Done;
}

bool SimDevice::answer(RequestFramer& request, std::vector<std::uint8_t>& out) {
  std::vector<std::uint8_t>& payload = request.payload();
  const auto length = std::uint32_t(payload.size());
  const int error = synth_.handleRequest(request.code(), payload.data(), length, request.sizes);
  ++requests_;
  if (options_.dropEvery && requests_ % options_.dropEvery == 0) return false;  // left unanswered
  out.resize(virtual_device::kAnswerHeaderSize + length);
  // A garbled answer carries the sequence number of the request before (0 for the first),
  // which a client has already had its answer for.
  writeLe32(out.data(), garbleNext_ ? request.sequence() - 1 : request.sequence());
  garbleNext_ = false;
  writeLe32(out.data() + 4, std::uint32_t(error));
  writeLe32(out.data() + 8, error ? 0 : length);
  writeLe32(out.data() + 12, length);
  if (length) std::memcpy(out.data() + virtual_device::kAnswerHeaderSize, payload.data(), length);
  return true;
}

void SimDevice::logCommand(const std::uint8_t* packet) {
  if (!log_) return;
  std::fprintf(log_, "%lld ", elapsedMs());
  for (int i = 0; i < VirtualSynthesizer::kCommandSize; ++i) std::fprintf(log_, "%02x", packet[i]);
  std::fputc('\n', log_);
  std::fflush(log_);
}
