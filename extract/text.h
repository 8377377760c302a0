// Path and text rules of the launcher: pure functions over ANSI texts, walked by characters of
// the code page so that a double-byte character's trail byte 0x5C is never taken for a backslash.
#pragma once

#include <cstddef>

#include "format/names.h"

// Procedures that build a text return 1 on success and 0 when the result would not fit, as
// every procedure of the launcher does; predicates return bool.

using payload::LeadBytePredicate;

// The start of the last component of `path`: the byte after its last backslash, or `path`
// itself when it has none. A slash or a colon is not a separator.
const char* FileNamePart(const char* path, LeadBytePredicate is_lead);

// True when the text's last character is a backslash (false for an empty text).
bool EndsWithBackslash(const char* text, LeadBytePredicate is_lead);

// Replaces, in place, the last component of `path` (a text of `capacity` bytes) with `name`.
// A path with no backslash is replaced whole; an empty path is left empty. Returns 0,
// leaving `path` unchanged, when the result would not fit.
int ReplaceFileName(char* path, std::size_t capacity, const char* name, LeadBytePredicate is_lead);

// Appends a backslash unless the text already ends with one (an empty text becomes "\").
// Returns 0, leaving `dir` unchanged, when there is no room for it.
int AppendBackslashIfMissing(char* dir, std::size_t capacity, LeadBytePredicate is_lead);

// Copies `a` followed by `b` into `out` (`capacity` bytes). Returns 0, leaving `out`
// empty, when the result would not fit.
int JoinTexts(char* out, std::size_t capacity, const char* a, const char* b);
