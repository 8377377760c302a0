// Entry names of a set: the code-page rules by which they are walked and the rule that says
// which names the launcher writes. One definition for the launcher and the packer.
#pragma once

#include <cstddef>
#include <string_view>

namespace payload {

// Tells whether a byte opens a double-byte character of the code page in use (non-zero: it does).
// The platform's IsDBCSLeadByte has this shape.
using LeadBytePredicate = int (*)(unsigned char);

// The byte length of the character at `p`: 2 for a lead byte followed by a trail byte. A lead
// byte at the end of the text counts as a character of its own.
inline std::size_t CharacterLength(const char* p, LeadBytePredicate is_lead) {
  return (is_lead(static_cast<unsigned char>(*p)) && p[1] != '\0') ? 2 : 1;
}

// The letter in upper case for an ASCII lower-case letter; any other byte as it is. The one
// case fold of names: Windows file names, devices, profile sections and keys.
inline char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when two byte strings are equal once ASCII letters are folded to one case; no code page:
// for texts whose other bytes are compared as they are (section and key names, resource types).
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

// What keeps an entry name from being a plain file name, the first fault the rule below finds.
// (kWindowsCharacter: one of * ? " < > |.)
enum class NameFault { kNone, kEmpty, kDirectoryPart, kControlCharacter, kWindowsCharacter, kTrailingDotOrSpace,
                       kDevice };

// Walks a name by the rule of IsPlainFileName and tells its first fault; for a character that
// a Windows file name cannot hold (kWindowsCharacter), that character in *character, which is
// written for that fault only.
NameFault PlainNameFault(const char* name, LeadBytePredicate is_lead, char* character);

// True when an entry of the set may be written under this name in the target directory: a
// plain file name, not empty, with no directory part (backslash, slash, colon), no character
// that a Windows file name cannot hold, no trailing dot or space (Windows strips them, so
// ".. " would name the parent), and not a device name (CON, NUL, COM1, ...).
inline bool IsPlainFileName(const char* name, LeadBytePredicate is_lead) {
  char character;  // not read: the launcher's rule needs no reason (and so stays as small as it was)
  return PlainNameFault(name, is_lead, &character) == NameFault::kNone;
}

// True when Windows opens a device for a file of this name in any directory: CON, PRN, AUX,
// NUL, COM1-COM9, LPT1-LPT9, CONIN$ and CONOUT$, in any letter case, alone or before an
// extension, with or without spaces before the dot ("con.txt", "COM1 .log", "NUL . x").
bool IsDeviceName(const char* name);

// The device a name opens, as spelled in the list above ("NUL" for "nul .txt"); null for a name
// that names no device.
const char* DeviceOf(const char* name);

// True when two names name one file on Windows: equal once ASCII letters are folded to one
// case, walked by characters so that a double-byte character's trail byte is never folded.
bool SameFileName(const char* a, const char* b, LeadBytePredicate is_lead);

// Code-page rules, usable on any platform: code page 932 (Japanese Windows) and UTF-8 /
// single-byte code pages, in which no byte opens a double-byte character.
int IsLeadByteCp932(unsigned char byte);
int IsLeadByteNone(unsigned char byte);

}  // namespace payload
