// qmrpack.exe's entry point: the wide command line converted to UTF-8 for the shared code, and
// a console that shows UTF-8 output and the in-place progress line.
#include "platform/winapi.h"

#include <string>
#include <vector>

#include "pack/main.h"

namespace {

std::string Utf8Of(const wchar_t* wide) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string text(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
  text.pop_back();  // the terminating NUL
  return text;
}

// Lets the console interpret the escape sequences of the progress line (Windows 10 and later;
// elsewhere the call fails and the console stays as it was).
void EnableEscapes(DWORD which) {
  const HANDLE console = GetStdHandle(which);
  DWORD mode = 0;
  if (console != INVALID_HANDLE_VALUE && GetConsoleMode(console, &mode))
    SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetConsoleOutputCP(CP_UTF8);
  EnableEscapes(STD_ERROR_HANDLE);
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(Utf8Of(argv[i]));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return QmrpackMain(argc, pointers.data());
}
