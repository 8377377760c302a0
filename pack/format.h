// The bytes of a volume as the packer writes them, and the times entries carry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "format/filetime.h"

namespace pack {

using Bytes = std::vector<std::uint8_t>;

// "2001-02-03T04:05:06Z": the UTC time of a FILETIME, to the second.
std::string IsoTime(std::uint64_t filetime);

void AppendLE32(Bytes* out, std::uint32_t value);

// The bytes an entry takes in a volume: length byte, name, NUL, time, size, data.
std::uint64_t EntryRecordSize(std::size_t name_bytes, std::uint64_t data_bytes);
// Appends a whole entry. The name is in the stub's code page and fits the format.
void AppendEntry(Bytes* volume, const std::string& name, std::uint64_t filetime, const Bytes& data);

}  // namespace pack
