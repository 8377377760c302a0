// Compression into SZDD files, and the classic compressed-name rule.
//
// In this format every literal costs 9 bits (8 plus its flag bit) and every match 17 bits,
// whatever its length or distance. So once the longest match at each position is known, the
// smallest encoding of a stretch of data is a shortest-path problem: walking backwards,
// cost[i] = min(cost[i + 1] + 9, cost[i + l] + 17 for every match length l at i). A match of
// length L at some distance also offers every shorter length at that distance, so the longest
// match per position is all the parse needs. The compressor therefore looks for the longest
// match at every position (hash chains, see below), then parses each block of input that way.
// Searching only some positions and assuming the tail of a long match elsewhere is much
// faster but costs up to 2% of size, because the parse then cannot see where a better match
// starts inside another.
//
// The input is processed in blocks through a sliding buffer: the 4096 bytes before the block
// (initially spaces, the window's never-written contents) followed by the block itself. Hash
// chain entries are buffer indices, rebased when the buffer slides.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "szdd/szdd.h"

namespace szdd {
namespace {

constexpr std::size_t kWindowSize = 4096;
constexpr std::uint32_t kWindowMask = kWindowSize - 1;
constexpr std::uint32_t kFirstWritePosition = kWindowSize - 16;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 18;
// Matches reach back at most 4095 bytes, so their source is never the slot being written.
// Decoders agree on a distance of 4096 only if they read a byte before overwriting it; not
// relying on that costs nothing measurable.
constexpr std::int32_t kMaxDistance = kWindowSize - 1;

// A block is a multiple of the window size, so buffer indices keep their window position
// (index & kWindowMask) when the buffer slides by a block.
constexpr std::size_t kBlockSize = 16 * kWindowSize;
// Zero padding so that match comparisons may read 8 bytes at a time past the end.
constexpr std::size_t kPadding = 32;

// Every position enters several hash chains, each keyed on a longer prefix of the bytes there
// (a ladder of levels, longest prefix first). A match at least as long as a level's prefix is
// on that level's chain, whose entries nearly all match that far; so the search walks the
// top level for long matches and steps down a level only when it found nothing there. Below
// the top, a level can only offer lengths up to the next prefix above it, so a short walk
// settles it.
struct Level {
  unsigned prefix;     // bytes hashed
  unsigned hash_bits;  // log2 of the head table size
  unsigned depth;      // chain entries visited at most
};
// Measured on C headers, PE files and text made of a small vocabulary: the 12-byte level is
// what keeps repetitive text from losing to a full-search greedy compressor; deeper walks or
// more levels gain about 0.1% in size for a third more time.
constexpr Level kLevels[] = {{12, 16, 8}, {8, 16, 8}, {4, 16, 4}, {3, 15, 2}};
constexpr std::size_t kLevelCount = std::size(kLevels);
constexpr unsigned kLongestPrefix = kLevels[0].prefix;
static_assert(kLevels[kLevelCount - 1].prefix == kMinMatch && kLongestPrefix <= 16);
// Bytes after the block that are loaded only to hash its last positions.
constexpr std::size_t kHashLookahead = kLongestPrefix - 1;
constexpr std::int32_t kNoPosition = std::numeric_limits<std::int32_t>::min() / 2;

constexpr unsigned kLiteralBits = 9;
constexpr unsigned kMatchBits = 17;

inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Length of the common prefix of a and b, up to `limit` (at most 24); reads 24 bytes of each.
inline unsigned CommonLength(const std::uint8_t* a, const std::uint8_t* b, unsigned limit) {
  for (unsigned n = 0; n < limit; n += 8) {
    const std::uint64_t diff = Load64(a + n) ^ Load64(b + n);
    if (diff != 0) {
      // The format is little-endian by nature; so is every machine this builds for.
      const unsigned length = n + static_cast<unsigned>(__builtin_ctzll(diff)) / 8;
      return std::min(length, limit);
    }
  }
  return limit;
}

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>* out) : out_(out) {}

