// Code page 932 through the Windows API, which holds the table the Windows launcher reads
// names with.
#include "platform/winapi.h"

#include "format/names.h"
#include "pack/codepage.h"

namespace pack {

namespace {

constexpr UINT kCp932 = 932;

std::wstring WideOfUtf8(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, wide.data(), length);
  return wide;
}

}  // namespace

std::string Utf8OfWide(const wchar_t* wide, int length) {
  if (length <= 0) return std::string();
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_UTF8, 0, wide, length, utf8.data(), size, nullptr, nullptr);
  return utf8;
}

bool Utf8ToCp932(const std::string& utf8, std::string* out) {
  out->clear();
  const std::wstring wide = WideOfUtf8(utf8);
  if (wide.empty()) return utf8.empty();
  const int length = static_cast<int>(wide.size());
  BOOL defaulted = FALSE;
  const int size =
      WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0, nullptr, &defaulted);
  if (size <= 0 || defaulted) return false;
  out->resize(static_cast<std::size_t>(size));
  WideCharToMultiByte(kCp932, WC_NO_BEST_FIT_CHARS, wide.data(), length, out->data(), size, nullptr, &defaulted);
  return !defaulted;
}

std::string Cp932ToUtf8(const std::string& text) {
  // Character by character, so that a byte the table does not decode is replaced alone, as
  // the iconv converter of the Linux build replaces it.
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = payload::IsLeadByteCp932(static_cast<unsigned char>(text[at])) && at + 1 < text.size() ? 2 : 1;
    wchar_t wide[2];
    const int n = MultiByteToWideChar(kCp932, MB_ERR_INVALID_CHARS, text.data() + at, static_cast<int>(length), wide, 2);
    if (n > 0) {
      out += Utf8OfWide(wide, n);
      at += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++at;
    }
  }
  return out;
}

}  // namespace pack
