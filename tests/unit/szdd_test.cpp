#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "szdd/szdd.h"

namespace szdd {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Text(std::size_t size) {
  static const char* const kWords[] = {"int ", "return ", "(void)", "{\n", "}\n", "  ", "window", "0x20",
                                       "; ", "struct ", "#define ", "LZSS", "\n", "const ", "char *"};
  std::mt19937 rng(7);
  Bytes out;
  while (out.size() < size) {
    const char* word = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), word, word + std::strlen(word));
  }
  out.resize(size);
  return out;
}

Bytes Random(std::size_t size, unsigned seed = 1) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Hands out at most `chunk` bytes per read, so the expander must refill at awkward points.
class ChunkSource : public Source {
 public:
  ChunkSource(const Bytes& data, std::size_t chunk) : data_(data), chunk_(chunk) {}
  long Read(std::uint8_t* buffer, std::size_t size) override {
    const std::size_t n = std::min({size, chunk_, data_.size() - pos_});
    if (n != 0) std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return static_cast<long>(n);
  }
  std::size_t consumed() const { return pos_; }

 private:
  const Bytes& data_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// Accepts `budget` bytes, then refuses everything.
class LimitedSink : public Sink {
 public:
  explicit LimitedSink(std::size_t budget = SIZE_MAX) : budget_(budget) {}
  bool Write(const std::uint8_t* data, std::size_t size) override {
    if (size > budget_) return false;
    budget_ -= size;
    bytes.insert(bytes.end(), data, data + size);
    return true;
  }
  Bytes bytes;

 private:
  std::size_t budget_;
};

// Assembles a compressed file by hand: items are literals or (window position, length) matches.
class StreamBuilder {
 public:
  StreamBuilder& Literal(std::uint8_t b) { return Item(true, {b}); }
  StreamBuilder& Literals(const std::string& s) {
    for (char c : s) Literal(static_cast<std::uint8_t>(c));
    return *this;
  }
  StreamBuilder& Match(unsigned position, unsigned length) {
    return Item(false, {static_cast<std::uint8_t>(position),
                        static_cast<std::uint8_t>(((position >> 4) & 0xF0) | (length - 3))});
  }
  Bytes File(std::uint32_t length) const {
    Bytes out(kHeaderSize);
    WriteHeader({kModeLzss, 0, length}, out.data());
    out.insert(out.end(), data_.begin(), data_.end());
    return out;
  }

