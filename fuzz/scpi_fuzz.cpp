// libFuzzer target of the SCPI interpreter: whatever a client sends, as the server hands it
// over (in pieces no larger than the session takes), through the parser, the command tree,
// the parameter readers and the common commands. Nothing may crash, and no line may make
// the session keep more than its limit.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "remote/scpi_session.h"
#include "remote/scpi_values.h"

namespace {

// Reads every parameter the way the real nodes do, so the readers see fuzzed input too.
class ReadingInstrument : public scpi::Instrument {
 public:
  int execute(const Call& call, std::string& reply) override {
    static const scpi::NumericLimits limits{-60, 0, -2.3L, scpi::Quantity::Microsecond};
    for (const scpi::Parameter& p : call.params) {
      long double v = 0;
      bool b = false;
      int index = 0;
      (void)scpi::readNumber(p, limits, v);
      (void)scpi::readBool(p, b);
      (void)scpi::readChoice(p, "PULSe|ASERies|FSERies|SINusoid|OFF", index);
      reply += scpi::formatNumber(v, 3) + scpi::quoted(p.text);
    }
    int which = 0;
    const int e = scpi::readLimitQuery(call.params, which);
    if (call.query) reply += std::to_string(which);
    return call.captures.values.empty() ? e : (call.captures.values[0] > 2 ? scpi::UndefinedHeader : e);
  }
  std::string identity() override { return "QZ418,fuzz,0,0"; }
  void reset() override {}
  int selfTest() override { return 0; }
  std::uint64_t packetsBuilt() override { return ++built; }
  std::uint64_t lastTransferredPacket() override { return built; }
  std::uint64_t linkId() override { return 1; }
  std::uint64_t transfersCompleted() override { return built; }
  std::uint64_t built = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ReadingInstrument instrument;
  scpi::Session session(instrument);
  std::string out;
  std::size_t at = 0;
  // The first byte picks the piece size, as a socket would split the stream.
  const std::size_t piece = size ? 1 + data[0] % 97 : 1;
  for (int rounds = 0; rounds < 100000; ++rounds) {
    const std::size_t n = std::min<std::size_t>({session.space(), piece, size - at});
    session.receive(std::string_view(reinterpret_cast<const char*>(data) + at, n));
    at += n;
    out.clear();
    const scpi::Session::State s = session.run(out);
    if (s == scpi::Session::State::Idle && at == size) break;
  }
  (void)session.errors().pop();
  (void)session.statusByte();
  return 0;
}
