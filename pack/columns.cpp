// Display widths of UTF-8 text for qmrpack's columns.
#include "pack/columns.h"

#include <cstdint>

namespace pack {

namespace {

// The East Asian wide and fullwidth blocks: Hangul Jamo, CJK punctuation, kana, CJK ideographs,
// Hangul syllables, compatibility ideographs and forms, fullwidth forms, and the pictographs
// that terminals draw wide.
struct Range {
  std::uint32_t first, last;
};
constexpr Range kWide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x2E80, 0x303E},   {0x3041, 0x33FF},
    {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},   {0xA960, 0xA97F},   {0xAC00, 0xD7A3},
    {0xF900, 0xFAFF},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6F},   {0xFF00, 0xFF60},   {0xFFE0, 0xFFE6},
    {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

bool IsWide(std::uint32_t code) {
  for (const Range& range : kWide)
    if (code >= range.first && code <= range.last) return true;
  return false;
}

// Decodes the character at `at`; returns its length in bytes (1 for a byte that does not
// start a well-formed sequence) and its code point in *code (0 for such a byte).
std::size_t Decode(const std::string& text, std::size_t at, std::uint32_t* code) {
  const auto lead = static_cast<unsigned char>(text[at]);
  std::size_t extra = 0;
  if (lead >= 0xC2 && lead <= 0xDF) extra = 1;
  if (lead >= 0xE0 && lead <= 0xEF) extra = 2;
  if (lead >= 0xF0 && lead <= 0xF4) extra = 3;
  *code = lead < 0x80 ? lead : 0;
  if (extra == 0 || at + extra >= text.size()) return 1;
  std::uint32_t value = lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto t = static_cast<unsigned char>(text[at + k]);
    if ((t & 0xC0) != 0x80) return 1;
    value = value << 6 | (t & 0x3F);
  }
  *code = value;
  return extra + 1;
}

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    std::uint32_t code = 0;
    at += Decode(utf8, at, &code);
    width += IsWide(code) ? 2 : 1;
  }
  return width;
}

std::string PadToWidth(const std::string& utf8, std::size_t width) {
  const std::size_t has = DisplayWidth(utf8);
  return has >= width ? utf8 : utf8 + std::string(width - has, ' ');
}

}  // namespace pack
