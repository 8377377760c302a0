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

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "format/names.h"
#include "platform/posix/layer.h"
#include "platform/posix/retry.h"
#include "res/rcdata.h"

namespace posix {

namespace {

std::mutex g_terminal_mutex;  // one writer at a time on standard error
bool g_bar_on_line = false;    // the progress bar is the current line of the terminal
void LeaveBarLine();

void WriteAll(int fd, const std::string& text) { WriteFull(fd, text.data(), text.size()); }

// Reads one line from standard input, byte by byte. False at the end of input with nothing read.
bool ReadAnswerLine(std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    char c;
    const ssize_t n = RobustRead(STDIN_FILENO, &c, 1);
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
    out += payload::AsciiUpper(c);
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

  std::string box = std::string("== ") + (caption != nullptr ? caption : "") + " ==";
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
  LeaveBarLine();
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
    if (answer.empty() || answer == "Y" || answer == "YES" || answer == "OK") return first;
    if (answer == "N" || answer == "NO" || answer == "C" || answer == "CANCEL") return second;
    WriteAll(STDERR_FILENO, prompt);
  }
}


// ---- The progress dialog ----
//
// One modal dialog at a time, run on the thread that calls DialogBoxParamA: WM_INITDIALOG is
// sent first, then posted messages are dispatched in order until EndDialog. Messages sent to
// its controls from another thread wait until this thread has handled them. The dialog is
// drawn on standard error: the caption, the wait text and a bar that advances in place on a
// terminal, or a line per ten percent elsewhere. Keyboard input is never read.

struct DialogWindow {
  int unused;
};
DialogWindow g_dialog_window;
HWND const kDialog = reinterpret_cast<HWND>(&g_dialog_window);

struct Message {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  int control;        // for a message sent to a control
  bool sent;          // true: the sender waits for `done`
  bool* done;
  LRESULT* result;
};

// The dialog's state, guarded by g_dialog_mutex.
std::mutex g_dialog_mutex;
std::condition_variable g_dialog_wakeup;
bool g_dialog_alive = false;
bool g_dialog_ended = false;
INT_PTR g_dialog_result = 0;
std::thread::id g_dialog_thread;

// The dialog's message queue: a fixed ring, so that posting and sending messages never
// allocates (the extraction loop sends one per grown percent).
class MessageRing {
 public:
  static constexpr std::size_t kCapacity = 64;
  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == kCapacity; }
  void push_back(const Message& message) {
    slots_[(first_ + count_) % kCapacity] = message;
    ++count_;
  }
  Message pop_front() {
    const Message message = slots_[first_];
    first_ = (first_ + 1) % kCapacity;
    --count_;
    return message;
  }
  // Releases every sender still waiting and forgets every message.
  void release_and_clear() {
    for (std::size_t i = 0; i < count_; ++i) {
      Message& pending = slots_[(first_ + i) % kCapacity];
      if (pending.sent) *pending.done = true;
    }
    first_ = count_ = 0;
  }

 private:
  Message slots_[kCapacity] = {};
  std::size_t first_ = 0, count_ = 0;
};
MessageRing g_queue;
RECT g_dialog_rect = {};
int g_progress = 0;
int g_progress_low = 0, g_progress_high = 100;
int g_reported_tenth = -1;

// Pixels per dialog unit, for a 9-point font at 96 dots per inch, and the frame around it.
constexpr int kBaseUnitX = 6, kBaseUnitY = 12, kCaptionHeight = 18, kFrame = 3;
constexpr int kDefaultScreenWidth = 1024, kDefaultScreenHeight = 768;
constexpr int kBarCells = 40;

