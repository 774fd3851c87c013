#include "remote/vxi11_protocol.h"

#include <limits>

namespace vxi11 {

namespace {
bool finished(const rpc::XdrReader& r) { return r.ok() && r.atEnd(); }
constexpr std::size_t kMaxData = std::numeric_limits<std::uint32_t>::max();
}  // namespace

bool decode(std::string_view args, CreateLinkParms& p) {
  rpc::XdrReader r(args);
  p.clientId = r.i32();
  p.lockDevice = r.boolean();
  p.lockTimeout = r.u32();
  p.device = r.opaque(kMaxDeviceName);
  return finished(r);
}

bool decode(std::string_view args, WriteParms& p) {
  rpc::XdrReader r(args);
  p.lid = r.i32();
  p.ioTimeout = r.u32();
  p.lockTimeout = r.u32();
  p.flags = r.i32();
  p.data = r.opaque(kMaxData);
  return finished(r);
}

bool decode(std::string_view args, ReadParms& p) {
  rpc::XdrReader r(args);
  p.lid = r.i32();
  p.requestSize = r.u32();
  p.ioTimeout = r.u32();
  p.lockTimeout = r.u32();
  p.flags = r.i32();
  p.termChar = char(r.u32());  // an XDR char is a 4-byte unit
  return finished(r);
}

bool decode(std::string_view args, GenericParms& p) {
  rpc::XdrReader r(args);
  p.lid = r.i32();
  p.flags = r.i32();
  p.lockTimeout = r.u32();
  p.ioTimeout = r.u32();
  return finished(r);
}

bool decode(std::string_view args, LockParms& p) {
  rpc::XdrReader r(args);
  p.lid = r.i32();
  p.flags = r.i32();
  p.lockTimeout = r.u32();
  return finished(r);
}

bool decode(std::string_view args, EnableSrqParms& p) {
  rpc::XdrReader r(args);
  p.lid = r.i32();
  p.enable = r.boolean();
  p.handle = r.opaque(kMaxSrqHandle);
  return finished(r);
}

bool decode(std::string_view args, RemoteFunc& p) {
  rpc::XdrReader r(args);
  p.hostAddr = r.u32();
  const std::uint32_t port = r.u32();
  p.hostPort = std::uint16_t(port);
  p.program = r.u32();
  p.version = r.u32();
  p.family = r.u32();
  return finished(r) && port <= 0xffff && p.family <= 1;
}

bool decodeLink(std::string_view args, std::int32_t& lid) {
  rpc::XdrReader r(args);
  lid = r.i32();
  return finished(r);
}

}  // namespace vxi11
