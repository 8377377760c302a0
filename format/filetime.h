// FILETIME, the time stamp of the set's entries: 100-nanosecond ticks since 1601-01-01 UTC, and
// its one conversion from and to the Unix epoch.
#pragma once

#include <cstdint>

namespace payload {

inline constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;
// Seconds from 1601-01-01 to 1970-01-01, and the same span in ticks.
inline constexpr std::int64_t kFileTimeEpochSeconds = 11644473600LL;
inline constexpr std::int64_t kFileTimeEpochTicks = kFileTimeEpochSeconds * kFileTimeTicksPerSecond;

// The FILETIME of a Unix time; 0 (no time) for a time before 1601.
constexpr std::uint64_t FileTimeFromUnix(std::int64_t seconds, std::int64_t nanoseconds = 0) {
  const std::int64_t ticks = seconds * kFileTimeTicksPerSecond + nanoseconds / 100 + kFileTimeEpochTicks;
  return ticks < 0 ? 0 : static_cast<std::uint64_t>(ticks);
}

// The Unix time of a FILETIME of at most INT64_MAX ticks: whole seconds (rounded towards 1601)
// and the nanoseconds within them. Divided before the epoch is taken off, so that every such
// count stays in range.
struct UnixTime {
  std::int64_t seconds;
  std::int64_t nanoseconds;
};
constexpr UnixTime UnixFromFileTime(std::uint64_t filetime) {
  const auto ticks = static_cast<std::int64_t>(filetime);
  return {ticks / kFileTimeTicksPerSecond - kFileTimeEpochSeconds, ticks % kFileTimeTicksPerSecond * 100};
}

}  // namespace payload