// Draws the bar. Called with g_terminal_mutex held.
// Draws the bar, into a fixed buffer: it runs for every progress message of the extraction.
void DrawProgress(int position) {
  const int span = g_progress_high > g_progress_low ? g_progress_high - g_progress_low : 1;
  int percent = (position - g_progress_low) * 100 / span;
  percent = percent < 0 ? 0 : percent > 100 ? 100 : percent;
  char line[kBarCells + 16];
  int length = 0;
  if (isatty(STDERR_FILENO)) {
    const int filled = percent * kBarCells / 100;
    line[length++] = '\r';
    line[length++] = '[';
    for (int i = 0; i < kBarCells; ++i) line[length++] = i < filled ? '#' : '-';
    // A full bar ends its line: the setup program, started next, writes on a line of its own.
    length += std::snprintf(line + length, sizeof line - static_cast<std::size_t>(length), "] %d%%%s", percent,
                            percent == 100 ? "\n" : "");
    g_bar_on_line = percent < 100;
  } else if (percent / 10 > g_reported_tenth) {
    g_reported_tenth = percent / 10;
    length = std::snprintf(line, sizeof line, "%d%%\n", g_reported_tenth * 10);
  }
  WriteFull(STDERR_FILENO, line, static_cast<std::size_t>(length));
}

void DrawDialog(const rcdata::Dialog& dialog) {
  std::lock_guard<std::mutex> lock(g_terminal_mutex);
  std::string text = std::string("== ") + dialog.caption + " ==\n";
  for (int i = 0; i < dialog.control_count; ++i) {
    const rcdata::Control& control = dialog.controls[i];
    if (std::strcmp(control.class_name, "Static") == 0 && control.text[0] != '#' && control.text[0] != '\0')
      text += std::string(control.text) + "\n";
  }
  WriteAll(STDERR_FILENO, text);
  g_reported_tenth = -1;
  DrawProgress(g_progress);
}

// Ends the bar's line, so that what follows starts on a line of its own. Called with
// g_terminal_mutex held.
void LeaveBarLine() {
  if (g_bar_on_line) WriteAll(STDERR_FILENO, "\n");
  g_bar_on_line = false;
}

