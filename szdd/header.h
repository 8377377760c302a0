// The SZDD container header: the 14 bytes that start every file of the classic compress format.
#pragma once

#include <cstddef>
#include <cstdint>

namespace szdd {

// "SZDD" followed by the four signature bytes 88 F0 27 33.
inline constexpr std::uint8_t kSignature[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};
inline constexpr std::size_t kHeaderSize = 14;
// The only compression method of the format: LZSS over a 4096-byte window.
inline constexpr std::uint8_t kModeLzss = 'A';

struct Header {
  std::uint8_t mode = kModeLzss;
  // The character that the trailing underscore of the compressed name stands for, or 0.
  std::uint8_t missing_char = 0;
  // Length of the expanded data, as the header announces it.
  std::uint32_t expanded_length = 0;
};

// True when the bytes start with the SZDD signature (the mode is not checked).
inline bool HasSignature(const void* bytes, std::size_t size) {
  if (size < sizeof kSignature) return false;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  for (std::size_t i = 0; i < sizeof kSignature; ++i)
    if (p[i] != kSignature[i]) return false;
  return true;
}

// Parses a header. Returns false when fewer than 14 bytes are given or the signature is absent.
inline bool ParseHeader(const void* bytes, std::size_t size, Header* out) {
  if (size < kHeaderSize || !HasSignature(bytes, size)) return false;
  const auto* p = static_cast<const std::uint8_t*>(bytes);
  out->mode = p[8];
  out->missing_char = p[9];
  out->expanded_length = static_cast<std::uint32_t>(p[10]) | static_cast<std::uint32_t>(p[11]) << 8 |
                         static_cast<std::uint32_t>(p[12]) << 16 | static_cast<std::uint32_t>(p[13]) << 24;
  return true;
}

inline void WriteHeader(const Header& header, std::uint8_t out[kHeaderSize]) {
  for (std::size_t i = 0; i < sizeof kSignature; ++i) out[i] = kSignature[i];
  out[8] = header.mode;
  out[9] = header.missing_char;
  for (int i = 0; i < 4; ++i) out[10 + i] = static_cast<std::uint8_t>(header.expanded_length >> (8 * i));
}

}  // namespace szdd
