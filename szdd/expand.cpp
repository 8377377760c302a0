// Expansion of SZDD data.
//
// The decoder works on two fixed buffers that live on the stack of the call (about 100 KiB in
// all, no heap): an input block and an output block that doubles as the LZSS window. The
// output block holds the last 4096 bytes produced (the window, in linear order) followed by
// the bytes being produced now; when it fills up, the new bytes go to the sink and the last
// 4096 are moved down to the front. A match names a window position; the distance back from
// the current write position to it is 1..4096, so the source is simply `out - distance`.
// Before anything is produced the 4096 history bytes are spaces, which is what a
// never-written window position holds.
//
// Most of the data is decoded a whole flag group (one flag byte and eight items, at most 17
// input and 144 output bytes) at a time without any bounds checks; near the end of the input
// block, the output block or the announced length, a careful item-by-item path takes over.
#include <algorithm>
#include <cstring>

#include "szdd/szdd.h"

namespace szdd {
namespace {

// The most one flag group can consume and produce.
constexpr std::size_t kMaxGroupInput = 1 + 8 * 2;
constexpr std::size_t kMaxGroupOutput = 8 * kMaxMatch;
// Match copies in the fast path write up to 24 bytes for 18; the tail absorbs the excess.
constexpr std::size_t kCopySlack = 8;

constexpr std::size_t kInputBlock = 32 * 1024;
constexpr std::size_t kOutputBlock = 64 * 1024;

// Copies a match of `length` bytes from `distance` bytes back, exactly as a byte-by-byte
// window copy would: when the distance is shorter than the length, the copy reads bytes it
// has itself just written (a run). May write up to kCopySlack bytes past the end.
inline void CopyMatchFast(std::uint8_t* out, unsigned distance, unsigned length) {
  const std::uint8_t* src = out - distance;
  if (distance >= 8) {
    // Each 8-byte chunk reads only bytes that are at least 8 back, hence already final.
    std::memcpy(out, src, 8);
    std::memcpy(out + 8, src + 8, 8);
    if (length > 16) std::memcpy(out + 16, src + 16, 8);
  } else if (distance == 1) {
    std::memset(out, src[0], length);
  } else {
    for (unsigned i = 0; i < length; ++i) out[i] = src[i];
  }
}

class Expander {
 public:
  Expander(Source& in, Sink& out) : in_(in), sink_(out) {
    std::memset(window_, ' ', kWindowSize);
    out_ = window_ + kWindowSize;
    // ring_base_ + (out_ - window_) is the window position of out_: kFirstWritePosition.
    ring_base_ = kFirstWritePosition - static_cast<std::uint32_t>(kWindowSize);
  }

  // Reads the header from the source. Returns kOk, kNotSzdd, kTruncated or kReadError.
  Status ReadHeader(Header* header) {
    // A whole input block at once: the data after the header is then already buffered.
    while (static_cast<std::size_t>(in_end_ - in_pos_) < kHeaderSize && !eof_) {
      if (!Refill()) return Status::kReadError;
    }
    const std::size_t have = static_cast<std::size_t>(in_end_ - in_pos_);
    if (ParseHeader(in_pos_, have, header)) {
      in_pos_ += kHeaderSize;
      return Status::kOk;
    }
    // The signature is complete but the rest of the header is missing: a cut-off file.
    if (HasSignature(in_pos_, have)) return Status::kTruncated;
    return Status::kNotSzdd;
  }

  ExpandResult Run(std::uint32_t length) {
    remaining_ = length;
    Status status = Decode();
    // Whatever was produced before a failure of the input still goes to the sink.
    if (status != Status::kWriteError && !Flush()) status = Status::kWriteError;
    return {status, written_};
  }

 private:
  std::uint32_t RingPosition(const std::uint8_t* p) const {
    return (static_cast<std::uint32_t>(p - window_) + ring_base_) & kWindowMask;
  }

