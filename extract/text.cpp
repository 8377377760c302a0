// Path and text rules of the launcher, walked forward by characters of the ANSI code page.
#include "extract/text.h"

namespace {

using payload::CharacterLength;

std::size_t Length(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

}  // namespace

const char* FileNamePart(const char* path, LeadBytePredicate is_lead) {
  const char* part = path;
  for (const char* p = path; *p != '\0'; p += CharacterLength(p, is_lead))
    if (*p == '\\') part = p + 1;
  return part;
}

bool EndsWithBackslash(const char* text, LeadBytePredicate is_lead) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p += CharacterLength(p, is_lead)) last = p;
  return last != nullptr && *last == '\\' && last[1] == '\0';
}

int ReplaceFileName(char* path, std::size_t capacity, const char* name, LeadBytePredicate is_lead) {
  if (path[0] == '\0') return 1;
  char* part = const_cast<char*>(FileNamePart(path, is_lead));
  std::size_t keep = static_cast<std::size_t>(part - path);
  std::size_t name_length = Length(name);
  if (keep + name_length + 1 > capacity) return 0;
  for (std::size_t i = 0; i <= name_length; ++i) part[i] = name[i];
  return 1;
}

int AppendBackslashIfMissing(char* dir, std::size_t capacity, LeadBytePredicate is_lead) {
  if (EndsWithBackslash(dir, is_lead)) return 1;
  std::size_t n = Length(dir);
  if (n + 2 > capacity) return 0;
  dir[n] = '\\';
  dir[n + 1] = '\0';
  return 1;
}

int JoinTexts(char* out, std::size_t capacity, const char* a, const char* b) {
  std::size_t na = Length(a), nb = Length(b);
  if (na + nb + 1 > capacity) {
    if (capacity > 0) out[0] = '\0';
    return 0;
  }
  for (std::size_t i = 0; i < na; ++i) out[i] = a[i];
  for (std::size_t i = 0; i <= nb; ++i) out[na + i] = b[i];
  return 1;
}