LRESULT HandleControlMessage(int control, UINT message, WPARAM wparam, LPARAM lparam) {
  if (control != 1000) return 0;
  std::lock_guard<std::mutex> lock(g_terminal_mutex);
  switch (message) {
    case PBM_SETPOS: {
      const int previous = g_progress;
      // Kept within the range; a range whose low end lies above its high end keeps the low end.
      g_progress = std::max(g_progress_low, std::min(static_cast<int>(wparam), g_progress_high));
      DrawProgress(g_progress);
      return previous;
    }
    case PBM_SETRANGE:
      g_progress_low = static_cast<int>(lparam & 0xFFFF);
      g_progress_high = static_cast<int>((lparam >> 16) & 0xFFFF);
      return 0;
    default:
      return 0;
  }
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR name, HWND, DLGPROC procedure, LPARAM parameter) {
  const rcdata::Dialog* dialog = nullptr;
  for (int i = 0; i < rcdata::kDialogCount; ++i)
    if (IS_INTRESOURCE(name) && rcdata::kDialogs[i].id == reinterpret_cast<std::uintptr_t>(name))
      dialog = &rcdata::kDialogs[i];
  {
    std::lock_guard<std::mutex> lock(g_dialog_mutex);
    if (dialog == nullptr || g_dialog_alive) return Fail(ERROR_RESOURCE_NAME_NOT_FOUND, -1);
    g_dialog_alive = true;
    g_dialog_ended = false;
    g_dialog_result = 0;
    g_dialog_thread = std::this_thread::get_id();
    g_queue.release_and_clear();
    g_progress = 0;
    g_progress_low = 0;
    g_progress_high = 100;
    const int width = dialog->width * kBaseUnitX / 4 + 2 * kFrame;
    const int height = dialog->height * kBaseUnitY / 8 + kCaptionHeight + 2 * kFrame;
    g_dialog_rect = {0, 0, width, height};
  }
  DrawDialog(*dialog);
  procedure(kDialog, WM_INITDIALOG, 0, parameter);
  for (;;) {
    Message message;
    {
      std::unique_lock<std::mutex> lock(g_dialog_mutex);
      g_dialog_wakeup.wait(lock, [] { return g_dialog_ended || !g_queue.empty(); });
      if (g_dialog_ended) break;
      message = g_queue.pop_front();
      g_dialog_wakeup.notify_all();  // a sender may be waiting for room
    }
    if (message.sent) {
      const LRESULT result = HandleControlMessage(message.control, message.message, message.wparam, message.lparam);
      std::lock_guard<std::mutex> lock(g_dialog_mutex);
      *message.result = result;
      *message.done = true;
      g_dialog_wakeup.notify_all();
    } else {
      procedure(kDialog, message.message, message.wparam, message.lparam);
    }
  }
  INT_PTR result;
  {
    std::lock_guard<std::mutex> lock(g_dialog_mutex);
    // Senders still waiting are released: the dialog is gone.
    g_queue.release_and_clear();
    g_dialog_alive = false;
    result = g_dialog_result;
    g_dialog_wakeup.notify_all();
  }
  std::lock_guard<std::mutex> lock(g_terminal_mutex);
  LeaveBarLine();
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  std::lock_guard<std::mutex> lock(g_dialog_mutex);
  if (dialog != kDialog || !g_dialog_alive) return FALSE;
  g_dialog_ended = true;
  g_dialog_result = result;
  g_dialog_wakeup.notify_all();
  return TRUE;
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  std::lock_guard<std::mutex> lock(g_dialog_mutex);
  if (window != kDialog || !g_dialog_alive || g_dialog_ended) return Fail(ERROR_INVALID_HANDLE, FALSE);
  // As by a full Windows message queue, the message is refused.
  if (g_queue.full()) return Fail(ERROR_NOT_ENOUGH_MEMORY, FALSE);
  g_queue.push_back({message, wparam, lparam, 0, false, nullptr, nullptr});
  g_dialog_wakeup.notify_all();
  return TRUE;
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int control, UINT message, WPARAM wparam, LPARAM lparam) {
  std::unique_lock<std::mutex> lock(g_dialog_mutex);
  if (dialog != kDialog || !g_dialog_alive || g_dialog_ended) return 0;
  if (std::this_thread::get_id() == g_dialog_thread) {
    lock.unlock();
    return HandleControlMessage(control, message, wparam, lparam);
  }
  g_dialog_wakeup.wait(lock, [] { return !g_queue.full() || g_dialog_ended || !g_dialog_alive; });
  if (g_dialog_ended || !g_dialog_alive) return 0;
  bool done = false;
  LRESULT result = 0;
  // The dialog's thread sets `done` (and the queue forgets the message) before this call
  // returns, so the addresses never outlive their variables.
  // cppcheck-suppress danglingLifetime
  g_queue.push_back({message, wparam, lparam, control, true, &done, &result});
  g_dialog_wakeup.notify_all();
  g_dialog_wakeup.wait(lock, [&] { return done; });
  return result;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
  std::lock_guard<std::mutex> lock(g_dialog_mutex);
  if (window != kDialog || !g_dialog_alive) return FALSE;
  *rect = g_dialog_rect;
  return TRUE;
}

BOOL WINAPI MoveWindow(HWND window, int x, int y, int width, int height, BOOL) {
  std::lock_guard<std::mutex> lock(g_dialog_mutex);
  if (window != kDialog || !g_dialog_alive) return FALSE;
  g_dialog_rect = {x, y, x + width, y + height};
  return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN: return kDefaultScreenWidth;
    case SM_CYSCREEN: return kDefaultScreenHeight;
    default: return 0;
  }
}

void WINAPI InitCommonControls() {}

}  // namespace

void FillUiOps(SystemOps& ops) {
  ops.MessageBoxA = MessageBoxA;
  ops.DialogBoxParamA = DialogBoxParamA;
  ops.EndDialog = EndDialog;
  ops.PostMessageA = PostMessageA;
  ops.SendDlgItemMessageA = SendDlgItemMessageA;
  ops.GetWindowRect = GetWindowRect;
  ops.MoveWindow = MoveWindow;
  ops.GetSystemMetrics = GetSystemMetrics;
  ops.InitCommonControls = InitCommonControls;
}

}  // namespace posix
