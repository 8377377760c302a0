// Entry names of a set: the stub's code page, the rule the launcher applies to a name, and the
// names compressed files are shipped under.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "format/names.h"
#include "pack/stub.h"

namespace pack {

// Every refusal of the packer: a one-line reason, naming the file or entry it concerns.
class PackError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The code page entry names and the version text are written in: the Windows launcher reads
// them in code page 932 (Japanese Windows), the Linux launcher in UTF-8.
enum class CodePage { kCp932, kUtf8 };

CodePage CodePageOf(StubKind kind);
const char* CodePageName(CodePage code_page);
payload::LeadBytePredicate LeadBytesOf(CodePage code_page);

// The byte length of the well-formed UTF-8 character at `at` (not an overlong form, a surrogate
// or past U+10FFFF), its code point in *code; 0 when no such character starts there.
std::size_t Utf8CharacterAt(const std::string& text, std::size_t at, std::uint32_t* code);
bool IsValidUtf8(const std::string& text);

// Converts UTF-8 text (a file name as this system spells it) into the code page. Returns false
// when the text is not valid UTF-8 or holds a character the code page cannot write, or writes
// only as bytes that read back as another character.
bool FromUtf8(const std::string& utf8, CodePage code_page, std::string* out);

// Converts text of the code page into UTF-8 for display; bytes that do not decode become U+FFFD.
std::string ToUtf8(const std::string& text, CodePage code_page);

// A name of the code page for a message: in UTF-8, within double quotes.
inline std::string Quoted(const std::string& name, CodePage code_page) { return "\"" + ToUtf8(name, code_page) + "\""; }

// Why the launcher would refuse to extract an entry of this name (bytes in the code page), or
// an empty text when it accepts it. Covers what the format can hold (1 to 254 bytes) and the
// launcher's own rule (IsPlainFileName).
std::string EntryNameProblem(const std::string& name, CodePage code_page);

// True when Windows takes the two names for the same file: equal but for the case of ASCII
// letters (characters are compared whole, so a trail byte is never folded).
bool SameFileName(const std::string& a, const std::string& b, CodePage code_page);

// The name a compressed file is shipped under, and the character its SZDD header records for
// the underscore, following the classic rule that LZ32 reverses: the last character of the
// extension (the text after the first dot) is replaced by '_' when the extension has three
// bytes or more and ends in a single-byte character ("setup.exe" -> "setup.ex_", 'e'); a
// shorter extension, or one ending in a double-byte or UTF-8 character, gets '_' appended
// ("a.c" -> "a.c_"); a name without a dot gets "._" ("README" -> "README._").
struct CompressedName {
  std::string name;
  std::uint8_t missing_char = 0;
};
CompressedName ShippedCompressedName(const std::string& name, CodePage code_page);

// The name a compressed file expands to, from its name and the character its header records:
// the trailing '_' becomes that character (or goes when it is 0), and a dot left at the end
// goes too. Empty when the name does not end in '_'.
std::string ExpandedFileName(const std::string& compressed, std::uint8_t missing_char);

}  // namespace pack
