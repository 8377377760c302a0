// POSIX layer, profile files: reading and writing INI files as Windows does, for the keys the
// launcher uses. The text functions are pure, so they can be tested and fuzzed on their own.
#pragma once

#include <string>
#include <string_view>

namespace posix::ini {

// Finds `key` in the first section named `section` (names match regardless of ASCII case,
// surrounding blanks ignored). On success stores the value, with surrounding blanks and one
// pair of matching quotes removed, and returns true.
bool Lookup(std::string_view content, std::string_view section, std::string_view key, std::string* value);

// Returns `content` with `key` of `section` set to `value`: the value of an existing key is
// replaced in place (its line keeps its key spelling and line ending); a missing key is added
// after the last non-blank line of the section; a missing section is appended at the end.
// A null `value` removes the key; a null `key` removes the whole section. Every other line
// stays byte for byte. New lines end as the file's first line does ("\r\n" when it has none).
std::string Update(std::string_view content, std::string_view section, const char* key, const char* value);

}  // namespace posix::ini