  void Literal(std::uint8_t byte) {
    StartItem(true);
    out_->push_back(byte);
  }

  void Match(std::uint32_t window_position, unsigned length) {
    StartItem(false);
    out_->push_back(static_cast<std::uint8_t>(window_position));
    out_->push_back(static_cast<std::uint8_t>(((window_position >> 4) & 0xF0) | (length - kMinMatch)));
  }

 private:
  void StartItem(bool literal) {
    if (items_ == 8) {
      flag_index_ = out_->size();
      out_->push_back(0);
      items_ = 0;
    }
    if (literal) (*out_)[flag_index_] |= static_cast<std::uint8_t>(1u << items_);
    ++items_;
  }

  std::vector<std::uint8_t>* out_;
  std::size_t flag_index_ = 0;
  unsigned items_ = 8;
};

class Compressor {
 public:
  Compressor() {
    for (std::size_t k = 0; k < kLevelCount; ++k) {
      heads_[k].assign(std::size_t{1} << kLevels[k].hash_bits, kNoPosition);
      std::fill(std::begin(prevs_[k]), std::end(prevs_[k]), kNoPosition);
    }
  }

  void Run(const std::uint8_t* data, std::size_t size, BitWriter* writer) {
    // The window before the first byte: spaces, all of them usable as match sources.
    std::memset(buffer_, ' ', kWindowSize);
    bool first = true;
    for (std::size_t start = 0; start < size; start += kBlockSize) {
      const std::size_t length = std::min(kBlockSize, size - start);
      if (!first) Slide();
      const std::size_t ahead = std::min(kHashLookahead, size - start - length);
      std::memcpy(buffer_ + kWindowSize, data + start, length + ahead);
      std::memset(buffer_ + kWindowSize + length + ahead, 0, kPadding);
      if (first) {
        for (std::int32_t i = 1; i < static_cast<std::int32_t>(kWindowSize); ++i) Insert(i);
        first = false;
      }
      FindMatches(length);
      Parse(length);
      Emit(length, writer);
    }
  }

 private:
  using Hashes = std::uint32_t[kLevelCount];

  void Hash(std::int32_t i, Hashes& hashes) const {
    const std::uint64_t head = Load64(buffer_ + i);
    for (std::size_t k = 0; k < kLevelCount; ++k) {
      const unsigned prefix = kLevels[k].prefix;
      std::uint64_t mixed;
      if (prefix <= 8) {
        mixed = (head << (64 - 8 * prefix)) * 0x9E3779B97F4A7C15ull;
      } else {
        // Two overlapping 8-byte words cover prefixes of 9 to 16 bytes.
        mixed = head * 0x9E3779B97F4A7C15ull ^ Load64(buffer_ + i + prefix - 8) * 0xC2B2AE3D27D4EB4Full;
      }
      hashes[k] = static_cast<std::uint32_t>(mixed >> (64 - kLevels[k].hash_bits));
    }
  }

  void Insert(std::int32_t i, const Hashes& hashes) {
    for (std::size_t k = 0; k < kLevelCount; ++k) {
      prevs_[k][i & kWindowMask] = heads_[k][hashes[k]];
      heads_[k][hashes[k]] = i;
    }
  }

  void Insert(std::int32_t i) {
    Hashes hashes;
    Hash(i, hashes);
    Insert(i, hashes);
  }

  // Moves the last window of the block down to the front and rebases the chains.
  void Slide() {
    std::memcpy(buffer_, buffer_ + kBlockSize, kWindowSize);
    constexpr auto shift = static_cast<std::int32_t>(kBlockSize);
    const auto rebase = [](std::int32_t& p) { p = p - shift < 0 ? kNoPosition : p - shift; };
    for (std::size_t k = 0; k < kLevelCount; ++k) {
      std::for_each(heads_[k].begin(), heads_[k].end(), rebase);
      std::for_each(std::begin(prevs_[k]), std::end(prevs_[k]), rebase);
    }
  }

