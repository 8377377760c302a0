// The one little-endian reader and writer of the set format and the executables it lives in.
#pragma once

#include <cstdint>

namespace payload {

inline std::uint16_t ReadLE16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t ReadLE32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint64_t ReadLE64(const unsigned char* p) {
  return static_cast<std::uint64_t>(ReadLE32(p)) | static_cast<std::uint64_t>(ReadLE32(p + 4)) << 32;
}

inline void WriteLE32(unsigned char* p, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace payload