  // Distance back from `out_` to window position `position`, in 1..4096. A position equal to
  // the write position names the byte written 4096 bytes ago (it is read before overwritten).
  unsigned Distance(const std::uint8_t* out, unsigned position) const {
    return ((RingPosition(out) - position - 1) & kWindowMask) + 1;
  }

  // Moves the unread input to the front of the input block and reads more after it.
  // Returns false on a read error; sets eof_ at the end of the source.
  bool Refill() {
    const std::size_t keep = static_cast<std::size_t>(in_end_ - in_pos_);
    std::memmove(input_, in_pos_, keep);
    in_pos_ = input_;
    in_end_ = input_ + keep;
    const long got = in_.Read(in_end_, kInputBlock - keep);
    if (got < 0) return false;
    if (got == 0) eof_ = true;
    in_end_ += got;
    return true;
  }

  // Makes at least `count` input bytes available unless the source ends first.
  // Returns kOk (check the available count), or kReadError.
  Status Need(std::size_t count) {
    while (static_cast<std::size_t>(in_end_ - in_pos_) < count && !eof_) {
      if (!Refill()) return Status::kReadError;
    }
    return Status::kOk;
  }

  // Hands the bytes produced since the last flush to the sink and moves the window down.
  bool Flush() {
    std::uint8_t* const start = window_ + kWindowSize;
    const std::size_t produced = static_cast<std::size_t>(out_ - start);
    if (produced == 0) return true;
    if (!sink_.Write(start, produced)) return false;
    written_ += produced;
    std::memmove(window_, out_ - kWindowSize, kWindowSize);
    ring_base_ += static_cast<std::uint32_t>(produced);
    out_ = start;
    return true;
  }

  Status Decode() {
    std::uint8_t* const out_block_end = window_ + kWindowSize + kOutputBlock;
    while (remaining_ != 0) {
      if (out_ == out_block_end && !Flush()) return Status::kWriteError;
      if (static_cast<std::size_t>(in_end_ - in_pos_) < kMaxGroupInput && !eof_) {
        if (!Refill()) return Status::kReadError;
      }
      DecodeFast(out_block_end);
      if (remaining_ == 0) break;
      const Status status = DecodeGroupCarefully(out_block_end);
      if (status != Status::kOk) return status;
    }
    return Status::kOk;
  }

  // Decodes whole flag groups while every group is sure to have its input buffered, its output
  // room in the block, and not to reach the announced length.
  void DecodeFast(std::uint8_t* out_block_end) {
    std::uint8_t* ip = in_pos_;
    std::uint8_t* op = out_;
    const std::size_t out_room =
        std::min<std::size_t>(static_cast<std::size_t>(out_block_end - op), remaining_);
    if (out_room < kMaxGroupOutput || static_cast<std::size_t>(in_end_ - ip) < kMaxGroupInput) return;
    const std::uint8_t* const ip_limit = in_end_ - kMaxGroupInput;
    std::uint8_t* const op_limit = op + (out_room - kMaxGroupOutput);
    const std::uint32_t ring_at_op = RingPosition(op);
    std::uint8_t* const op_start = op;

    while (ip <= ip_limit && op <= op_limit) {
      unsigned flags = *ip++;
      if (flags == 0xFF) {
        std::memcpy(op, ip, 8);
        ip += 8;
        op += 8;
        continue;
      }
      for (int item = 0; item < 8; ++item, flags >>= 1) {
        if (flags & 1) {
          *op++ = *ip++;
        } else {
          const unsigned b1 = ip[0];
          const unsigned b2 = ip[1];
          ip += 2;
          const unsigned position = b1 | ((b2 & 0xF0u) << 4);
          const unsigned length = (b2 & 0x0Fu) + kMinMatch;
          const std::uint32_t ring = ring_at_op + static_cast<std::uint32_t>(op - op_start);
          const unsigned distance = ((ring - position - 1) & kWindowMask) + 1;
          CopyMatchFast(op, distance, length);
          op += length;
        }
      }
    }
    remaining_ -= static_cast<std::uint32_t>(op - out_);
    in_pos_ = ip;
    out_ = op;
  }