  // For every position of the block: the longest match (clipped to the block) and its
  // distance. Every position enters the hash chains.
  void FindMatches(std::size_t block_length) {
    const auto begin = static_cast<std::int32_t>(kWindowSize);
    const auto end = begin + static_cast<std::int32_t>(block_length);
    unsigned previous_length = 0;
    std::int32_t previous_distance = 0;
    for (std::int32_t i = begin; i < end; ++i) {
      const unsigned limit = static_cast<unsigned>(std::min<std::int32_t>(kMaxMatch, end - i));
      // The previous position's match goes on here, one byte shorter: only longer ones count.
      unsigned best_length = kMinMatch - 1;
      std::int32_t best_distance = 0;
      if (previous_length > kMinMatch) {
        best_length = previous_length - 1;
        best_distance = previous_distance;
      }
      const std::uint8_t* const here = buffer_ + i;
      Hashes hashes;
      Hash(i, hashes);
      for (std::size_t k = 0; k < kLevelCount && best_length < limit; ++k) {
        const Level& level = kLevels[k];
        if (level.prefix > limit) continue;
        // A longer match than the best would have been on the level above, already walked.
        if (k != 0 && kLevels[k - 1].prefix <= limit && best_length + 1 >= kLevels[k - 1].prefix) break;
        const std::int32_t head = heads_[k][hashes[k]];
        // Below the top, nothing longer than the level above's prefix less one is expected.
        const unsigned enough = k == 0 ? limit : std::min(limit, kLevels[k - 1].prefix - 1);
        Search(here, i, head, prevs_[k], level.depth, limit, enough, &best_length, &best_distance);
        if (best_length >= level.prefix) break;
      }
      if (best_distance == 0) best_length = 0;
      Insert(i, hashes);
      const auto at = static_cast<std::size_t>(i - begin);
      match_length_[at] = static_cast<std::uint8_t>(best_length);
      match_distance_[at] = static_cast<std::uint16_t>(best_distance);
      previous_length = best_length;
      previous_distance = best_distance;
    }
  }

  // Walks one chain from `candidate` for a match longer than *best_length, at most `limit`
  // long; stops early at one of `enough` bytes.
  void Search(const std::uint8_t* here, std::int32_t i, std::int32_t candidate, const std::int32_t* prev,
              unsigned depth, unsigned limit, unsigned enough, unsigned* best_length,
              std::int32_t* best_distance) const {
    unsigned best = *best_length;
    while (candidate >= i - kMaxDistance && depth-- != 0) {
      const std::uint8_t* const there = buffer_ + candidate;
      // The byte that would make this candidate better than the best so far.
      if (there[best] == here[best]) {
        const unsigned length = CommonLength(here, there, limit);
        if (length > best) {
          best = length;
          *best_distance = i - candidate;
          if (length >= enough) break;
        }
      }
      candidate = prev[candidate & kWindowMask];
    }
    *best_length = best;
  }

  void Parse(std::size_t block_length) {
    // Each candidate is packed as (cost << 5) | length, so a plain minimum picks the cheapest
    // way on, and the shorter one among equals; length 1 stands for a literal.
    cost_[block_length] = 0;
    for (std::size_t i = block_length; i-- != 0;) {
      const std::uint32_t literal = (cost_[i + 1] + kLiteralBits) << 5 | 1;
      const unsigned longest = match_length_[i];
      const std::uint32_t best = longest < kMinMatch ? literal : CheapestWayOn(cost_ + i, longest, literal);
      cost_[i] = best >> 5;
      choice_[i] = static_cast<std::uint8_t>(best & 31);
    }
  }