 private:
  StreamBuilder& Item(bool literal, Bytes bytes) {
    if (items_ % 8 == 0) {
      flag_ = data_.size();
      data_.push_back(0);
    }
    if (literal) data_[flag_] |= static_cast<std::uint8_t>(1u << (items_ % 8));
    ++items_;
    data_.insert(data_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Bytes data_;
  std::size_t flag_ = 0;
  std::size_t items_ = 0;
};

Bytes Str(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(SzddRoundTrip, CorpusThroughBufferAndAwkwardChunks) {
  Bytes mixed = Text(700000);
  const Bytes noise = Random(400000);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  const Bytes runs = [] {
    Bytes b(100000, 0);
    std::fill(b.begin() + 5000, b.begin() + 9000, 'x');
    return b;
  }();
  const std::vector<Bytes> corpus = {
      {}, {'A'}, Bytes(1000, 'a'), Bytes(5000, ' '), Str("abc   def      ghi"), Text(20000), Random(30000),
      // Incompressible data is all literals: 8 and 16 items end exactly on a flag byte.
      Random(8, 2), Random(16, 3), Random(7, 4), Random(9, 5), Random(65536, 6), Random(65537, 7), runs, mixed};
  for (const Bytes& original : corpus) {
    SCOPED_TRACE(original.size());
    const Bytes packed = CompressBuffer(original.data(), original.size(), {'e'});
    Header header;
    ASSERT_TRUE(ParseHeader(packed.data(), packed.size(), &header));
    EXPECT_EQ(header.mode, kModeLzss);
    EXPECT_EQ(header.missing_char, 'e');
    EXPECT_EQ(header.expanded_length, original.size());
    Bytes out;
    const ExpandResult r = ExpandBuffer(packed.data(), packed.size(), &out);
    EXPECT_EQ(r.status, Status::kOk);
    EXPECT_EQ(r.written, original.size());
    EXPECT_TRUE(out == original);
    for (std::size_t chunk : {1, 7, 4099}) {
      if (chunk == 1 && packed.size() > 40000) continue;
      ChunkSource source(packed, chunk);
      LimitedSink sink;
      EXPECT_EQ(Expand(source, sink).status, Status::kOk);
      EXPECT_TRUE(sink.bytes == original) << "chunk " << chunk;
    }
  }
}

TEST(SzddCompress, FindsMatchesIncludingTheInitialSpaces) {
  // 18 spaces are one match against the never-written window: flag byte plus two bytes.
  const Bytes spaces(18, ' ');
  EXPECT_EQ(CompressBuffer(spaces.data(), spaces.size()).size(), kHeaderSize + 3);
  // A repeated 100-byte random pattern costs little more than its first copy.
  Bytes pattern = Random(100, 9), repeated;
  for (int i = 0; i < 600; ++i) repeated.insert(repeated.end(), pattern.begin(), pattern.end());
  EXPECT_LT(CompressBuffer(repeated.data(), repeated.size()).size(), 100 + 60000 / 18 * 17 / 8 + 200);
  // Random data grows by no more than its flag bytes.
  const Bytes noise = Random(8000);
  EXPECT_LE(CompressBuffer(noise.data(), noise.size()).size(), kHeaderSize + 9000);
}

TEST(SzddExpand, HandAssembledStreams) {
  struct Case {
    const char* what;
    StreamBuilder stream;
    std::string expected;
    bool exact_length = false;  // the announced length itself is what is tested
  };
  const std::string sixteen = "0123456789abcdef";
  const Bytes fill = Random(4096, 11);
  const std::string fill_text(fill.begin(), fill.end());
  StreamBuilder full;
  for (std::uint8_t b : fill) full.Literal(b);
  full.Match(4080, 3);  // the write position itself: the bytes written 4096 earlier
  const std::vector<Case> cases = {
      {"literals across flag bytes", StreamBuilder().Literals("ABCDEFGHIJ"), "ABCDEFGHIJ"},
      {"never-written positions are spaces", StreamBuilder().Match(0, 5), "     "},
      {"unwritten slots ahead", StreamBuilder().Literals("xyz").Match(4090, 4), "xyz    "},
      {"the unwritten write slot", StreamBuilder().Literals("xyz").Match(4083, 3), "xyz   "},
      {"run from the previous byte", StreamBuilder().Literal('a').Match(4080, 10), std::string(11, 'a')},
      {"period-two overlap", StreamBuilder().Literals("ab").Match(4080, 6), "abababab"},
      {"period-five overlap", StreamBuilder().Literals("abcde").Match(4080, 12), "abcdeabcdeabcdeab"},
      {"wraps the window end", StreamBuilder().Literals(sixteen).Match(4094, 4), sixteen + "efef"},
      {"distance 4096", full, fill_text + fill_text.substr(0, 3)},
      {"match clipped to the length", StreamBuilder().Literal('q').Match(4080, 18), "qqqqq", true},
      {"items after the length ignored", StreamBuilder().Literals("hi").Literals("junk"), "hi", true},
  };
  for (const Case& c : cases) {
    // Once followed by enough literals that the whole-group decoder meets the interesting item,
    // once as it is, decoded item by item near the end. (In that order: the second run must
    // not find the right bytes left in the decoder's buffer by the first.)
    for (const bool tail : {true, false}) {
      if (tail && c.exact_length) continue;
      StreamBuilder stream = c.stream;
      std::string expected = c.expected;
      if (tail) {
        stream.Literals(std::string(200, 'z'));
        expected += std::string(200, 'z');
      }
      const Bytes file = stream.File(static_cast<std::uint32_t>(expected.size()));
      Bytes out;
      const ExpandResult r = ExpandBuffer(file.data(), file.size(), &out);
      EXPECT_EQ(r.status, Status::kOk) << c.what;
      EXPECT_EQ(std::string(out.begin(), out.end()), expected) << c.what << (tail ? " (tail)" : "");
    }
  }
}

TEST(SzddExpand, EveryCutReportsTruncationWithACorrectPrefix) {
  Bytes original = Text(3000);
  const Bytes more = Random(200, 12);
  original.insert(original.end(), more.begin(), more.end());
  const Bytes packed = CompressBuffer(original.data(), original.size());
  for (std::size_t cut = 0; cut < packed.size(); ++cut) {
    const Bytes part(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
    for (std::size_t chunk : {std::size_t{3}, part.size() + 1}) {
      ChunkSource source(part, chunk);
      LimitedSink sink;
      const ExpandResult r = Expand(source, sink);
      const Status expected = cut < sizeof kSignature ? Status::kNotSzdd : Status::kTruncated;
      ASSERT_EQ(r.status, expected) << "cut " << cut;
      ASSERT_LT(r.written, original.size());
      ASSERT_EQ(r.written, sink.bytes.size());
      ASSERT_TRUE(std::equal(sink.bytes.begin(), sink.bytes.end(), original.begin())) << "cut " << cut;
    }
  }
}

TEST(SzddExpand, LengthAndTrailingData) {
  const Bytes original = Text(50000);
  Bytes packed = CompressBuffer(original.data(), original.size());
  const std::size_t stream_size = packed.size();
  // Bytes after the complete data are neither read nor expanded.
  packed.insert(packed.end(), {0x00, 0x12, 0x34, 0xFF, 0xFF});
  ChunkSource source(packed, 1);
  LimitedSink sink;
  EXPECT_EQ(Expand(source, sink).status, Status::kOk);
  EXPECT_TRUE(sink.bytes == original);
  EXPECT_EQ(source.consumed(), stream_size);
  // A header announcing more than the data holds.
  packed.resize(stream_size);
  Header header{kModeLzss, 0, static_cast<std::uint32_t>(original.size() + 1)};
  WriteHeader(header, packed.data());
  Bytes out;
  const ExpandResult r = ExpandBuffer(packed.data(), packed.size(), &out);
  EXPECT_EQ(r.status, Status::kTruncated);
  EXPECT_EQ(r.written, original.size());
  EXPECT_TRUE(out == original);
}

TEST(SzddExpand, SourceAndSinkFailures) {
  const Bytes original = Random(200000, 13);
  const Bytes packed = CompressBuffer(original.data(), original.size());
  for (std::size_t budget : {std::size_t{0}, std::size_t{65536}}) {
    ChunkSource source(packed, packed.size());
    LimitedSink sink(budget);
    const ExpandResult r = Expand(source, sink);
    EXPECT_EQ(r.status, Status::kWriteError);
    EXPECT_EQ(r.written, sink.bytes.size());
    EXPECT_LE(r.written, budget);
  }
  struct BrokenSource : Source {
    long Read(std::uint8_t*, std::size_t) override { return -1; }
  } broken;
  LimitedSink sink;
  EXPECT_EQ(Expand(broken, sink).status, Status::kReadError);
  EXPECT_EQ(ExpandData(Header{kModeLzss, 0, 10}, broken, sink).status, Status::kReadError);
}

TEST(SzddExpand, HeaderHandling) {
  const Bytes plain = Str("MZ this is not compressed at all");
  Bytes out;
  EXPECT_EQ(ExpandBuffer(plain.data(), plain.size(), &out).status, Status::kNotSzdd);
  Bytes packed = CompressBuffer(plain.data(), plain.size(), {'x'});
  packed[8] = 'B';  // an unknown mode
  EXPECT_EQ(ExpandBuffer(packed.data(), packed.size(), &out).status, Status::kNotSzdd);
  packed[8] = kModeLzss;
  // Expand reports the header; ExpandData continues after a header read by the caller.
  ChunkSource source(packed, packed.size());
  LimitedSink sink;
  Header header;
  EXPECT_EQ(Expand(source, sink, &header).status, Status::kOk);
  EXPECT_EQ(header.missing_char, 'x');
  const Bytes data(packed.begin() + kHeaderSize, packed.end());
  ChunkSource data_source(data, 5);
  LimitedSink data_sink;
  EXPECT_EQ(ExpandData(header, data_source, data_sink).status, Status::kOk);
  EXPECT_TRUE(data_sink.bytes == plain);
  EXPECT_EQ(ExpandData(Header{'B', 0, 3}, data_source, data_sink).status, Status::kNotSzdd);
}

TEST(SzddName, AppendsAnUnderscoreLikeTheClassicTool) {
  const std::pair<const char*, const char*> cases[] = {
      {"setup.exe", "setup.exe_"}, {"a.c", "a.c_"},       {"README", "README_"},   {".profile", ".profile_"},
      {"x.tar.gz", "x.tar.gz_"},   {"dir.d/file", "dir.d/file_"}, {"ab.", "ab._"}, {"foo_", ""},
      {"a.b_", ""},                {"", ""}};
  for (const auto& [name, compressed] : cases) {
    std::uint8_t missing = 0xAA;
    EXPECT_EQ(CompressedName(name, &missing), compressed) << name;
    EXPECT_EQ(missing, 0) << name;
  }
}

}  // namespace
}  // namespace szdd
