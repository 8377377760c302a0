// What the files of the Windows layer share: the per-area fill functions of the table, the
// conversions between the launcher's code page and the wide-character API, and the loading of
// system DLLs from the system directory only.
#pragma once

#include "platform/system.h"

namespace win32 {

void FillFileOps(SystemOps& ops);
void FillProfileOps(SystemOps& ops);
void FillResourceOps(SystemOps& ops);
void FillProcessOps(SystemOps& ops);
void FillTextOps(SystemOps& ops);
void FillUiOps(SystemOps& ops);
void FillLzOps(SystemOps& ops);

// The code page of the launcher's texts (its resources, the prompts the core formats, the
// names in its sets): Japanese, whatever the system's own code page is.
constexpr UINT kLauncherCodePage = 932;

// Characters of a path from the wide-character API, its long form included.
constexpr DWORD kWidePathSize = 1024;
// Characters of a text the core formats (wsprintfA writes at most 1024 bytes) and its NUL.
constexpr int kWideTextSize = 1025;

// Converts a text of the launcher's code page into `wide` (`capacity` characters with the
// NUL). Returns `wide`, or null for a null text; a text too long is cut at `capacity` - 1.
const wchar_t* LauncherTextToWide(const char* text, wchar_t* wide, int capacity);

// Converts a wide text into the launcher's code page: at most size - 1 bytes and a NUL, cut
// before a character that does not fit whole. Returns the bytes written without the NUL.
int WideToLauncherText(const wchar_t* wide, char* text, int size);

// Converts a path from the wide-character API into the process's ANSI code page, as the file
// functions take it: exactly when the code page holds every character, else its short form
// when that one converts exactly (short names are ASCII). Never the lossy conversion the ANSI
// functions themselves give: '?' in place of a character names another path, or none.
// Writes it into `path` when it fits `size` bytes with the NUL; returns its length without the
// NUL, or the size it needs, NUL included, when it does not fit; 0, with an empty text and
// ERROR_NO_UNICODE_TRANSLATION, when no form converts exactly.
DWORD WidePathToAnsi(const wchar_t* wide, char* path, DWORD size);

// Restricts the DLL search of this process to the system directory where Windows can
// (Windows 8, or 7 with its update KB2533623), so that no DLL planted beside the launcher is
// ever loaded. Reached through GetProcAddress: a static import would stop older systems.
void RestrictDllSearch();

// Loads a DLL from the system directory only, never from the launcher's directory. Null when
// it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);

// The address of `function` in the system DLL `library`, or null. Loads the DLL on first use.
// Callers name the type as the SDK declares the function: decltype(&::LZCopy).
template <typename Function>
Function SystemFunction(const char* library, const char* function) {
  HMODULE module = LoadSystemLibrary(library);
  if (module == nullptr) return nullptr;
  // Through a generic function pointer: the conversion from FARPROC is then well defined.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, function)));
}

}  // namespace win32
