// Test support: payload volumes built byte by byte.
#include "support/set_builder.h"

namespace qmrtest {

void AppendLE32(Bytes* out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void AppendLE64(Bytes* out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

Bytes LE32(std::uint32_t value) {
  Bytes out;
  AppendLE32(&out, value);
  return out;
}

VolumeBuilder::VolumeBuilder(std::int32_t set_total) { AppendLE32(&bytes_, static_cast<std::uint32_t>(set_total)); }

VolumeBuilder& VolumeBuilder::Entry(const std::string& name, const Bytes& data, std::uint64_t time) {
  return EntryWithSize(name, static_cast<std::int32_t>(data.size()), data, time);
}

VolumeBuilder& VolumeBuilder::EntryWithSize(const std::string& name, std::int32_t declared, const Bytes& data,
                                            std::uint64_t time) {
  bytes_.push_back(static_cast<std::uint8_t>(name.size() + 1));
  bytes_.insert(bytes_.end(), name.begin(), name.end());
  bytes_.push_back(0);
  AppendLE64(&bytes_, time);
  AppendLE32(&bytes_, static_cast<std::uint32_t>(declared));
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

VolumeBuilder& VolumeBuilder::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

}  // namespace qmrtest
