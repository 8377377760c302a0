// The progress dialog and the worker thread: the dialog centres itself and starts the worker;
// the worker extracts and hands over, then posts its outcome; the dialog ends on success, or
// deletes the extracted files and shows the error message on failure.
#include <atomic>

#include "extract/extract.h"
#include "platform/system.h"
#include "res/ids.h"
#include "shell/shell.h"

namespace {

void CentreDialog(HWND dialog) {
  const SystemOps& sys = Sys();
  RECT rect = {};
  sys.GetWindowRect(dialog, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  int left, top;
  CentredPosition(width, height, sys.GetSystemMetrics(SM_CXSCREEN), sys.GetSystemMetrics(SM_CYSCREEN), &left, &top);
  sys.MoveWindow(dialog, left, top, width, height, TRUE);
}

// Acts on the worker's outcome, once: its result decides, never the key that may have
// brought the command in ahead of the worker's own.
void HandleOutcome(HWND dialog) {
  const SystemOps& sys = Sys();
  if (g_run.outcome_handled) return;
  g_run.outcome_handled = 1;
  if (g_run.worker_result == 1) {
    // The setup program is using the extracted files: nothing is deleted.
    sys.EndDialog(dialog, IDOK);
    return;
  }
  DeleteListedFiles(g_run.cleanup_list);
  if (!g_run.user_cancelled) {
    char* message = g_run.scratch.message.text;
    sys.LoadStringA(g_run.instance, IDS_EXTRACT_ERROR, message, payload::kTextSize);
    sys.MessageBoxA(dialog, message, g_run.caption, MB_OK | MB_ICONERROR);
  }
  sys.EndDialog(dialog, IDCANCEL);
}

}  // namespace

void CentredPosition(int window_width, int window_height, int screen_width, int screen_height, int* left, int* top) {
  *left = ((screen_width - window_width) / 2 + 4) & ~7;
  *top = (screen_height - window_height) / 2;
}

INT_PTR CALLBACK ExtractorDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  const SystemOps& sys = Sys();
  switch (message) {
    case WM_INITDIALOG:
      g_run.dialog = dialog;
      CentreDialog(dialog);
      if (sys.CreateThread(nullptr, 0, ExtractionWorker, nullptr, 0, &g_run.worker_thread_id) == nullptr)
        sys.EndDialog(dialog, IDCANCEL);
      return TRUE;
    case WM_COMMAND: {
      const WORD command = LOWORD(wparam);
      if (command != IDOK && command != IDCANCEL) return FALSE;
      // Enter and Esc arrive here too: while the worker runs they do nothing.
      if (std::atomic_ref<std::int32_t>(g_run.finished).load(std::memory_order_acquire)) HandleOutcome(dialog);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

DWORD WINAPI ExtractionWorker(LPVOID) {
  const int result = ExtractAndLaunch();
  g_run.worker_result = result;
  std::atomic_ref<std::int32_t>(g_run.finished).store(1, std::memory_order_release);
  Sys().PostMessageA(g_run.dialog, WM_COMMAND, result == 1 ? IDOK : IDCANCEL, 0);
  return 0;
}
