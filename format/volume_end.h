// Where volume 1 ends in the launcher file. Signing a launcher (Authenticode) appends a
// certificate table after volume 1 and points the PE security directory at it:
//
//   signed launcher:  [ executable image | volume 1 | 0-7 zero bytes | certificate table ]
//
// Volume 1 then ends where the table begins; otherwise it runs to the end of the file. One
// rule for the launcher, which reads its own headers, and the packer, which reads them from a
// file in memory.
#pragma once

#include <cstdint>

namespace payload {

// The bytes the rule reads: the MZ header, and the PE headers at the offset the MZ header
// names, up to and including the security directory entry of a PE32+ image.
inline constexpr std::uint32_t kMzHeaderSize = 64;
inline constexpr std::uint32_t kPeHeadersSize = 176;
// Signing tools start the certificate table on this boundary, padding with zero bytes.
inline constexpr std::uint32_t kCertificateTableAlignment = 8;

// The offset of the PE headers an MZ header names, or 0 when the bytes are not an MZ header
// (the Linux launcher, a stub of the tests).
std::uint32_t PeHeadersOffset(const unsigned char* mz_header, std::uint32_t size);

// An entry of a PE image's data directories: where a part of the image lies and its size.
// The security directory (entry 4) gives a file offset and a byte count, both 0 when the image
// is not signed; the resource directory (entry 2) gives a virtual address.
struct SecurityDirectory {
  bool present = false;  // the image is a PE image whose headers hold the directory entry
  std::uint32_t offset = 0;
  std::uint32_t size = 0;
};
inline constexpr std::uint32_t kResourceDirectoryIndex = 2;
inline constexpr std::uint32_t kSecurityDirectoryIndex = 4;

// Reads data directory entry `index` from the `size` bytes of PE headers at `pe_headers`
// ("PE\0\0", the file header, the optional header of a PE32 or PE32+ image). Not present when
// the bytes are no such headers or the optional header has no entry for it.
SecurityDirectory ReadDataDirectory(const unsigned char* pe_headers, std::uint32_t size, std::uint32_t index);
inline SecurityDirectory ReadSecurityDirectory(const unsigned char* pe_headers, std::uint32_t size) {
  return ReadDataDirectory(pe_headers, size, kSecurityDirectoryIndex);
}

enum class VolumeEndKind {
  kFileEnd,           // not signed: volume 1 runs to the end of the file
  kCertificateTable,  // signed: volume 1 ends where the certificate table begins
  // The security directory lies, and the set counts as damaged:
  kTableEmpty,        // an offset with a size of 0
  kTableInImage,      // the table would start before volume 1's set total has ended
  kTableUnaligned,    // the table does not start on the signing tools' 8-byte boundary
  kTablePastFileEnd,  // the table would run past the end of the file
  kTableNotAtFileEnd, // bytes follow the table (it points into the payload)
};

struct VolumeEnd {
  VolumeEndKind kind = VolumeEndKind::kFileEnd;
  std::uint64_t end = 0;  // where volume 1 ends: the file's size or the table's offset
  SecurityDirectory table;
  bool damaged() const { return kind != VolumeEndKind::kFileEnd && kind != VolumeEndKind::kCertificateTable; }
};

// Where volume 1, starting at `payload_offset` in a file of `file_size` bytes, ends, given the
// file's security directory (not present for a file that is no PE image).
VolumeEnd FirstVolumeEnd(const SecurityDirectory& directory, std::uint32_t payload_offset, std::uint64_t file_size);

// True when the `count` bytes that remain of a volume at a name-length byte are the signing
// tool's alignment before the certificate table rather than an entry: fewer than 8, all zero.
bool IsCertificateTablePadding(const unsigned char* rest, std::uint32_t count);

}  // namespace payload
