// The set format, shared by the launcher and the packer.
//
//   launcher file:  [ executable image | volume 1 ]      resource 104 = where volume 1 starts
//   Disk2, Disk3:   [ volume n ]                         whole files beside the launcher
//   volume:         [ set total (4) | entry | entry | ... ]   up to the end of its file, or,
//                                        for volume 1 of a signed launcher, its certificate
//                                        table (format/volume_end.h)
//   entry:          [ name length (1) | name, NUL counted | FILETIME (8) | data size (4) | data ]
//
// All integers are little-endian; the set total and the data size are signed 32-bit.
#pragma once

#include <cstdint>

#include "format/resource_ids.h"

namespace payload {

// Resource type of the two custom resources, and their ids.
inline constexpr char kResourceType[] = "CUSTOMDATA";
inline constexpr int kOffsetResourceId = IDR_PAYLOAD_OFFSET;   // 4 bytes: file offset of volume 1 (signed, LE)
inline constexpr int kVersionResourceId = IDR_VERSION;  // 16 bytes: NUL-terminated version text
inline constexpr int kOffsetResourceSize = 4;
inline constexpr int kVersionResourceSize = 16;
// The value of resource 104 in a stub no set has been appended to: a seek to it always fails.
inline constexpr std::uint32_t kUnstampedOffset = 0xFFFFFFFFu;

// On Linux the two custom resources live in one record in a section of the launcher's ELF
// file: the tag, the payload offset (resource 104), then the version text (resource 105).
inline constexpr char kElfSectionName[] = ".qmrrsrc";
inline constexpr char kElfRecordTag[8] = {'Q', 'M', 'R', 'R', 'S', 'R', 'C', '1'};
inline constexpr int kElfRecordOffsetField = 8;
inline constexpr int kElfRecordVersionField = 12;
inline constexpr int kElfRecordSize = 28;

// Every volume starts with the set's total data bytes (signed 32-bit LE), also its identifier.
inline constexpr int kSetTotalSize = 4;
// An entry: name length (1 byte, counting the name's NUL), name, last-write time (FILETIME,
// 8 bytes), data size (signed 32-bit LE), data.
inline constexpr int kNameLengthSize = 1;
inline constexpr int kMaxNameLength = 255;
inline constexpr int kFileTimeSize = 8;
inline constexpr int kDataSizeSize = 4;

// Following volumes lie beside the launcher: Disk2, Disk3, ...
inline constexpr char kVolumeNameFormat[] = "Disk%d";

// The setup files every set carries, compressed, and the names they are expanded to.
inline constexpr char kSetupInfoCompressed[] = "qmrsetup.in_";
inline constexpr char kSetupInfoExpanded[] = "qmrsetup.inf";
inline constexpr char kSetupProgramCompressed[] = "qmrsetup.ex_";
inline constexpr char kSetupProgramExpanded[] = "qmrsetup.exe";

// The account presets: read from the presets file beside the launcher, written into the
// expanded setup information file.
inline constexpr char kPresetsSection[] = "Account";
inline constexpr char kPop3Key[] = "POP3Server";
inline constexpr char kSmtpKey[] = "SMTPServer";
// The presets file's name; it lies in the launcher's own directory.
inline constexpr char kPresetsFileName[] = "qmrpresets.ini";

// Sizes the launcher works with: every text and path, the clean-up list, one copy chunk.
inline constexpr int kTextSize = 260;
inline constexpr int kCleanupListSize = 8192;
inline constexpr int kCopyChunkSize = 16384;

}  // namespace payload
