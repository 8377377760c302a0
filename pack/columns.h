// Columns of qmrpack's listings, padded by the width a terminal gives a text rather than by
// its bytes, so that they stay in line after a Japanese name.
#pragma once

#include <cstddef>
#include <string>

namespace pack {

// The columns a terminal gives UTF-8 text: 2 for each East Asian wide or fullwidth character,
// 1 for any other character and for each byte that does not decode.
std::size_t DisplayWidth(const std::string& utf8);

// The text followed by the spaces that make it `width` columns wide (none when it is wider).
std::string PadToWidth(const std::string& utf8, std::size_t width);

}  // namespace pack
