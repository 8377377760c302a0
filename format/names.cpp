// The entry-name rule of the set, walked forward by characters of the code page.
#include "format/names.h"

namespace payload {

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

const char* DeviceOf(const char* name) {
  // The part before the first dot, without the spaces that end it: Windows strips them before
  // it compares, so "CON .txt" and "NUL . x" are devices too.
  std::size_t stem = 0;
  while (name[stem] != '\0' && name[stem] != '.') ++stem;
  while (stem > 0 && name[stem - 1] == ' ') --stem;
  static const char* const kDevices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4",
                                         "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2", "LPT3",
                                         "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (EqualIgnoringAsciiCase({name, stem}, device)) return device;
  return nullptr;
}

bool IsDeviceName(const char* name) { return DeviceOf(name) != nullptr; }

bool SameFileName(const char* a, const char* b, LeadBytePredicate is_lead) {
  while (*a != '\0' && *b != '\0') {
    const std::size_t length = CharacterLength(a, is_lead);
    if (length != CharacterLength(b, is_lead)) return false;
    if (length == 2 ? (a[0] != b[0] || a[1] != b[1]) : AsciiUpper(*a) != AsciiUpper(*b)) return false;
    a += length;
    b += length;
  }
  return *a == *b;
}

NameFault PlainNameFault(const char* name, LeadBytePredicate is_lead, char* character) {
  if (name[0] == '\0') return NameFault::kEmpty;
  const char* last = name;
  for (const char* p = name; *p != '\0'; p += CharacterLength(p, is_lead)) {
    last = p;
    if (CharacterLength(p, is_lead) == 2) continue;
    const auto c = static_cast<unsigned char>(*p);
    if (c < 0x20) return NameFault::kControlCharacter;
    switch (c) {
      case '\\': case '/': case ':':
        return NameFault::kDirectoryPart;
      case '*': case '?': case '"': case '<': case '>': case '|':
        *character = *p;
        return NameFault::kWindowsCharacter;
      default:
        break;
    }
  }
  if (CharacterLength(last, is_lead) == 1 && (*last == '.' || *last == ' ')) return NameFault::kTrailingDotOrSpace;
  return IsDeviceName(name) ? NameFault::kDevice : NameFault::kNone;
}

int IsLeadByteCp932(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

int IsLeadByteNone(unsigned char) { return 0; }

}  // namespace payload
