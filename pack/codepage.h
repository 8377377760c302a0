// Conversion between UTF-8 and code page 932 by the system's own converter: iconv on Linux
// (codepage_iconv.cpp), the Windows API on Windows (codepage_windows.cpp).
#pragma once

#include <string>

namespace pack {

// Converts valid UTF-8 text into code page 932. Returns false when a character has no form
// there (no best-fit substitutes: "ü" is refused, not written as "u"). The system's table may
// still map a character one way only; FromUtf8 (names.h) holds the rule that refuses those.
bool Utf8ToCp932(const std::string& utf8, std::string* out);

// Converts code page 932 text into UTF-8; each byte that does not start a character of the
// code page becomes U+FFFD and the conversion goes on after it.
std::string Cp932ToUtf8(const std::string& text);

// Windows only: `length` UTF-16 units as UTF-8, each unpaired surrogate as U+FFFD.
std::string Utf8OfWide(const wchar_t* wide, int length);

}  // namespace pack
