// The SZDD codec: expands and compresses the LZSS data of the classic compress format.
//
// The container is fixed by header.h. The data after the header is LZSS over a 4096-byte
// window filled with spaces (0x20), first write position 4096 - 16. A flag byte governs the
// next eight items, lowest bit first: bit 1 is one literal byte; bit 0 is two bytes b1 b2,
// copying (b2 & 0x0F) + 3 bytes from window position b1 | ((b2 & 0xF0) << 4).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "szdd/header.h"

namespace szdd {

// The LZSS window the format fixes, as described above: its size, where the first byte goes,
// and the shortest and longest copy an item holds.
inline constexpr std::size_t kWindowSize = 4096;
inline constexpr std::uint32_t kWindowMask = kWindowSize - 1;
inline constexpr std::uint32_t kFirstWritePosition = kWindowSize - 16;
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kMaxMatch = 18;

// A source of bytes. Read returns the count read (0 at the end), or a negative value on error.
class Source {
 public:
  virtual ~Source() = default;
  virtual long Read(std::uint8_t* buffer, std::size_t size) = 0;
};

// A sink of bytes. Write returns false when the bytes could not all be written.
class Sink {
 public:
  virtual ~Sink() = default;
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

enum class Status {
  kOk,          // the whole announced length was produced
  kNotSzdd,     // the input does not start with an SZDD header (or has an unknown mode)
  kTruncated,   // the input ended before the announced length was produced
  kReadError,   // the source reported an error
  kWriteError,  // the sink refused bytes
};

struct ExpandResult {
  Status status = Status::kOk;
  std::uint64_t written = 0;  // bytes handed to the sink; never more than the announced length
};

// Expands the LZSS data that follows a header already read from `in`. Produces exactly
// `header.expanded_length` bytes on success; bytes after the data that completes the
// announced length are not read further. Never writes past the announced length.
// Bytes from memory, `size` of them at `data`; the caller keeps them alive while it is read.
class MemorySource : public Source {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  long Read(std::uint8_t* buffer, std::size_t size) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

ExpandResult ExpandData(const Header& header, Source& in, Sink& out);

// Reads the header from `in`, then expands as ExpandData does.
ExpandResult Expand(Source& in, Sink& out, Header* header_out = nullptr);

// Convenience over memory: expands a whole compressed file. On failure `out` holds what was
// produced before the failure.
ExpandResult ExpandBuffer(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* out);

struct CompressOptions {
  // The character the compressed name's trailing underscore replaces (header byte 9), or 0.
  std::uint8_t missing_char = 0;
};

// Compresses `data` into a whole SZDD file (header and LZSS data). Returns an empty vector
// when `size` exceeds what the header's 32-bit length can announce.
std::vector<std::uint8_t> CompressBuffer(const std::uint8_t* data, std::size_t size,
                                         const CompressOptions& options = {});

// The compressed name of a file as the classic `mscompress` tool forms it: "_" appended to the
// whole name, whatever its extension ("setup.exe" -> "setup.exe_", "a.c" -> "a.c_",
// "README" -> "README_", "x.tar.gz" -> "x.tar.gz_"); `msexpand` strips it again. The tool
// refuses a name that already ends in '_', and so does this: the result is then empty (as
// for an empty name). Nothing is replaced, so `missing_char` (if given) is set to 0. (The
// names files have inside an installation set, "setup.ex_", are the packer's: see pack/names.h.)
std::string CompressedName(const std::string& name, std::uint8_t* missing_char);

}  // namespace szdd
