// The bytes of a volume, written and read with the constants of the shared payload format.
#include "pack/format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "format/layout.h"
#include "format/little_endian.h"
#include "format/volume_end.h"

namespace pack {

namespace {

// FILETIME ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;
constexpr std::int64_t kTicksPerSecond = 10000000;

}  // namespace

std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds) {
  const std::int64_t ticks = seconds * kTicksPerSecond + nanoseconds / 100 + kUnixEpochTicks;
  return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

std::string IsoTime(std::uint64_t filetime) {
  const std::int64_t seconds =
      static_cast<std::int64_t>(filetime / kTicksPerSecond) - kUnixEpochTicks / kTicksPerSecond;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc = {};
  if (gmtime_r(&t, &utc) == nullptr) return "?";
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

void AppendLE32(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

std::uint64_t EntryRecordSize(std::size_t name_bytes, std::uint64_t data_bytes) {
  return payload::kNameLengthSize + name_bytes + 1 + payload::kFileTimeSize + payload::kDataSizeSize + data_bytes;
}

void AppendEntry(Bytes* volume, const std::string& name, std::uint64_t filetime, const Bytes& data) {
  volume->push_back(static_cast<std::uint8_t>(name.size() + 1));
  volume->insert(volume->end(), name.begin(), name.end());
  volume->push_back(0);
  AppendLE32(volume, static_cast<std::uint32_t>(filetime));
  AppendLE32(volume, static_cast<std::uint32_t>(filetime >> 32));
  AppendLE32(volume, static_cast<std::uint32_t>(data.size()));
  volume->insert(volume->end(), data.begin(), data.end());
}

VolumeReading ReadVolume(const Bytes& file, std::size_t start, std::size_t certificate_table) {
  VolumeReading reading;
  const std::size_t end = std::min(certificate_table, file.size());
  if (start > end || end - start < payload::kSetTotalSize) {
    reading.damage = "the volume ends before its set total";
    return reading;
  }
  reading.has_set_total = true;
  reading.set_total = static_cast<std::int32_t>(payload::ReadLE32(&file[start]));
  std::size_t at = start + payload::kSetTotalSize;
  // A volume ends where a name length byte can no longer be read, or where only the alignment
  // before a certificate table is left.
  while (at < end) {
    const std::size_t left = std::min<std::size_t>(end - at, payload::kCertificateTableAlignment);
    if (certificate_table != kNoCertificateTable &&
        payload::IsCertificateTablePadding(&file[at], static_cast<std::uint32_t>(left)))
      break;
    const std::size_t number = reading.entries.size() + 1;
    const std::size_t name_length = file[at];
    const std::size_t fixed = payload::kNameLengthSize + name_length + payload::kFileTimeSize + payload::kDataSizeSize;
    if (end - at < fixed) {
      reading.damage = "the volume ends inside the header of entry " + std::to_string(number) + " (" +
                       std::to_string(end - at) + " of " + std::to_string(fixed) + " bytes)";
      return reading;
    }
    VolumeEntry entry;
    const auto* name = reinterpret_cast<const char*>(&file[at + 1]);
    std::size_t name_end = 0;
    while (name_end < name_length && name[name_end] != '\0') ++name_end;
    entry.name.assign(name, name_end);
    entry.name_terminated = name_length > 0 && name_end == name_length - 1;
    const std::size_t time_at = at + 1 + name_length;
    entry.filetime = payload::ReadLE64(&file[time_at]);
    entry.size = static_cast<std::int32_t>(payload::ReadLE32(&file[time_at + payload::kFileTimeSize]));
    entry.data_position = at + fixed;
    if (entry.size < 0) {
      reading.entries.push_back(entry);
      reading.damage = "entry " + std::to_string(number) + " announces a negative size (" +
                       std::to_string(entry.size) + ")";
      return reading;
    }
    const std::size_t size = static_cast<std::size_t>(entry.size);
    if (end - entry.data_position < size) {
      reading.entries.push_back(entry);
      reading.damage = "the volume ends inside the data of entry " + std::to_string(number) + " (" +
                       std::to_string(end - entry.data_position) + " of " + std::to_string(size) + " bytes)";
      return reading;
    }
    reading.entries.push_back(entry);
    at = entry.data_position + size;
  }
  return reading;
}

}  // namespace pack
