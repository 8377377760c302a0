// Display widths of UTF-8 text for qmrpack's columns.
#include "pack/columns.h"

#include <cstdint>

#include "pack/names.h"

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

}  // namespace

std::size_t DisplayWidth(const std::string& utf8) {
  std::size_t width = 0;
  for (std::size_t at = 0; at < utf8.size();) {
    std::uint32_t code = 0;
    const std::size_t length = Utf8CharacterAt(utf8, at, &code);
    width += length != 0 && IsWide(code) ? 2 : 1;
    at += length == 0 ? 1 : length;
  }
  return width;
}

std::string PadToWidth(const std::string& utf8, std::size_t width) {
  const std::size_t has = DisplayWidth(utf8);
  return has >= width ? utf8 : utf8 + std::string(width - has, ' ');
}

}  // namespace pack
