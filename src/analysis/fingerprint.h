// Message fingerprints: the MD4 digest (RFC 1320) of a text as 32 lower-case
// hexadecimal digits. Stored in the logs as the duplicate key, so fixed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace varnox {

constexpr std::size_t kFingerprintSize = 33;  // 32 digits and the terminator

// Incremental MD4.
class Md4 {
 public:
  Md4();
  ~Md4();  // clears the working state
  Md4(const Md4&) = delete;
  Md4& operator=(const Md4&) = delete;
  void Update(const void* data, std::size_t size);
  std::array<std::uint8_t, 16> Finish();

 private:
  void Block(const std::uint8_t* p);
  std::uint32_t state_[4];
  std::uint64_t length_ = 0;  // bytes fed so far
  std::uint8_t buffer_[64];
  std::size_t buffered_ = 0;
};

// Fingerprint of the NUL-terminated text into out (at least 33 bytes).
void MessageFingerprint(const char* text, char* out);

// Fingerprint of exactly these bytes.
std::string Fingerprint(std::string_view bytes);

}  // namespace varnox
