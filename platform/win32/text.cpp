// Windows layer, texts: the Windows API's text functions, and the conversions between the
// launcher's code page, the wide-character API and the process's ANSI code page.
#include "platform/win32/layer.h"

namespace win32 {

namespace {

// Converts `wide` into the process's ANSI code page exactly, never by best fit (which can
// turn a character into a backslash or a dot): a character the code page lacks fails the
// conversion (0). Returns the bytes needed with the NUL; writes them only when they fit `size`.
int ToAnsi(const wchar_t* wide, char* out, int size) {
  // UTF-8 holds every character, and its conversion takes neither the flag nor the out-flag.
  const bool utf8 = GetACP() == CP_UTF8;
  const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  const int needed = WideCharToMultiByte(CP_ACP, flags, wide, -1, nullptr, 0, nullptr, utf8 ? nullptr : &used_default);
  if (needed <= 0 || used_default) return 0;
  if (needed <= size) WideCharToMultiByte(CP_ACP, flags, wide, -1, out, size, nullptr, nullptr);
  return needed;
}

}  // namespace

const wchar_t* LauncherTextToWide(const char* text, wchar_t* wide, int capacity) {
  if (text == nullptr) return nullptr;
  // A character of the code page is one or two bytes and one UTF-16 unit: the units fit.
  int length = lstrlenA(text);
  if (length > capacity - 1) length = capacity - 1;
  const int converted = MultiByteToWideChar(kLauncherCodePage, 0, text, length, wide, capacity - 1);
  wide[converted > 0 ? converted : 0] = L'\0';
  return wide;
}

int WideToLauncherText(const wchar_t* wide, char* text, int size) {
  if (size <= 0) return 0;
  int written = 0;
  // One UTF-16 unit at a time, so a character that does not fit whole is left out whole.
  for (const wchar_t* unit = wide; *unit != L'\0'; ++unit) {
    char bytes[4];
    const int n = WideCharToMultiByte(kLauncherCodePage, 0, unit, 1, bytes, sizeof bytes, nullptr, nullptr);
    if (n <= 0 || written + n > size - 1) break;
    for (int i = 0; i < n; ++i) text[written++] = bytes[i];
  }
  text[written] = '\0';
  return written;
}

DWORD WidePathToAnsi(const wchar_t* wide, char* path, DWORD size) {
  const int capacity = static_cast<int>(size);
  int needed = ToAnsi(wide, path, capacity);
  if (needed == 0 || needed > capacity) {
    // The short form, where the volume keeps short names; the long one itself where it does not.
    wchar_t short_form[kWidePathSize];
    const DWORD length = GetShortPathNameW(wide, short_form, kWidePathSize);
    const int short_needed = length > 0 && length < kWidePathSize ? ToAnsi(short_form, path, capacity) : 0;
    if (short_needed != 0 && (needed == 0 || short_needed <= capacity)) needed = short_needed;
  }
  // A path that only '?' in place of its characters would name is another path, or none:
  // it is not given at all.
  if (needed <= 0) {
    if (size > 0) path[0] = '\0';
    SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return 0;
  }
  return static_cast<DWORD>(needed <= capacity ? needed - 1 : needed);
}

void FillTextOps(SystemOps& ops) {
  ops.lstrcpyA = ::lstrcpyA;
  ops.lstrlenA = ::lstrlenA;
  ops.wsprintfA = ::wsprintfA;
  // The process's own rule, as the file functions walk the names the core gives them.
  ops.IsDBCSLeadByte = ::IsDBCSLeadByte;
}

}  // namespace win32
