// The launcher shell: the entry, the progress dialog procedure and the worker thread.
#pragma once

#include "platform/winapi.h"

// The launcher's entry: asks for confirmation, fills the run state and runs the progress
// dialog, inside which the extraction happens. Returns 0 in every case.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

// The progress dialog: centres itself, starts the worker, and acts on the worker's outcome.
INT_PTR CALLBACK ExtractorDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

// The worker thread: runs the extraction and hand-off, then tells the dialog how it went.
DWORD WINAPI ExtractionWorker(LPVOID parameter);

// The dialog's new left edge and top edge on a screen of the given size: centred, the left
// edge rounded to the nearest multiple of 8 pixels (a tie going up).
void CentredPosition(int window_width, int window_height, int screen_width, int screen_height, int* left, int* top);
