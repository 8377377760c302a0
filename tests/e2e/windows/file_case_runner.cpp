// Runs the steps of every file-system case through this platform's own system operations
// (NativeSystem: the Windows API, or our POSIX layer) and prints one line per step:
//   <case id> TAB <step> TAB <result> TAB <last error> TAB <data>
// The same source is built as a Windows console program and as a Linux program; the test that
// runs both has made each case's directory and its files beforehand, and reads what is left on
// disk itself.
// Usage: qmrfilecases ROOT     (ROOT: a Windows path; case <id> works in ROOT\<id>\)
// It first checks that the layer filled every member of the table, and fails (status 3) if not.
#include <cstdio>
#include <cstring>
#include <string>

#include "file_cases.h"
#include "platform/system.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using filecases::Case;
using filecases::Op;
using filecases::Step;

// Texts of the table are UTF-8; the system operations take the ANSI code page.
std::string ToAnsi(const std::string& utf8) {
#ifdef _WIN32
  wchar_t wide[1024];
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide, 1024);
  char ansi[2048];
  if (n <= 0 || WideCharToMultiByte(CP_ACP, 0, wide, -1, ansi, sizeof ansi, nullptr, nullptr) <= 0) return "?";
  return ansi;
#else
  return utf8;
#endif
}

std::string FromAnsi(const std::string& ansi) {
#ifdef _WIN32
  wchar_t wide[1024];
  const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, 1024);
  char utf8[4096];
  if (n <= 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr) <= 0) return "?";
  return utf8;
#else
  return ansi;
#endif
}

// Control bytes and the separators of the output shown as \xHH.
std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == '\\' || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// The step's path in the case's directory; "@259" and "@260" make the whole path that long.
std::string StepPath(const std::string& directory, const char* name) {
  if (std::strcmp(name, "@259") == 0 || std::strcmp(name, "@260") == 0) {
    const std::size_t total = name[3] == '9' ? 259 : 260;
    return directory + std::string(total - directory.size(), 'n');
  }
  return directory + ToAnsi(name);
}

struct Outcome {
  std::string result;
  std::string error = "-";
  std::string data;
};

std::string ErrorText(const SystemOps& sys) { return std::to_string(sys.GetLastError()); }

HANDLE Open(const SystemOps& sys, const std::string& path, DWORD access, DWORD share, DWORD disposition) {
  return sys.CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// CreateFileA's outcome: its error is told on success too (ERROR_ALREADY_EXISTS).
Outcome OpenOutcome(const SystemOps& sys, HANDLE file) {
  Outcome outcome;
  outcome.result = file == INVALID_HANDLE_VALUE ? "fail" : "ok";
  outcome.error = ErrorText(sys);
  return outcome;
}

Outcome RunFileStep(const SystemOps& sys, const Step& step, const std::string& path) {
  switch (step.op) {
    case Op::kCreate:
    case Op::kSetTime: {
      HANDLE file = Open(sys, path, GENERIC_WRITE, 0, CREATE_ALWAYS);
      Outcome outcome = OpenOutcome(sys, file);
      if (file == INVALID_HANDLE_VALUE) return outcome;
      DWORD written = 0;
      sys.WriteFile(file, step.text, static_cast<DWORD>(std::strlen(step.text)), &written, nullptr);
      if (step.op == Op::kSetTime) {
        const FILETIME time = {static_cast<DWORD>(step.time), static_cast<DWORD>(step.time >> 32)};
        sys.SetLastError(0);
        outcome.result = sys.SetFileTime(file, nullptr, nullptr, &time) ? "ok" : "fail";
        outcome.error = ErrorText(sys);
      }
      sys.CloseHandle(file);
      return outcome;
    }
    case Op::kCreateNew: {
      HANDLE file = Open(sys, path, GENERIC_WRITE, 0, CREATE_NEW);
      const Outcome outcome = OpenOutcome(sys, file);
      if (file != INVALID_HANDLE_VALUE) sys.CloseHandle(file);
      return outcome;
    }
    case Op::kRead: {
      HANDLE file = Open(sys, path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
      Outcome outcome = OpenOutcome(sys, file);
      if (file == INVALID_HANDLE_VALUE) return outcome;
      char buffer[4096];
      DWORD read = 0;
      if (sys.ReadFile(file, buffer, sizeof buffer, &read, nullptr)) outcome.data.assign(buffer, read);
      sys.CloseHandle(file);
      return outcome;
    }
    case Op::kExists: {
      HANDLE file = Open(sys, path, 0, FILE_SHARE_READ, OPEN_EXISTING);
      const Outcome outcome = OpenOutcome(sys, file);
      if (file != INVALID_HANDLE_VALUE) sys.CloseHandle(file);
      return outcome;
    }
    default: {
      Outcome outcome;
      outcome.result = sys.DeleteFileA(path.c_str()) ? "ok" : "fail";
      if (outcome.result == "fail") outcome.error = ErrorText(sys);
      return outcome;
    }
  }
}

Outcome RunStep(const SystemOps& sys, const Step& step, const std::string& path) {
  sys.SetLastError(0);
  if (step.op == Op::kGetProfile) {
    char buffer[260];
    const DWORD n = sys.GetPrivateProfileStringA(ToAnsi(step.section).c_str(), ToAnsi(step.key).c_str(),
                                                 ToAnsi(step.text).c_str(), buffer, sizeof buffer, path.c_str());
    return {std::to_string(n), "-", FromAnsi(buffer)};
  }
  if (step.op == Op::kWriteProfile) {
    Outcome outcome;
    outcome.result = sys.WritePrivateProfileStringA(ToAnsi(step.section).c_str(), ToAnsi(step.key).c_str(),
                                                    ToAnsi(step.text).c_str(), path.c_str())
                         ? "ok"
                         : "fail";
    if (outcome.result == "fail") outcome.error = ErrorText(sys);
    return outcome;
  }
  return RunFileStep(sys, step, path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qmrfilecases ROOT\n");
    return 2;
  }
  const SystemOps& sys = NativeSystem();
  // A member the layer forgot to fill would be a null call; under Wine this is the Windows
  // table's check, as posix_layer_test's is the POSIX one's.
  if (const int unfilled = FirstUnfilledOperation(sys); unfilled >= 0) {
    std::fprintf(stderr, "qmrfilecases: member %d of SystemOps is not filled by this layer\n", unfilled);
    return 3;
  }
  for (const Case& c : filecases::kCases) {
    const std::string directory = std::string(argv[1]) + "\\" + c.id + "\\";
    int number = 0;
    for (const Step& step : c.steps) {
      if (step.name == nullptr) break;
      const Outcome outcome = RunStep(sys, step, StepPath(directory, step.name));
      std::printf("%s\t%d\t%s\t%s\t%s\n", c.id, number++, outcome.result.c_str(), outcome.error.c_str(),
                  Escaped(outcome.data).c_str());
    }
  }
  return 0;
}
