// Where volume 1 ends: after the payload, at the certificate table a signing tool appended.
#include "format/volume_end.h"

#include "format/layout.h"
#include "format/little_endian.h"

namespace payload {

namespace {

constexpr std::uint32_t kPeHeadersOffsetField = 60;    // e_lfanew
constexpr std::uint32_t kOptionalHeaderStart = 24;     // "PE\0\0" and the 20-byte file header
constexpr std::uint32_t kOptionalHeaderSizeField = 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kDirectoryEntrySize = 8;

}  // namespace

std::uint32_t PeHeadersOffset(const unsigned char* mz_header, std::uint32_t size) {
  if (size < kMzHeaderSize || mz_header[0] != 'M' || mz_header[1] != 'Z') return 0;
  return ReadLE32(mz_header + kPeHeadersOffsetField);
}

SecurityDirectory ReadDataDirectory(const unsigned char* pe_headers, std::uint32_t size, std::uint32_t index) {
  SecurityDirectory directory;
  if (size < kOptionalHeaderStart + 2 || pe_headers[0] != 'P' || pe_headers[1] != 'E' || pe_headers[2] != 0 ||
      pe_headers[3] != 0)
    return directory;
  const std::uint32_t optional_size = ReadLE16(pe_headers + kOptionalHeaderSizeField);
  const std::uint16_t magic = ReadLE16(pe_headers + kOptionalHeaderStart);
  if (magic != kPe32Magic && magic != kPe32PlusMagic) return directory;
  // The data directories follow the optional header's fixed part, which is longer for PE32+.
  const std::uint32_t count_field = magic == kPe32PlusMagic ? 108 : 92;
  const std::uint32_t entry = (magic == kPe32PlusMagic ? 112 : 96) + index * kDirectoryEntrySize;
  if (optional_size < entry + kDirectoryEntrySize || size < kOptionalHeaderStart + entry + kDirectoryEntrySize)
    return directory;
  if (ReadLE32(pe_headers + kOptionalHeaderStart + count_field) <= index) return directory;
  directory.present = true;
  directory.offset = ReadLE32(pe_headers + kOptionalHeaderStart + entry);
  directory.size = ReadLE32(pe_headers + kOptionalHeaderStart + entry + 4);
  return directory;
}

VolumeEnd FirstVolumeEnd(const SecurityDirectory& directory, std::uint32_t payload_offset, std::uint64_t file_size) {
  VolumeEnd result;
  result.table = directory;
  result.end = file_size;
  if (!directory.present || (directory.offset == 0 && directory.size == 0)) return result;
  const std::uint64_t table_end = static_cast<std::uint64_t>(directory.offset) + directory.size;
  if (directory.size == 0)
    result.kind = VolumeEndKind::kTableEmpty;
  else if (directory.offset < static_cast<std::uint64_t>(payload_offset) + kSetTotalSize)
    result.kind = VolumeEndKind::kTableInImage;
  else if (directory.offset % kCertificateTableAlignment != 0)
    result.kind = VolumeEndKind::kTableUnaligned;
  else if (table_end > file_size)
    result.kind = VolumeEndKind::kTablePastFileEnd;
  else if (table_end < file_size)
    result.kind = VolumeEndKind::kTableNotAtFileEnd;
  else
    result.kind = VolumeEndKind::kCertificateTable;
  if (result.kind == VolumeEndKind::kCertificateTable) result.end = directory.offset;
  return result;
}

bool IsCertificateTablePadding(const unsigned char* rest, std::uint32_t count) {
  if (count >= kCertificateTableAlignment) return false;
  for (std::uint32_t i = 0; i < count; ++i)
    if (rest[i] != 0) return false;
  return true;
}

}  // namespace payload
