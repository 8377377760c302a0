// The bytes of a volume: writing entries and reading a volume back as the launcher reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pack {

using Bytes = std::vector<std::uint8_t>;

// A FILETIME (100 ns since 1601-01-01 UTC) from a POSIX time.
std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds);
// "2001-02-03T04:05:06Z": the UTC time of a FILETIME, to the second.
std::string IsoTime(std::uint64_t filetime);

void AppendLE32(Bytes* out, std::uint32_t value);

// The bytes an entry takes in a volume: length byte, name, NUL, time, size, data.
std::uint64_t EntryRecordSize(std::size_t name_bytes, std::uint64_t data_bytes);
// Appends a whole entry. The name is in the stub's code page and fits the format.
void AppendEntry(Bytes* volume, const std::string& name, std::uint64_t filetime, const Bytes& data);

// One entry of a volume as read back.
struct VolumeEntry {
  std::string name;             // the name as the launcher takes it: up to the first NUL
  bool name_terminated = true;  // the counted name bytes end with its NUL, and hold no other
  std::uint64_t filetime = 0;
  std::int32_t size = 0;
  std::size_t data_position = 0;  // where the data starts in the file
};

// A volume read as the launcher reads it: the set total, then entries until the file ends.
struct VolumeReading {
  bool has_set_total = false;
  std::int32_t set_total = 0;
  std::vector<VolumeEntry> entries;
  // Why the launcher would fail inside this volume (it ends inside an entry, or an entry
  // announces a negative size); empty when the volume is whole.
  std::string damage;
};

// No certificate table: the volume runs to the end of its file.
inline constexpr std::size_t kNoCertificateTable = static_cast<std::size_t>(-1);

// Reads the volume that starts at `start` in `file` (the payload offset for volume 1, 0 for
// the following volumes). Volume 1 of a signed launcher ends at `certificate_table`, and the
// few zero bytes that align the table are not an entry.
VolumeReading ReadVolume(const Bytes& file, std::size_t start, std::size_t certificate_table = kNoCertificateTable);

}  // namespace pack
