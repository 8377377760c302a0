// Launcher stubs: the PE resource directory and the ELF resource record, read and stamped.
#include "pack/stub.h"

#include <algorithm>
#include <cstring>

#include "format/layout.h"
#include "format/little_endian.h"

namespace pack {

namespace {

// Little-endian values at a file position the caller has checked with Fits.
std::uint16_t U16(const std::vector<std::uint8_t>& f, std::size_t at) { return payload::ReadLE16(&f[at]); }
std::uint32_t U32(const std::vector<std::uint8_t>& f, std::size_t at) { return payload::ReadLE32(&f[at]); }
std::uint64_t U64(const std::vector<std::uint8_t>& f, std::size_t at) { return payload::ReadLE64(&f[at]); }
bool Fits(const std::vector<std::uint8_t>& f, std::uint64_t at, std::uint64_t size) {
  return at <= f.size() && size <= f.size() - at;
}

// The text of `size` bytes at `at`, up to its first NUL.
std::string TextOf(const std::vector<std::uint8_t>& f, std::size_t at, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(&f[at]);
  return std::string(text, strnlen(text, size));
}

// ---- PE ----

struct PeSection {
  std::uint32_t virtual_address, virtual_size, raw_offset, raw_size;
};

struct PeImage {
  std::vector<PeSection> sections;
  std::uint32_t resource_rva = 0;
  payload::SecurityDirectory security;
  std::size_t image_end = 0;
};

bool ParsePe(const std::vector<std::uint8_t>& f, PeImage* pe, std::string* error) {
  if (!Fits(f, 0, 64) || !StartsWith(f, kPeMagic)) return *error = "not a Windows or Linux executable", false;
  const std::uint32_t nt = U32(f, 60);
  if (!Fits(f, nt, 24) || std::memcmp(&f[nt], "PE\0\0", 4) != 0) return *error = "not a PE executable", false;
  const std::uint16_t section_count = U16(f, nt + 6), optional_size = U16(f, nt + 20);
  const std::size_t optional = nt + 24;
  if (!Fits(f, optional, optional_size) || optional_size < 2) return *error = "truncated PE header", false;
  // The data directories by the rule the launcher reads its own security directory with.
  const auto headers_size = static_cast<std::uint32_t>(optional_size + 24u);
  const payload::SecurityDirectory resources = payload::ReadDataDirectory(&f[nt], headers_size, payload::kResourceDirectoryIndex);
  if (!resources.present) return *error = "PE without a resource directory", false;
  pe->resource_rva = resources.offset;
  pe->security = payload::ReadSecurityDirectory(&f[nt], headers_size);
  const std::size_t table = optional + optional_size;
  if (!Fits(f, table, section_count * 40ull)) return *error = "truncated PE section table", false;
  for (std::uint16_t i = 0; i < section_count; ++i) {
    const std::size_t s = table + i * 40u;
    const PeSection& section =
        pe->sections.emplace_back(PeSection{U32(f, s + 12), U32(f, s + 8), U32(f, s + 20), U32(f, s + 16)});
    if (section.raw_size != 0)
      pe->image_end = std::max(pe->image_end, static_cast<std::size_t>(section.raw_offset) + section.raw_size);
  }
  return true;
}

// The file position of an RVA, or 0 when no section holds it.
std::size_t PeOffset(const PeImage& pe, std::uint32_t rva) {
  for (const PeSection& s : pe.sections) {
    const std::uint32_t size = s.raw_size > s.virtual_size && s.virtual_size != 0 ? s.virtual_size : s.raw_size;
    if (rva >= s.virtual_address && rva - s.virtual_address < size) return s.raw_offset + (rva - s.virtual_address);
  }
  return 0;
}

// Finds the entry named `name` (a string when it starts with a letter, else an id) in the
// resource directory at `directory` (an offset within the resource section).
bool FindPeEntry(const std::vector<std::uint8_t>& f, std::size_t base, std::size_t directory, const char* name,
                 int id, std::uint32_t* target) {
  if (!Fits(f, base + directory, 16)) return false;
  const std::size_t count = static_cast<std::size_t>(U16(f, base + directory + 12)) + U16(f, base + directory + 14);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t e = base + directory + 16 + i * 8;
    if (!Fits(f, e, 8)) return false;
    const std::uint32_t key = U32(f, e);
    const bool named = (key & 0x80000000u) != 0;  // the key points at the entry's name; else it is its id
    bool match = name == nullptr ? !named && (id < 0 || static_cast<int>(key) == id) : named;
    if (match && name != nullptr) {
      const std::size_t s = base + (key & 0x7FFFFFFFu);
      if (!Fits(f, s, 2)) return false;
      const std::size_t length = U16(f, s);
      match = length == std::strlen(name) && Fits(f, s + 2, length * 2);
      for (std::size_t c = 0; c < length && match; ++c)
        match = U16(f, s + 2 + c * 2) == static_cast<unsigned char>(name[c]);
    }
    if (match) {
      *target = U32(f, e + 4);
      return true;
    }
  }
  return false;
}

// The file position and size of resource CUSTOMDATA `id` (its first language).
bool FindPeResource(const std::vector<std::uint8_t>& f, const PeImage& pe, int id, std::size_t* position,
                    std::uint32_t* size) {
  const std::size_t base = PeOffset(pe, pe.resource_rva);
  if (base == 0) return false;
  std::uint32_t types, names, languages;
  if (!FindPeEntry(f, base, 0, payload::kResourceType, 0, &types) || !(types & 0x80000000u)) return false;
  if (!FindPeEntry(f, base, types & 0x7FFFFFFFu, nullptr, id, &names) || !(names & 0x80000000u)) return false;
  if (!FindPeEntry(f, base, names & 0x7FFFFFFFu, nullptr, -1, &languages) || (languages & 0x80000000u)) return false;
  if (!Fits(f, base + languages, 16)) return false;
  *position = PeOffset(pe, U32(f, base + languages));
  *size = U32(f, base + languages + 4);
  return *position != 0 && Fits(f, *position, *size);
}

bool InspectPe(const std::vector<std::uint8_t>& f, StubInfo* info, std::string* error) {
  PeImage pe;
  if (!ParsePe(f, &pe, error)) return false;
  std::uint32_t offset_size = 0, version_size = 0;
  if (!FindPeResource(f, pe, payload::kOffsetResourceId, &info->offset_position, &offset_size) ||
      offset_size < payload::kOffsetResourceSize)
    return *error = "not a launcher: no payload-offset resource (CUSTOMDATA 104)", false;
  if (!FindPeResource(f, pe, payload::kVersionResourceId, &info->version_position, &version_size) ||
      version_size < payload::kVersionResourceSize)
    return *error = "not a launcher: no version resource (CUSTOMDATA 105)", false;
  info->kind = StubKind::kWindows;
  info->image_size = pe.image_end;
  info->security = pe.security;
  return true;
}

// ---- ELF ----

bool InspectElf(const std::vector<std::uint8_t>& f, StubInfo* info, std::string* error) {
  if (!Fits(f, 0, 64) || f[4] != 2 || f[5] != 1) return *error = "not a 64-bit little-endian ELF executable", false;
  const std::uint64_t table = U64(f, 0x28);
  const std::uint16_t entry_size = U16(f, 0x3A), count = U16(f, 0x3C), names_index = U16(f, 0x3E);
  if (entry_size < 64 || names_index >= count || !Fits(f, table, static_cast<std::uint64_t>(count) * entry_size))
    return *error = "ELF without a readable section table", false;
  const std::size_t names_header = table + static_cast<std::size_t>(names_index) * entry_size;
  const std::uint64_t names = U64(f, names_header + 0x18), names_size = U64(f, names_header + 0x20);
  if (!Fits(f, names, names_size)) return *error = "ELF with a damaged section-name table", false;
  std::size_t end = table + static_cast<std::size_t>(count) * entry_size;
  bool found = false;
  for (std::uint16_t i = 0; i < count; ++i) {
    const std::size_t h = table + static_cast<std::size_t>(i) * entry_size;
    const std::uint32_t name = U32(f, h), type = U32(f, h + 4);
    const std::uint64_t offset = U64(f, h + 0x18), size = U64(f, h + 0x20);
    if (type != 8 /* SHT_NOBITS */ && Fits(f, offset, size) && offset + size > end) end = offset + size;
    if (name >= names_size || TextOf(f, names + name, names_size - name) != payload::kElfSectionName) continue;
    if (size < payload::kElfRecordSize || !Fits(f, offset, payload::kElfRecordSize) ||
        std::memcmp(&f[offset], payload::kElfRecordTag, sizeof payload::kElfRecordTag) != 0)
      return *error = "not a launcher: its resource record is damaged", false;
    info->offset_position = offset + payload::kElfRecordOffsetField;
    info->version_position = offset + payload::kElfRecordVersionField;
    found = true;
  }
  if (!found) return *error = std::string("not a launcher: no resource record (section ") + payload::kElfSectionName + ")", false;
  info->kind = StubKind::kLinux;
  info->image_size = end;
  return true;
}

}  // namespace

bool InspectStub(const std::vector<std::uint8_t>& file, StubInfo* info, std::string* error) {
  *info = StubInfo();
  if (!(StartsWith(file, kElfMagic) ? InspectElf(file, info, error) : InspectPe(file, info, error))) return false;
  info->payload_offset = U32(file, info->offset_position);
  info->version = TextOf(file, info->version_position, payload::kVersionResourceSize);
  return true;
}

bool StampStub(std::vector<std::uint8_t>* file, std::uint32_t payload_offset, const std::string& version,
               std::string* error) {
  if (version.size() > payload::kVersionResourceSize - 1) return *error = "version text longer than 15 bytes", false;
  StubInfo info;
  if (!InspectStub(*file, &info, error)) return false;
  payload::WriteLE32(&(*file)[info.offset_position], payload_offset);
  const auto field = file->begin() + static_cast<std::ptrdiff_t>(info.version_position);
  std::fill_n(std::copy(version.begin(), version.end(), field), payload::kVersionResourceSize - version.size(), 0);
  return true;
}

}  // namespace pack
