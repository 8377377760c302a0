// The bytes of a volume, written and read with the constants of the shared payload format.
#include "pack/format.h"

#include <algorithm>
#include <cstdio>

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
  // Computed here rather than by the C library, whose gmtime differs between systems (and
  // on Windows refuses times before 1970): days since 1970 to the proleptic Gregorian date.
  const std::int64_t seconds = static_cast<std::int64_t>(filetime / kTicksPerSecond) - kUnixEpochTicks / kTicksPerSecond;
  const std::int64_t day_seconds = 86400;
  std::int64_t days = seconds / day_seconds, in_day = seconds % day_seconds;
  if (in_day < 0) in_day += day_seconds, --days;
  // Howard Hinnant's civil_from_days, in 400-year eras starting on 1 March.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t day_of_era = z - era * 146097;
  const std::int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_index = (5 * day_of_year + 2) / 153;
  const std::int64_t day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const std::int64_t month = month_index < 10 ? month_index + 3 : month_index - 9;
  const std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(in_day / 3600),
                static_cast<long long>(in_day / 60 % 60), static_cast<long long>(in_day % 60));
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
