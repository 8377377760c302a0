// The setup program the Wine tests put in their sets: it records how the launcher started it
// (command line, own path, working directory) and the setup information file it finds beside
// it, in the file named by QMR_TEST_RECORD, then exits.
#include <windows.h>

namespace {

// The record under construction: UTF-8 lines, then the information file's bytes unchanged.
char g_record[65536];
DWORD g_length = 0;

void Append(const char* bytes, DWORD count) {
  for (DWORD i = 0; i < count && g_length < sizeof g_record; ++i) g_record[g_length++] = bytes[i];
}

void AppendText(const char* text) { Append(text, lstrlenA(text)); }

void AppendWide(const wchar_t* text) {
  char utf8[4096];
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, nullptr, nullptr);
  if (n > 1) Append(utf8, static_cast<DWORD>(n - 1));
}

void AppendLine(const char* key, const wchar_t* value) {
  AppendText(key);
  AppendText("=");
  AppendWide(value);
  AppendText("\n");
}

// Appends the bytes of the information file in the directory of `module`, or "(missing)".
void AppendInformationFile(const wchar_t* module) {
  wchar_t path[MAX_PATH + 32];
  lstrcpynW(path, module, MAX_PATH);
  wchar_t* name = path;
  for (wchar_t* p = path; *p != L'\0'; ++p)
    if (*p == L'\\') name = p + 1;
  lstrcpyW(name, L"qmrsetup.inf");
  AppendText("--- qmrsetup.inf\n");
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    AppendText("(missing)\n");
    return;
  }
  char buffer[16384];
  DWORD read = 0;
  while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) Append(buffer, read);
  CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  wchar_t record[MAX_PATH];
  if (GetEnvironmentVariableW(L"QMR_TEST_RECORD", record, MAX_PATH - 8) == 0) return 2;

  wchar_t module[MAX_PATH], directory[MAX_PATH];
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  GetCurrentDirectoryW(MAX_PATH, directory);
  AppendLine("command_line", GetCommandLineW());
  AppendLine("module", module);
  AppendLine("directory", directory);
  AppendInformationFile(module);

  // Written beside the record and renamed, so the tests never read half a record.
  wchar_t part[MAX_PATH];
  lstrcpyW(part, record);
  lstrcatW(part, L".part");
  HANDLE out = CreateFileW(part, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  const BOOL ok = WriteFile(out, g_record, g_length, &written, nullptr) && written == g_length;
  CloseHandle(out);
  if (!ok || !MoveFileExW(part, record, MOVEFILE_REPLACE_EXISTING)) return 4;
  return 0;
}
