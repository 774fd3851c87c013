#pragma once
// ONC RPC over TCP, as far as the VXI-11 server needs it: XDR reading and writing, the record
// marking that cuts the byte stream into records, and the call and reply headers. Pure and
// bounded: every read checks what is left, a record longer than its limit breaks the stream,
// and nothing here allocates more than the record it holds.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace rpc {

// Big-endian 4-byte units; opaque data and strings are padded to a multiple of 4.
class XdrReader {
 public:
  explicit XdrReader(std::string_view data) : data_(data) {}
  std::uint32_t u32();
  std::int32_t i32() { return std::int32_t(u32()); }
  bool boolean();  // anything but 0 and 1 is a decoding error
  // Variable-length opaque data or string of at most max bytes; longer is an error.
  std::string_view opaque(std::size_t max);
  // False once a read ran past the end or met a bad value; reads then return zeros.
  bool ok() const { return ok_; }
  bool atEnd() const { return pos_ == data_.size(); }
  std::string_view rest() const { return data_.substr(pos_); }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

class XdrWriter {
 public:
  void u32(std::uint32_t v);
  void i32(std::int32_t v) { u32(std::uint32_t(v)); }
  void opaque(std::string_view bytes);
  void raw(std::string_view bytes) { out_ += bytes; }
  const std::string& data() const { return out_; }

 private:
  std::string out_;
};

// Cuts a stream into records: each fragment has a 4-byte header (top bit: last fragment of
// the record, low 31 bits: its length). The reader asks only for the bytes the current
// fragment still needs, so the caller leaves everything after the record in the socket.
class RecordReader {
 public:
  static constexpr std::size_t kMaxFragments = 64;
  explicit RecordReader(std::size_t maxRecord) : maxRecord_(maxRecord) {}
  // How many bytes the reader takes next (at least 1 unless a record is complete or broken).
  std::size_t wanted() const;
  // Takes at most wanted() bytes from the front of bytes; returns how many it took.
  std::size_t feed(std::string_view bytes);
  bool complete() const { return complete_; }
  // The stream cannot be read on: a record longer than the limit or too many fragments.
  bool broken() const { return broken_; }
  // The complete record; the reader starts on the next one.
  std::string take();

 private:
  std::size_t maxRecord_;
  unsigned char header_[4] = {};
  std::size_t headerHave_ = 0;
  std::size_t fragmentLeft_ = 0;
  bool inFragment_ = false;
  bool lastFragment_ = false;
  std::size_t fragments_ = 0;
  bool complete_ = false;
  bool broken_ = false;
  std::string record_;
};

// A record as one last fragment.
std::string frame(std::string_view record);

enum : std::uint32_t { kCall = 0, kReply = 1, kRpcVersion = 2 };
enum AcceptStat : std::uint32_t {
  Success = 0,
  ProgUnavail = 1,
  ProgMismatch = 2,
  ProcUnavail = 3,
  GarbageArgs = 4,
  SystemErr = 5,
};

struct Call {
  enum class Status { Ok, NotACall, WrongRpcVersion, Garbage };
  Status status = Status::Garbage;
  std::uint32_t xid = 0;
  std::uint32_t program = 0;
  std::uint32_t version = 0;
  std::uint32_t procedure = 0;
  std::string_view args;  // points into the record
};
// The call header; credentials and verifier of any flavour are read and ignored.
Call parseCall(std::string_view record);

// Replies (without record marking).
std::string acceptedReply(std::uint32_t xid, AcceptStat stat, std::string_view results = {});
std::string progMismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high);
std::string rpcMismatchReply(std::uint32_t xid);
// A call with AUTH_NONE (the interrupt channel's calls, and clients in tests).
std::string callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                        std::uint32_t procedure, std::string_view args);

struct Reply {
  bool ok = false;  // a well-formed accepted reply
  std::uint32_t xid = 0;
  std::uint32_t stat = 0;  // AcceptStat
  std::string_view results;
};
Reply parseReply(std::string_view record);

}  // namespace rpc
