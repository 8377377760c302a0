// Path and text rules of the launcher, walked forward by characters of the ANSI code page.
#include "extract/text.h"

namespace {

// The byte length of the character at `p`: 2 for a lead byte followed by a trail byte.
// A lead byte at the end of the text counts as a character of its own.
inline std::size_t CharLength(const char* p, LeadBytePredicate is_lead) {
  return (is_lead(static_cast<BYTE>(*p)) && p[1] != '\0') ? 2 : 1;
}

std::size_t Length(const char* text) {
  std::size_t n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

bool EqualsIgnoreAsciiCase(const char* a, std::size_t n, const char* b) {
  for (std::size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (y == '\0') return false;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return b[n] == '\0';
}

// Device names that Windows opens as devices in any directory, with or without an extension.
bool IsDeviceName(const char* name) {
  std::size_t stem = 0;
  while (name[stem] != '\0' && name[stem] != '.') ++stem;
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (EqualsIgnoreAsciiCase(name, stem, device)) return true;
  return false;
}

}  // namespace

const char* FileNamePart(const char* path, LeadBytePredicate is_lead) {
  const char* part = path;
  for (const char* p = path; *p != '\0'; p += CharLength(p, is_lead))
    if (*p == '\\') part = p + 1;
  return part;
}

bool EndsWithBackslash(const char* text, LeadBytePredicate is_lead) {
  const char* last = nullptr;
  for (const char* p = text; *p != '\0'; p += CharLength(p, is_lead)) last = p;
  return last != nullptr && *last == '\\' && last[1] == '\0';
}

bool ReplaceFileNameIn(char* path, std::size_t capacity, const char* name, LeadBytePredicate is_lead) {
  if (path[0] == '\0') return true;
  char* part = const_cast<char*>(FileNamePart(path, is_lead));
  std::size_t keep = static_cast<std::size_t>(part - path);
  std::size_t name_length = Length(name);
  if (keep + name_length + 1 > capacity) return false;
  for (std::size_t i = 0; i <= name_length; ++i) part[i] = name[i];
  return true;
}

bool AppendBackslashIfMissing(char* dir, std::size_t capacity, LeadBytePredicate is_lead) {
  if (EndsWithBackslash(dir, is_lead)) return true;
  std::size_t n = Length(dir);
  if (n + 2 > capacity) return false;
  dir[n] = '\\';
  dir[n + 1] = '\0';
  return true;
}

bool JoinTexts(char* out, std::size_t capacity, const char* a, const char* b) {
  std::size_t na = Length(a), nb = Length(b);
  if (na + nb + 1 > capacity) {
    if (capacity > 0) out[0] = '\0';
    return false;
  }
  for (std::size_t i = 0; i < na; ++i) out[i] = a[i];
  for (std::size_t i = 0; i <= nb; ++i) out[na + i] = b[i];
  return true;
}

bool IsPlainFileName(const char* name, LeadBytePredicate is_lead) {
  if (name[0] == '\0') return false;
  const char* last = name;
  for (const char* p = name; *p != '\0'; p += CharLength(p, is_lead)) {
    last = p;
    if (CharLength(p, is_lead) == 2) continue;
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20) return false;
    switch (c) {
      case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return false;
      default:
        break;
    }
  }
  if (CharLength(last, is_lead) == 1 && (*last == '.' || *last == ' ')) return false;
  return !IsDeviceName(name);
}

BOOL WINAPI IsLeadByteCp932(BYTE byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

BOOL WINAPI IsLeadByteNone(BYTE) { return FALSE; }
