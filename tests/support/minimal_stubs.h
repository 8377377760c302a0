// Test support: the smallest launcher stubs the packer takes, made in memory: a Linux ELF
// file and a Windows PE image, each unstamped, with version 1.13a. Real launchers would do,
// but their size and layout change with every build.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "format/layout.h"

namespace qmrtest {

inline void Put16(std::vector<std::uint8_t>* f, std::size_t at, std::uint16_t v) {
  for (int i = 0; i < 2; ++i) (*f)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put32(std::vector<std::uint8_t>* f, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) (*f)[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(std::vector<std::uint8_t>* f, std::size_t at, std::uint64_t v) {
  Put32(f, at, static_cast<std::uint32_t>(v));
  Put32(f, at + 4, static_cast<std::uint32_t>(v >> 32));
}

// A minimal Linux stub: an ELF header, the section-name table, `code` bytes of a code section
// and the resource record, unstamped, with version 1.13a.
inline std::vector<std::uint8_t> ElfStub(std::size_t code = 0) {
  const std::string names = std::string("\0.shstrtab\0.qmrrsrc\0.text\0", 26);
  const std::size_t names_at = 64, record_at = 96, code_at = 128, table_at = code_at + code;
  std::vector<std::uint8_t> f(table_at + 4 * 64);
  f[0] = 0x7F, f[1] = 'E', f[2] = 'L', f[3] = 'F', f[4] = 2, f[5] = 1;
  Put64(&f, 0x28, table_at);
  Put16(&f, 0x3A, 64), Put16(&f, 0x3C, 4), Put16(&f, 0x3E, 1);
  std::copy(names.begin(), names.end(), f.begin() + names_at);
  std::copy(payload::kElfRecordTag, payload::kElfRecordTag + 8, f.begin() + record_at);
  Put32(&f, record_at + 8, payload::kUnstampedOffset);
  std::memcpy(&f[record_at + 12], "1.13a", 5);
  auto section = [&](int i, std::uint32_t name, std::uint32_t type, std::uint64_t at, std::uint64_t size) {
    const std::size_t h = table_at + 64 * static_cast<std::size_t>(i);
    Put32(&f, h, name), Put32(&f, h + 4, type), Put64(&f, h + 0x18, at), Put64(&f, h + 0x20, size);
  };
  section(1, 1, 3, names_at, names.size());
  section(2, 11, 1, record_at, payload::kElfRecordSize);
  section(3, 20, 1, code_at, code);
  return f;
}

// A minimal Windows stub: a PE32+ image whose one section holds the resource directory with
// CUSTOMDATA 104 (FF FF FF FF) and 105 ("1.13a").
inline std::vector<std::uint8_t> PeStub() {
  std::vector<std::uint8_t> f(1024);
  f[0] = 'M', f[1] = 'Z';
  Put32(&f, 60, 64);
  std::memcpy(&f[64], "PE\0\0", 4);
  const std::size_t optional = 64 + 24, section_table = optional + 240, base = 512;
  Put16(&f, 64 + 6, 1), Put16(&f, 64 + 20, 240), Put16(&f, optional, 0x20B);
  Put32(&f, optional + 108, 16);
  Put32(&f, optional + 112 + 16, 0x1000), Put32(&f, optional + 112 + 20, 180);
  std::memcpy(&f[section_table], ".rsrc", 5);
  Put32(&f, section_table + 8, 180), Put32(&f, section_table + 12, 0x1000);
  Put32(&f, section_table + 16, 512), Put32(&f, section_table + 20, base);
  auto directory = [&](std::size_t at, int named, int ids) { Put16(&f, base + at + 12, named), Put16(&f, base + at + 14, ids); };
  auto entry = [&](std::size_t at, std::uint32_t key, std::uint32_t target) { Put32(&f, base + at, key), Put32(&f, base + at + 4, target); };
  directory(0, 1, 0), entry(16, 0x80000000u | 136, 0x80000000u | 24);
  directory(24, 0, 2), entry(40, 104, 0x80000000u | 56), entry(48, 105, 0x80000000u | 80);
  directory(56, 0, 1), entry(72, 0x411, 104);
  directory(80, 0, 1), entry(96, 0x411, 120);
  Put32(&f, base + 104, 0x1000 + 160), Put32(&f, base + 108, 4);
  Put32(&f, base + 120, 0x1000 + 164), Put32(&f, base + 124, 16);
  Put16(&f, base + 136, 10);
  for (int i = 0; i < 10; ++i)
    Put16(&f, base + 138 + 2 * static_cast<std::size_t>(i), static_cast<std::uint16_t>(payload::kResourceType[i]));
  Put32(&f, base + 160, payload::kUnstampedOffset);
  std::memcpy(&f[base + 164], "1.13a", 5);
  return f;
}

// Where a PE image's security directory entry lies: data directory 4 of its optional header
// (PE32 or PE32+).
inline std::size_t SecurityDirectoryEntry(const std::vector<std::uint8_t>& f) {
  const std::size_t optional = (f[60] | f[61] << 8 | f[62] << 16) + 24;
  const bool pe32_plus = (f[optional] | f[optional + 1] << 8) == 0x20B;
  return optional + (pe32_plus ? 112 : 96) + 4 * 8;
}

// Points a PE image's security directory at a certificate table.
inline void SetSecurityDirectory(std::vector<std::uint8_t>* f, std::uint32_t offset, std::uint32_t size) {
  const std::size_t entry = SecurityDirectoryEntry(*f);
  Put32(f, entry, offset);
  Put32(f, entry + 4, size);
}

// The offset and size a PE image's security directory names.
inline std::pair<std::uint32_t, std::uint32_t> SecurityDirectoryOf(const std::vector<std::uint8_t>& f) {
  const std::size_t entry = SecurityDirectoryEntry(f);
  auto at = [&](std::size_t i) {
    return static_cast<std::uint32_t>(f[i] | f[i + 1] << 8 | f[i + 2] << 16) | static_cast<std::uint32_t>(f[i + 3]) << 24;
  };
  return {at(entry), at(entry + 4)};
}

// Signs a file made from the minimal PE stub as a signing tool does: zero bytes up to the next
// 8-byte boundary, then a certificate table of `table_size` bytes (a WIN_CERTIFICATE header
// and filler) that the security directory names. Returns the table's offset.
inline std::size_t SignLikeATool(std::vector<std::uint8_t>* f, std::uint32_t table_size = 64) {
  f->resize((f->size() + 7) / 8 * 8, 0);
  const std::size_t at = f->size();
  f->resize(at + table_size, 0xA5);
  Put32(f, at, table_size);
  Put16(f, at + 4, 0x0200);  // revision 2.0
  Put16(f, at + 6, 0x0002);  // PKCS#7 signed data
  SetSecurityDirectory(f, static_cast<std::uint32_t>(at), table_size);
  return at;
}

}  // namespace qmrtest
