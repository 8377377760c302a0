// Entry names: code-page conversion, the launcher's name rule with its reasons, and the shipped
// names of compressed files.
#include "pack/names.h"

#include <cstdio>

#include "format/layout.h"
#include "pack/codepage.h"

namespace pack {

using payload::IsLeadByteCp932;
using payload::IsLeadByteNone;
using payload::LeadBytePredicate;

CodePage CodePageOf(StubKind kind) { return kind == StubKind::kWindows ? CodePage::kCp932 : CodePage::kUtf8; }

const char* CodePageName(CodePage code_page) { return code_page == CodePage::kCp932 ? "code page 932" : "UTF-8"; }

LeadBytePredicate LeadBytesOf(CodePage code_page) {
  return code_page == CodePage::kCp932 ? IsLeadByteCp932 : IsLeadByteNone;
}

std::size_t Utf8CharacterAt(const std::string& text, std::size_t at, std::uint32_t* code) {
  const auto lead = static_cast<unsigned char>(text[at]);
  *code = lead;
  if (lead < 0x80) return 1;
  std::size_t extra = 0;
  if (lead >= 0xC2 && lead <= 0xDF) extra = 1;
  if (lead >= 0xE0 && lead <= 0xEF) extra = 2;
  if (lead >= 0xF0 && lead <= 0xF4) extra = 3;
  if (extra == 0 || at + extra >= text.size()) return 0;
  *code = lead & (0x3F >> extra);
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto t = static_cast<unsigned char>(text[at + k]);
    if ((t & 0xC0) != 0x80) return 0;
    *code = *code << 6 | (t & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF.
  if ((extra == 2 && *code < 0x800) || (extra == 3 && (*code < 0x10000 || *code > 0x10FFFF)) ||
      (*code >= 0xD800 && *code <= 0xDFFF))
    return 0;
  return extra + 1;
}

bool IsValidUtf8(const std::string& text) {
  std::uint32_t code = 0;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length)
    if ((length = Utf8CharacterAt(text, at, &code)) == 0) return false;
  return true;
}

bool FromUtf8(const std::string& utf8, CodePage code_page, std::string* out) {
  if (!IsValidUtf8(utf8)) return false;
  if (code_page == CodePage::kUtf8) {
    *out = utf8;
    return true;
  }
  // A system's table may map a character one way only (glibc writes U+301C as 81 60, which
  // Windows reads back as U+FF5E): a name converts only when it reads back as the same
  // characters, so that both systems' packers accept and write the same names.
  return Utf8ToCp932(utf8, out) && Cp932ToUtf8(*out) == utf8;
}

std::string ToUtf8(const std::string& text, CodePage code_page) {
  if (code_page != CodePage::kUtf8) return Cp932ToUtf8(text);
  // Keep what decodes; mark each byte that does not.
  std::string out;
  std::uint32_t code = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8CharacterAt(text, at, &code);
    out += length == 0 ? std::string("\xEF\xBF\xBD") : text.substr(at, length);
    at += length == 0 ? 1 : length;
  }
  return out;
}

std::string EntryNameProblem(const std::string& name, CodePage code_page) {
  const std::size_t longest = payload::kMaxNameLength - 1;  // the length byte counts the NUL
  if (name.size() > longest)
    return "is " + std::to_string(name.size()) + " bytes long; an entry name holds at most " +
           std::to_string(longest);
  if (name.find('\0') != std::string::npos) return "holds a NUL byte";
  if (code_page == CodePage::kUtf8 && !IsValidUtf8(name)) return "is not valid UTF-8";
  // The launcher's rule, its faults told in the order of payload::NameFault.
  static const char* const kFaults[] = {"", "is empty", "has a directory part", "holds a control character", "",
                                        "ends in a dot or a space, which Windows strips", "is a device name"};
  char character = 0;
  const payload::NameFault fault = payload::PlainNameFault(name.c_str(), LeadBytesOf(code_page), &character);
  if (fault == payload::NameFault::kWindowsCharacter)
    return std::string("holds '") + character + "', which Windows file names cannot";
  return kFaults[static_cast<int>(fault)];
}

bool SameFileName(const std::string& a, const std::string& b, CodePage code_page) {
  return a.size() == b.size() && payload::SameFileName(a.c_str(), b.c_str(), LeadBytesOf(code_page));
}

CompressedName ShippedCompressedName(const std::string& name, CodePage code_page) {
  const LeadBytePredicate is_lead = LeadBytesOf(code_page);
  std::size_t dot = std::string::npos, last_char = 0;
  // By the launcher's walk: a file name holds no NUL, so its end is the string's.
  for (std::size_t at = 0; at < name.size(); at += payload::CharacterLength(&name[at], is_lead)) {
    if (dot == std::string::npos && name[at] == '.') dot = at;
    last_char = at;
  }
  if (dot == std::string::npos) return {name + "._"};
  const auto last = static_cast<unsigned char>(name[last_char]);
  const bool single_byte = last_char + 1 == name.size() && last < 0x80;
  if (name.size() - dot - 1 < 3 || !single_byte) return {name + "_"};  // the extension is shorter than 3 bytes
  return {name.substr(0, name.size() - 1) + "_", last};
}

std::string ExpandedFileName(const std::string& compressed, std::uint8_t missing_char) {
  if (compressed.empty() || compressed.back() != '_') return "";
  std::string name = compressed.substr(0, compressed.size() - 1);
  if (missing_char != 0) name += static_cast<char>(missing_char);
  if (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

}  // namespace pack
