// Test support: builds payload volumes byte by byte, sound or damaged on purpose.
#pragma once

#include <cstdint>
#include <string>

#include "support/workspace.h"

namespace qmrtest {

// A fixed, recognisable last-write time (2001-02-03 04:05:06.7891234 UTC) and variations of it.
inline constexpr std::uint64_t kSampleTime = 126254943067891234ULL;

class VolumeBuilder {
 public:
  explicit VolumeBuilder(std::int32_t set_total);

  // A whole entry: the name with its NUL counted, the time, the size and the data.
  VolumeBuilder& Entry(const std::string& name, const Bytes& data, std::uint64_t time = kSampleTime);
  // An entry whose size field says `declared` whatever the data that follows.
  VolumeBuilder& EntryWithSize(const std::string& name, std::int32_t declared, const Bytes& data,
                               std::uint64_t time = kSampleTime);
  // Raw bytes, for names without their NUL and other damage.
  VolumeBuilder& Raw(const Bytes& bytes);

  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

void AppendLE32(Bytes* out, std::uint32_t value);
void AppendLE64(Bytes* out, std::uint64_t value);
Bytes LE32(std::uint32_t value);

}  // namespace qmrtest