  // The least of `best` and the keys (cost[length] + kMatchBits) << 5 | length for the
  // lengths kMinMatch..longest.
  static std::uint32_t CheapestWayOn(const std::uint32_t* cost, unsigned longest, std::uint32_t best) {
#if defined(__SSE2__)
    // Four lengths at a time; lanes past `longest` are forced to INT32_MAX. Keys stay far
    // below 2^31, so signed comparisons order them correctly.
    const __m128i longest4 = _mm_set1_epi32(static_cast<int>(longest));
    const __m128i match_bits = _mm_set1_epi32(kMatchBits);
    const __m128i int_max = _mm_set1_epi32(std::numeric_limits<std::int32_t>::max());
    __m128i lengths = _mm_setr_epi32(3, 4, 5, 6);
    __m128i least = _mm_set1_epi32(static_cast<int>(best));
    for (unsigned first = kMinMatch; first <= longest; first += 4) {
      const __m128i costs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cost + first));
      __m128i keys = _mm_or_si128(_mm_slli_epi32(_mm_add_epi32(costs, match_bits), 5), lengths);
      const __m128i beyond = _mm_cmpgt_epi32(lengths, longest4);
      keys = _mm_or_si128(_mm_andnot_si128(beyond, keys), _mm_and_si128(beyond, int_max));
      const __m128i smaller = _mm_cmpgt_epi32(least, keys);
      least = _mm_or_si128(_mm_and_si128(smaller, keys), _mm_andnot_si128(smaller, least));
      lengths = _mm_add_epi32(lengths, _mm_set1_epi32(4));
    }
    alignas(16) std::uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), least);
    return std::min(std::min(lanes[0], lanes[1]), std::min(lanes[2], lanes[3]));
#else
    for (unsigned length = kMinMatch; length <= longest; ++length)
      best = std::min(best, (cost[length] + kMatchBits) << 5 | length);
    return best;
#endif
  }

  void Emit(std::size_t block_length, BitWriter* writer) {
    for (std::size_t i = 0; i < block_length;) {
      const unsigned choice = choice_[i];
      if (choice == 1) {
        writer->Literal(buffer_[kWindowSize + i]);
        ++i;
        continue;
      }
      // Blocks start at multiples of the window size, so a buffer index maps to the window
      // position of the same data byte as (index - 16) mod 4096.
      const std::size_t source = kWindowSize + i - match_distance_[i];
      writer->Match(static_cast<std::uint32_t>(source + kFirstWritePosition - kWindowSize) & kWindowMask,
                    choice);
      i += choice;
    }
  }

  std::vector<std::int32_t> heads_[kLevelCount];
  std::int32_t prevs_[kLevelCount][kWindowSize];
  std::uint8_t buffer_[kWindowSize + kBlockSize + kHashLookahead + kPadding];
  std::uint8_t match_length_[kBlockSize];
  std::uint16_t match_distance_[kBlockSize];
  std::uint8_t choice_[kBlockSize];
  // The parse reads costs four at a time, up to kMaxMatch + 1 past the last position.
  std::uint32_t cost_[kBlockSize + kMaxMatch + 2] = {};
};

}  // namespace

std::vector<std::uint8_t> CompressBuffer(const std::uint8_t* data, std::size_t size,
                                         const CompressOptions& options) {
  std::vector<std::uint8_t> out;
  // The header records the length in 32 bits; nothing longer can be represented.
  if (size > std::numeric_limits<std::uint32_t>::max()) return out;
  out.reserve(kHeaderSize + size + size / 8 + 1);
  Header header;
  header.missing_char = options.missing_char;
  header.expanded_length = static_cast<std::uint32_t>(size);
  out.resize(kHeaderSize);
  WriteHeader(header, out.data());
  if (size == 0) return out;
  BitWriter writer(&out);
  auto compressor = std::make_unique<Compressor>();
  compressor->Run(data, size, &writer);
  return out;
}

std::string CompressedName(const std::string& name, std::uint8_t* missing_char) {
  if (missing_char != nullptr) *missing_char = 0;
  if (name.empty() || name.back() == '_') return {};
  return name + '_';
}

}  // namespace szdd
