// POSIX layer, user interface: message boxes and the progress dialog in the terminal.
//
// A message box is printed to standard error as
//     == <caption> ==            (followed by " [error]" or " [information]" for those icons)
//     <text, line by line>
//     (Yes/No) >                 ("(OK/Cancel) >" or "(OK) >" for those buttons)
// and answered by one line on standard input, read one byte at a time so that nothing meant
// for a later box or for the setup program is consumed: "y", "yes", "ok" or an empty line
// choose the first button (the default on Windows); "n", "no", "c" or "cancel" the second.
// The end of input chooses No or Cancel. The controlling terminal is never opened.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/posix/layer.h"

namespace posix {

namespace {

std::mutex g_terminal_mutex;

void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Reads one line from standard input, byte by byte. False at the end of input with nothing read.
bool ReadAnswerLine(std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return any;
    any = true;
    if (c == '\n') return true;
    *line += c;
  }
}

std::string Normalise(const std::string& answer) {
  std::string out;
  for (char c : answer) {
    if (c == ' ' || c == '\t' || c == '\r') continue;
    out += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return out;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT style) {
  const UINT buttons = style & MB_TYPEMASK;
  const bool yes_no = buttons == MB_YESNO || buttons == MB_YESNOCANCEL;
  const bool ok_cancel = buttons == MB_OKCANCEL;
  const int first = yes_no ? IDYES : IDOK;
  const int second = yes_no ? IDNO : ok_cancel ? IDCANCEL : IDOK;
  const char* prompt = yes_no ? "(Yes/No) > " : ok_cancel ? "(OK/Cancel) > " : "(OK) > ";

  std::string box = "== ";
  box += caption != nullptr ? caption : "";
  box += " ==";
  const UINT icon = style & MB_ICONMASK;
  if (icon == MB_ICONERROR) box += " [error]";
  if (icon == MB_ICONINFORMATION) box += " [information]";
  if (icon == MB_ICONWARNING) box += " [warning]";
  if (icon == MB_ICONQUESTION) box += " [question]";
  box += "\n";
  std::string body = text != nullptr ? text : "";
  if (!body.empty() && body.back() == '\n') body.pop_back();
  box += body + "\n" + prompt;

  std::lock_guard<std::mutex> lock(g_terminal_mutex);
  WriteAll(STDERR_FILENO, box);
  const bool echo = isatty(STDIN_FILENO) == 0;
  for (;;) {
    std::string line;
    if (!ReadAnswerLine(&line)) {
      WriteAll(STDERR_FILENO, "(end of input)\n");
      return second;
    }
    if (echo) WriteAll(STDERR_FILENO, line + "\n");
    const std::string answer = Normalise(line);
    if (answer.empty() || answer == "y" || answer == "yes" || answer == "ok") return first;
    if (answer == "n" || answer == "no" || answer == "c" || answer == "cancel") return second;
    WriteAll(STDERR_FILENO, prompt);
  }
}

}  // namespace

void FillUiOps(SystemOps& ops) { ops.MessageBoxA = MessageBoxA; }

}  // namespace posix
