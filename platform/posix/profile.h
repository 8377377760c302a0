// POSIX layer, profile files: reading and writing INI files as Windows does, for the keys the
// launcher uses. The text functions are pure, so they can be tested and fuzzed on their own.
#pragma once

#include <string>
#include <string_view>

namespace posix::ini {

// Finds `key` in the first section named `section` (names match regardless of ASCII case,
// surrounding blanks ignored; a later section of the same name is not looked in). On success
// stores the value, with surrounding blanks and one pair of matching quotes removed, and
// returns true. A comment line is a key like any other (";name=value" is the key ";name").
bool Lookup(std::string_view content, std::string_view section, std::string_view key, std::string* value);

// Returns `content` with `key` of `section` set to `value`, written out as Windows writes a
// profile file it has changed: every section header and key on a line of its own ending in
// "\r\n", blanks around '=' and blank lines gone, a UTF-8 byte-order mark kept. An existing key
// (the first of its name, in the first section of that name) gets the new value; a missing
// key is added at the end of that section; a missing section is appended at the end. A null
// `value` removes the key; a null `key` removes every section of that name. When nothing
// changes (the key already holds the value), `content` is returned as it was.
std::string Update(std::string_view content, std::string_view section, const char* key, const char* value);

}  // namespace posix::ini
