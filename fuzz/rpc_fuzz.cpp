// libFuzzer target of what a VXI-11 client sends: the byte stream cut into records by the
// record marking (in pieces of the sizes the server reads), each record's call header, and
// the arguments of every VXI-11 call decoded from it. Nothing may crash or read past a
// record, and no record may grow beyond its limit.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "remote/onc_rpc.h"
#include "remote/vxi11_protocol.h"

namespace {

void decodeAll(std::string_view args) {
  vxi11::CreateLinkParms create;
  vxi11::WriteParms write;
  vxi11::ReadParms read;
  vxi11::GenericParms generic;
  vxi11::LockParms lock;
  vxi11::EnableSrqParms srq;
  vxi11::RemoteFunc remote;
  std::int32_t lid = 0;
  if (vxi11::decode(args, create) && create.device.size() > vxi11::kMaxDeviceName) std::abort();
  if (vxi11::decode(args, write) && write.data.size() > args.size()) std::abort();
  (void)vxi11::decode(args, read);
  (void)vxi11::decode(args, generic);
  (void)vxi11::decode(args, lock);
  if (vxi11::decode(args, srq) && srq.handle.size() > vxi11::kMaxSrqHandle) std::abort();
  (void)vxi11::decode(args, remote);
  (void)vxi11::decodeLink(args, lid);
  (void)rpc::parseReply(args);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kLimit = 4096;
  rpc::RecordReader reader(kLimit);
  std::string_view in(reinterpret_cast<const char*>(data), size);
  // The first byte picks how much the "socket" hands over at a time (as a partial read would).
  const std::size_t chunk = size ? std::size_t(data[0] % 7) + 1 : 1;
  while (!in.empty() && !reader.broken()) {
    const std::size_t wanted = reader.wanted();
    if (wanted == 0 && !reader.complete()) std::abort();  // neither done nor asking for bytes
    const std::size_t used =
        reader.feed(in.substr(0, std::min({in.size(), chunk, std::max<std::size_t>(wanted, 1)})));
    in.remove_prefix(used);
    if (reader.complete()) {
      const std::string record = reader.take();
      if (record.size() > kLimit) std::abort();
      const rpc::Call call = rpc::parseCall(record);
      if (call.status == rpc::Call::Status::Ok) decodeAll(call.args);
    } else if (used == 0) {
      break;
    }
  }
  decodeAll(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
