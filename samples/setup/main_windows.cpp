// The sample setup program on Windows: shows its report in a message box (it is started by a
// GUI launcher, with no console).
#include <windows.h>

#include <string>

#include "report.h"

namespace {

// The launcher's code page: the names in the information file are written in it, whatever the
// system's own code page.
constexpr UINT kLauncherCodePage = 932;

std::wstring Wide(const std::string& text, UINT code_page = CP_UTF8) {
  const int n = MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// Reads a whole file; nothing when it cannot be opened or read.
std::optional<std::string> ReadWhole(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string data;
  char buffer[16384];
  DWORD read = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &read, nullptr) != 0) && read > 0) data.append(buffer, read);
  CloseHandle(file);
  if (!ok) return std::nullopt;
  return data;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring program(self, n < MAX_PATH ? n : 0);
  const std::wstring directory = program.substr(0, program.rfind(L'\\') + 1);
  const sample::Report report = sample::MakeReport(
      Utf8(program), [&](const std::string& name) { return ReadWhole(directory + Wide(name, kLauncherCodePage)); },
      [](const std::string& text) { return Utf8(Wide(text, kLauncherCodePage)); });
  MessageBoxW(nullptr, Wide(report.text).c_str(), Wide(report.title).c_str(),
              MB_OK | (report.ok ? MB_ICONINFORMATION : MB_ICONERROR));
  return report.ok ? 0 : 1;
}
