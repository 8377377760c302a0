// A DLL planted beside a program, as anyone can drop one into a downloads folder; the Wine tests
// build it as lz32.dll and as comctl32.dll. Being loaded is all it records: it appends the path
// of the program that loaded it to "<its own path>.loaded" (a file beside itself, since Wine
// gives a DLL the environment of the process, not of the test). As lz32.dll every export
// forwards to KERNEL32, where LZ32's functions live, so a program that loads it works as
// before; as comctl32.dll its two exports do nothing.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  wchar_t marker[MAX_PATH + 8];
  const DWORD length = GetModuleFileNameW(self, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcatW(marker, L".loaded");

  wchar_t program[MAX_PATH];
  const DWORD program_length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  char line[MAX_PATH * 3 + 1];
  int bytes = WideCharToMultiByte(CP_UTF8, 0, program, static_cast<int>(program_length), line, MAX_PATH * 3,
                                  nullptr, nullptr);
  line[bytes++] = '\n';
  HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}

// The exports of the comctl32.dll build (see planted_comctl32.def).
extern "C" void WINAPI PlantedInitCommonControls() {}
extern "C" BOOL WINAPI PlantedInitCommonControlsEx(const void*) { return TRUE; }
