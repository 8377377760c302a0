// The setup information file's text in the launcher's code page: the check and the conversion.
#include "pack/info_text.h"

#include <algorithm>

#include "format/layout.h"

namespace pack {

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";
const char kReplacement[] = "\xEF\xBF\xBD";

std::string TextOf(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool PastAscii(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The iconv line that turns a file of the other launcher's code page into this one's.
std::string IconvLine(CodePage code_page, const std::string& source) {
  return code_page == CodePage::kCp932 ? "iconv -f UTF-8 -t CP932 " + source + " > setup-cp932.inf"
                                       : "iconv -f CP932 -t UTF-8 " + source + " > setup-utf8.inf";
}

std::string LauncherOf(CodePage code_page) {
  return code_page == CodePage::kCp932 ? "the Windows launcher" : "the Linux launcher";
}

// What the launcher does to a file in another code page.
std::string Consequence(CodePage code_page) {
  return LauncherOf(code_page) + " writes its presets into it in " + CodePageName(code_page) + " and would damage it";
}

}  // namespace

std::string InfoTextProblem(const Bytes& bytes, CodePage code_page) {
  const std::string text = TextOf(bytes);
  if (text.find('\0') != std::string::npos) return "holds NUL bytes (UTF-16?), so it is not text";
  if (code_page == CodePage::kUtf8) return IsValidUtf8(text) ? "" : "is not UTF-8 (code page 932?)";
  if (PastAscii(text) && IsValidUtf8(text)) return "is UTF-8, not code page 932";
  // Each byte that does not start a character of code page 932 decodes to U+FFFD.
  if (ToUtf8(text, code_page).find(kReplacement) != std::string::npos)
    return "holds bytes that are no character of code page 932";
  return "";
}

std::string InfoTextWarning(const Bytes& text, CodePage code_page) {
  const std::string problem = InfoTextProblem(text, code_page);
  if (problem.empty()) return "";
  return std::string(payload::kSetupInfoCompressed) + " (the setup information file) " + problem + ", but " +
         Consequence(code_page) + "; build the set again from a converted file" +
         (code_page == CodePage::kCp932 ? " or with --convert-inf" : "");
}

Bytes InfoTextForStub(const Bytes& bytes, CodePage code_page, bool convert, const std::string& source) {
  if (!convert) {
    const std::string problem = InfoTextProblem(bytes, code_page);
    if (problem.empty()) return bytes;
    throw PackError(source + ": the setup information file " + problem + ", but " + Consequence(code_page) +
                    "; convert it (" + IconvLine(code_page, source) + ")" +
                    (code_page == CodePage::kCp932 ? " or give --convert-inf" : ""));
  }
  std::string text = TextOf(bytes);
  if (text.compare(0, 3, kUtf8Bom) == 0) text.erase(0, 3);
  if (text.find('\0') != std::string::npos || !IsValidUtf8(text))
    throw PackError(source + ": --convert-inf takes a UTF-8 setup information file, and this one is not UTF-8");
  std::string converted;
  if (!FromUtf8(text, code_page, &converted))
    throw PackError(source + ": --convert-inf: the setup information file holds a character " +
                    CodePageName(code_page) + " cannot write, which " + LauncherOf(code_page) + " cannot read");
  return Bytes(converted.begin(), converted.end());
}

}  // namespace pack
