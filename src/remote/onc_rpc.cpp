#include "remote/onc_rpc.h"

#include <algorithm>

namespace rpc {

namespace {
constexpr std::size_t kMaxAuthBody = 400;  // credentials and verifiers are at most this long
std::size_t padded(std::size_t n) { return (n + 3) & ~std::size_t(3); }
}  // namespace

std::uint32_t XdrReader::u32() {
  if (!ok_ || data_.size() - pos_ < 4) {
    ok_ = false;
    return 0;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
  pos_ += 4;
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

bool XdrReader::boolean() {
  const std::uint32_t v = u32();
  if (v > 1) ok_ = false;
  return ok_ && v == 1;
}

std::string_view XdrReader::opaque(std::size_t max) {
  const std::uint32_t n = u32();
  if (!ok_ || n > max || padded(n) > data_.size() - pos_) {
    ok_ = false;
    return {};
  }
  std::string_view v = data_.substr(pos_, n);
  pos_ += padded(n);
  return v;
}

void XdrWriter::u32(std::uint32_t v) {
  const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  out_.append(b, 4);
}

void XdrWriter::opaque(std::string_view bytes) {
  u32(std::uint32_t(bytes.size()));
  out_ += bytes;
  out_.append(padded(bytes.size()) - bytes.size(), '\0');
}

std::size_t RecordReader::wanted() const {
  if (complete_ || broken_) return 0;
  return inFragment_ ? fragmentLeft_ : 4 - headerHave_;
}

std::size_t RecordReader::feed(std::string_view bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && !complete_ && !broken_) {
    if (!inFragment_) {
      while (headerHave_ < 4 && used < bytes.size())
        header_[headerHave_++] = static_cast<unsigned char>(bytes[used++]);
      if (headerHave_ < 4) break;
      headerHave_ = 0;
      const std::uint32_t h = std::uint32_t(header_[0]) << 24 | std::uint32_t(header_[1]) << 16 |
                              std::uint32_t(header_[2]) << 8 | header_[3];
      lastFragment_ = (h & 0x80000000u) != 0;
      fragmentLeft_ = h & 0x7fffffffu;
      if (++fragments_ > kMaxFragments || fragmentLeft_ > maxRecord_ - record_.size()) {
        broken_ = true;
        break;
      }
      inFragment_ = true;
    } else {
      const std::size_t n = std::min(fragmentLeft_, bytes.size() - used);
      record_.append(bytes.data() + used, n);
      fragmentLeft_ -= n;
      used += n;
    }
    if (inFragment_ && fragmentLeft_ == 0) {
      inFragment_ = false;
      if (lastFragment_) complete_ = true;
    }
  }
  return used;
}

std::string RecordReader::take() {
  std::string r;
  r.swap(record_);
  complete_ = false;
  fragments_ = 0;
  return r;
}

std::string frame(std::string_view record) {
  XdrWriter w;
  w.u32(0x80000000u | std::uint32_t(record.size()));
  w.raw(record);
  return w.data();
}

Call parseCall(std::string_view record) {
  Call c;
  XdrReader r(record);
  c.xid = r.u32();
  const std::uint32_t type = r.u32();
  if (!r.ok()) return c;
  if (type != kCall) {
    c.status = Call::Status::NotACall;
    return c;
  }
  const std::uint32_t version = r.u32();
  c.program = r.u32();
  c.version = r.u32();
  c.procedure = r.u32();
  for (int i = 0; i < 2; ++i) {  // credentials, verifier: flavour and body
    r.u32();
    r.opaque(kMaxAuthBody);
  }
  if (!r.ok()) return c;
  if (version != kRpcVersion) {
    c.status = Call::Status::WrongRpcVersion;
    return c;
  }
  c.args = r.rest();
  c.status = Call::Status::Ok;
  return c;
}

namespace {
void acceptedHeader(XdrWriter& w, std::uint32_t xid, AcceptStat stat) {
  w.u32(xid);
  w.u32(kReply);
  w.u32(0);  // MSG_ACCEPTED
  w.u32(0);  // verifier AUTH_NONE, empty
  w.u32(0);
  w.u32(stat);
}
}  // namespace

std::string acceptedReply(std::uint32_t xid, AcceptStat stat, std::string_view results) {
  XdrWriter w;
  acceptedHeader(w, xid, stat);
  w.raw(results);
  return w.data();
}

std::string progMismatchReply(std::uint32_t xid, std::uint32_t low, std::uint32_t high) {
  XdrWriter w;
  acceptedHeader(w, xid, ProgMismatch);
  w.u32(low);
  w.u32(high);
  return w.data();
}

std::string rpcMismatchReply(std::uint32_t xid) {
  XdrWriter w;
  w.u32(xid);
  w.u32(kReply);
  w.u32(1);  // MSG_DENIED
  w.u32(0);  // RPC_MISMATCH
  w.u32(kRpcVersion);
  w.u32(kRpcVersion);
  return w.data();
}

std::string callMessage(std::uint32_t xid, std::uint32_t program, std::uint32_t version,
                        std::uint32_t procedure, std::string_view args) {
  XdrWriter w;
  w.u32(xid);
  w.u32(kCall);
  w.u32(kRpcVersion);
  w.u32(program);
  w.u32(version);
  w.u32(procedure);
  for (int i = 0; i < 4; ++i) w.u32(0);  // AUTH_NONE credentials and verifier
  w.raw(args);
  return w.data();
}

Reply parseReply(std::string_view record) {
  Reply reply;
  XdrReader r(record);
  reply.xid = r.u32();
  const std::uint32_t type = r.u32();
  const std::uint32_t replyStat = r.u32();
  if (!r.ok() || type != kReply || replyStat != 0) return reply;
  r.u32();
  r.opaque(kMaxAuthBody);
  reply.stat = r.u32();
  reply.results = r.rest();
  reply.ok = r.ok();
  return reply;
}

}  // namespace rpc
