// Launcher stubs: recognising a Windows (PE) or Linux (ELF) launcher, reading and stamping its
// two custom resources (the payload offset, 104, and the version text, 105) in place, in the
// file's real resources: the PE resource directory, or the ELF section of the resource record.
#pragma once

#include <cstdint>
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "format/volume_end.h"

namespace pack {

enum class StubKind { kWindows, kLinux };

// The first bytes of a Windows executable ("MZ") and of an ELF one.
inline constexpr std::string_view kPeMagic = "MZ";
inline constexpr std::string_view kElfMagic = "\x7F" "ELF";
inline bool StartsWith(const std::vector<std::uint8_t>& bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

struct StubInfo {
  StubKind kind = StubKind::kWindows;
  std::uint32_t payload_offset = 0;     // the stamped value of resource 104
  std::string version;                  // resource 105 up to its NUL
  std::size_t offset_position = 0;      // file positions of the two resources' bytes
  std::size_t version_position = 0;
  std::size_t image_size = 0;           // where the executable image ends: its last section's end
  // A Windows launcher's security directory: where a signing tool put the certificate table.
  payload::SecurityDirectory security;
};

// Reads a launcher's resources. Returns false, with a one-line reason, for a file that is not
// a launcher (not PE or ELF, or without the two resources of their sizes).
bool InspectStub(const std::vector<std::uint8_t>& file, StubInfo* info, std::string* error);

// Stamps the payload offset and the version text (at most 15 bytes, NUL-padded) into a launcher.
// Returns false, with a one-line reason, when the file is not a launcher or the version is too long.
bool StampStub(std::vector<std::uint8_t>* file, std::uint32_t payload_offset, const std::string& version,
               std::string* error);

}  // namespace pack
