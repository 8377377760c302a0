// Starts a program under Wine and times it from just before CreateProcess, the way a person
// starting it would see it: to its first visible window, to the start of the setup program it
// hands over to, or to its exit. A window it waits for is answered at once by posting the
// button's command to it, as a click would.
//
//   qmrbench_start.exe [--temp DIR] [--answer ID] [--stamp FILE] --until window|setup|exit
//                      -- PROGRAM [ARGUMENT...]
// --temp sets TEMP and TMP for the program; --answer is the button to press in its first
// window (IDOK 1, IDYES 6, IDNO 7); --until setup waits for qmrbench_stamp.exe, started by the
// program, to write its start into FILE. Prints "<seconds to the end> <seconds to the first
// window, or -1> <exit code>".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bench/windows/clock.h"

namespace {

using qmrbench::Now;
using qmrbench::Seconds;

constexpr DWORD kTimeoutMs = 120000;

struct Search {
  DWORD process_id;
  HWND found;
};

BOOL CALLBACK FindVisible(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<Search*>(param);
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id != search->process_id || !IsWindowVisible(window)) return TRUE;
  search->found = window;
  return FALSE;
}

// Polls for the first visible top-level window of the process, about once a millisecond;
// null when the process ends first or none appears in time.
HWND WaitForWindow(const PROCESS_INFORMATION& process) {
  const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
  while (GetTickCount64() < deadline) {
    Search search{process.dwProcessId, nullptr};
    EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&search));
    if (search.found != nullptr) return search.found;
    if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) return nullptr;
  }
  return nullptr;
}

// The command line: every argument quoted (ours carry no quotes of their own) but an
// installer's switch, as it is typed.
std::string CommandLine(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    const std::string argument = argv[i];
    line += (i == 0 ? "" : " ") + (argument[0] == '/' ? argument : '"' + argument + '"');
  }
  return line;
}

int Fail(const char* what) {
  std::fprintf(stderr, "qmrbench_start: %s (error %lu)\n", what, GetLastError());
  return 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: qmrbench_start [--temp DIR] [--answer ID] [--stamp FILE] --until window|setup|exit"
               " -- PROGRAM [ARGUMENT...]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* temp = nullptr;
  const char* stamp = nullptr;
  const char* until = nullptr;
  const char* answer_text = "0";
  const std::map<std::string, const char**> options = {
      {"--temp", &temp}, {"--answer", &answer_text}, {"--stamp", &stamp}, {"--until", &until}};
  int i = 1;
  for (; i + 1 < argc && std::strcmp(argv[i], "--") != 0; i += 2) {
    const auto option = options.find(argv[i]);
    if (option == options.end()) return Usage();
    *option->second = argv[i + 1];
  }
  const int answer = std::atoi(answer_text);
  if (i + 1 >= argc || std::strcmp(argv[i], "--") != 0 || until == nullptr) return Usage();
  const bool to_window = std::strcmp(until, "window") == 0;
  const bool to_setup = std::strcmp(until, "setup") == 0;
  if (!to_window && !to_setup && std::strcmp(until, "exit") != 0) return Usage();
  if (to_window && answer == 0) return Usage();
  if (to_setup && stamp == nullptr) return Usage();

  if (temp != nullptr && (!SetEnvironmentVariableA("TEMP", temp) || !SetEnvironmentVariableA("TMP", temp)))
    return Fail("cannot set TEMP");
  HANDLE started = nullptr;
  if (to_setup) {
    char name[64];
    std::snprintf(name, sizeof name, "qmrbench-setup-started-%lu", GetCurrentProcessId());
    started = CreateEventA(nullptr, TRUE, FALSE, name);
    if (started == nullptr || !SetEnvironmentVariableA("QMRBENCH_EVENT", name) ||
        !SetEnvironmentVariableA("QMRBENCH_STAMP", stamp))
      return Fail("cannot prepare the setup program's event");
  }
  std::string line = CommandLine(argc - i - 1, argv + i + 1);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const LONGLONG start = Now();
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return Fail("cannot start the program");

  LONGLONG end = 0, shown = 0;
  if (answer != 0) {
    const HWND window = WaitForWindow(process);
    if (window == nullptr) return Fail("the program showed no window");
    shown = Now();
    if (to_window) end = shown;
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, answer)));
  }
  if (to_setup) {
    if (WaitForSingleObject(started, kTimeoutMs) != WAIT_OBJECT_0) return Fail("the setup program never started");
    HANDLE file = CreateFileA(stamp, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD read = 0;
    if (file == INVALID_HANDLE_VALUE || !ReadFile(file, &end, sizeof end, &read, nullptr) || read != sizeof end)
      return Fail("cannot read the setup program's start");
    CloseHandle(file);
    CloseHandle(started);
  }
  if (WaitForSingleObject(process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) return Fail("the program did not end");
  if (end == 0) end = Now();
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("%.6f %.6f %lu\n", Seconds(start, end), shown == 0 ? -1.0 : Seconds(start, shown), code);
  return 0;
}
