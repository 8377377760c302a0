// The bytes of a volume, written with the constants of the shared payload format.
#include "pack/format.h"

#include <cstdio>

#include "format/layout.h"

namespace pack {

std::string IsoTime(std::uint64_t filetime) {
  // Computed here rather than by the C library, whose gmtime differs between systems (and
  // on Windows refuses times before 1970): days since 1970 to the proleptic Gregorian date.
  const long long seconds = static_cast<long long>(filetime / payload::kFileTimeTicksPerSecond) - payload::kFileTimeEpochSeconds;
  const long long day_seconds = 86400;
  long long days = seconds / day_seconds, in_day = seconds % day_seconds;
  if (in_day < 0) in_day += day_seconds, --days;
  // Howard Hinnant's civil_from_days, in 400-year eras starting on 1 March.
  const long long z = days + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long day_of_era = z - era * 146097;
  const long long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const long long month_index = (5 * day_of_year + 2) / 153;
  const long long day = day_of_year - (153 * month_index + 2) / 5 + 1;
  const long long month = month_index < 10 ? month_index + 3 : month_index - 9;
  const long long year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  char text[96];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ", year, month, day, in_day / 3600,
                in_day / 60 % 60, in_day % 60);
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

}  // namespace pack
