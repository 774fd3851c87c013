#pragma once
// The two driver requests as the driver reads them, shared by every back end and by the
// simulator so that all of them reject the same malformed buffers with the same codes.

#include <array>
#include <cstdint>

inline std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}

inline void writeLe32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
  p[2] = static_cast<std::uint8_t>(v >> 16);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}

struct DriverRequest {
  enum class Kind { SetTransferSize, Transfer };
  Kind kind = Kind::Transfer;
  std::uint8_t endpoint = 0;
  // SetTransferSize: the size to record; Transfer: the payload length (bytes after the header).
  std::uint32_t size = 0;
  bool isIn() const { return (endpoint & 0x80) != 0; }
};

// Reads a request buffer of length bytes. Returns 0, 22 when the buffer is shorter than
// its header or payload or names another payload offset, 25 for an unknown code.
int parseDriverRequest(std::uint32_t code, const std::uint8_t* buffer, std::uint32_t length,
                       DriverRequest* out);

// The transfer size recorded per endpoint address (IN and OUT kept apart).
class EndpointSizes {
 public:
  void set(std::uint8_t endpoint, std::uint32_t size) { sizes_[slot(endpoint)] = size; }
  // 0 when a size is recorded for the endpoint and equals length, else 22.
  int check(std::uint8_t endpoint, std::uint32_t length) const;
  void clear() { sizes_.fill(kNone); }

 private:
  static constexpr std::uint64_t kNone = ~std::uint64_t{0};
  static int slot(std::uint8_t endpoint) { return (endpoint & 0x0F) | ((endpoint & 0x80) ? 16 : 0); }
  std::array<std::uint64_t, 32> sizes_ = filled();
  static constexpr std::array<std::uint64_t, 32> filled() {
    std::array<std::uint64_t, 32> a{};
    a.fill(kNone);
    return a;
  }
};
