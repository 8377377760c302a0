// qmrpack.exe's entry point: the wide command line converted to UTF-8 for the shared code, and
// a console that shows UTF-8 output and the in-place progress line.
#include "platform/winapi.h"

#include <cwchar>
#include <string>
#include <vector>

#include "pack/codepage.h"
#include "pack/main.h"

namespace {

// The console as qmrpack wants it while it runs: UTF-8 output, and escape sequences for the
// progress line on standard error (Windows 10 and later; elsewhere that call fails and the
// mode stays). Both are given back to the user's console when the command is done.
class ConsoleSettings {
 public:
  ConsoleSettings() : code_page_(GetConsoleOutputCP()), error_(GetStdHandle(STD_ERROR_HANDLE)) {
    SetConsoleOutputCP(CP_UTF8);
    if (error_ != INVALID_HANDLE_VALUE && GetConsoleMode(error_, &mode_)) {
      has_mode_ = true;
      SetConsoleMode(error_, mode_ | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
    }
  }
  ~ConsoleSettings() {
    if (has_mode_) SetConsoleMode(error_, mode_);
    if (code_page_ != 0) SetConsoleOutputCP(code_page_);
  }
  ConsoleSettings(const ConsoleSettings&) = delete;
  ConsoleSettings& operator=(const ConsoleSettings&) = delete;

 private:
  UINT code_page_;
  HANDLE error_;
  DWORD mode_ = 0;
  bool has_mode_ = false;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const ConsoleSettings console;
  std::vector<std::string> arguments;
  for (int i = 0; i < argc; ++i) arguments.push_back(pack::Utf8OfWide(argv[i], static_cast<int>(std::wcslen(argv[i]))));
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return QmrpackMain(argc, pointers.data());
}