  // Decodes one flag group item by item, checking every input byte and output byte.
  Status DecodeGroupCarefully(std::uint8_t* out_block_end) {
    if (Status s = Need(1); s != Status::kOk) return s;
    if (in_pos_ == in_end_) return Status::kTruncated;
    unsigned flags = *in_pos_++;
    for (int item = 0; item < 8 && remaining_ != 0; ++item, flags >>= 1) {
      if (flags & 1) {
        if (Status s = Need(1); s != Status::kOk) return s;
        if (in_pos_ == in_end_) return Status::kTruncated;
        if (out_ == out_block_end && !Flush()) return Status::kWriteError;
        *out_++ = *in_pos_++;
        --remaining_;
        continue;
      }
      if (Status s = Need(2); s != Status::kOk) return s;
      if (in_end_ - in_pos_ < 2) return Status::kTruncated;
      const unsigned b1 = in_pos_[0];
      const unsigned b2 = in_pos_[1];
      in_pos_ += 2;
      const unsigned position = b1 | ((b2 & 0xF0u) << 4);
      unsigned length = (b2 & 0x0Fu) + kMinMatch;
      if (length > remaining_) length = remaining_;
      for (unsigned i = 0; i < length; ++i) {
        if (out_ == out_block_end && !Flush()) return Status::kWriteError;
        const unsigned distance = Distance(out_, (position + i) & kWindowMask);
        *out_ = out_[-static_cast<std::ptrdiff_t>(distance)];
        ++out_;
      }
      remaining_ -= length;
    }
    return Status::kOk;
  }

  Source& in_;
  Sink& sink_;
  std::uint8_t* out_;
  std::uint32_t ring_base_;
  std::uint32_t remaining_ = 0;
  std::uint64_t written_ = 0;
  std::uint8_t* in_pos_ = input_;
  std::uint8_t* in_end_ = input_;
  bool eof_ = false;
  std::uint8_t input_[kInputBlock];
  std::uint8_t window_[kWindowSize + kOutputBlock + kCopySlack];
};

class VectorSink : public Sink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>* out) : out_(out) {}
  bool Write(const std::uint8_t* data, std::size_t size) override {
    out_->insert(out_->end(), data, data + size);
    return true;
  }

 private:
  std::vector<std::uint8_t>* out_;
};

}  // namespace

long MemorySource::Read(std::uint8_t* buffer, std::size_t size) {
  const std::size_t n = std::min(size, size_ - pos_);
  if (n != 0) std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return static_cast<long>(n);
}

ExpandResult ExpandData(const Header& header, Source& in, Sink& out) {
  if (header.mode != kModeLzss) return {Status::kNotSzdd, 0};
  Expander expander(in, out);
  return expander.Run(header.expanded_length);
}

ExpandResult Expand(Source& in, Sink& out, Header* header_out) {
  Expander expander(in, out);
  Header header;
  const Status status = expander.ReadHeader(&header);
  if (status != Status::kOk) return {status, 0};
  if (header_out != nullptr) *header_out = header;
  if (header.mode != kModeLzss) return {Status::kNotSzdd, 0};
  return expander.Run(header.expanded_length);
}

ExpandResult ExpandBuffer(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>* out) {
  out->clear();
  Header header;
  if (ParseHeader(data, size, &header)) {
    // Every compressed byte expands to at most 9 bytes (an 18-byte match costs two bytes), so
    // a header announcing more than that cannot be trusted to size the buffer.
    const std::uint64_t plausible = static_cast<std::uint64_t>(size) * 9;
    out->reserve(static_cast<std::size_t>(std::min<std::uint64_t>(header.expanded_length, plausible)));
  }
  MemorySource source(data, size);
  VectorSink sink(out);
  return Expand(source, sink);
}

}  // namespace szdd
