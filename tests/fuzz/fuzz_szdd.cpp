// Fuzzes the SZDD expander with arbitrary files, and the codec with a round trip of the same
// bytes. Checked: the expander never produces more than the header announces, reports a
// complete result only with exactly that many bytes, and compress-then-expand gives back the data.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "szdd/szdd.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> out;
  szdd::Header header;
  const bool has_header = szdd::ParseHeader(data, size, &header);
  const szdd::ExpandResult result = szdd::ExpandBuffer(data, size, &out);
  if (result.written != out.size()) std::abort();
  if (has_header && header.mode == szdd::kModeLzss) {
    if (out.size() > header.expanded_length) std::abort();
    if (result.status == szdd::Status::kOk && out.size() != header.expanded_length) std::abort();
  } else if (result.status == szdd::Status::kOk) {
    std::abort();  // not an SZDD file, yet expanded
  }

  const std::vector<std::uint8_t> packed = szdd::CompressBuffer(data, size);
  std::vector<std::uint8_t> round;
  if (szdd::ExpandBuffer(packed.data(), packed.size(), &round).status != szdd::Status::kOk) std::abort();
  if (round != std::vector<std::uint8_t>(data, data + size)) std::abort();
  return 0;
}
