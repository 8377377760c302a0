// The run state: the one process-wide record that the launcher's procedures share.
#pragma once

#include <cstdint>

#include "format/layout.h"
#include "platform/winapi.h"

// Two 260-byte texts, seen through the names of what each operation builds in them.
union ScratchTexts {
  struct {
    char name[payload::kTextSize];  // the entry's name as read from the volume
    char path[payload::kTextSize];  // the temporary directory followed by that name
  } entry;
  struct {
    char source[payload::kTextSize];  // a compressed setup file in the temporary directory
    char target[payload::kTextSize];  // the file it expands to
  } expansion;
  struct {
    char program[payload::kTextSize];       // the expanded setup program's path
    char command_line[payload::kTextSize];  // that path, quoted
  } launch;
  struct {
    char format[payload::kTextSize];  // a string of the string table
    char text[payload::kTextSize];    // the text formatted from it, as shown
  } message;
  char volume_name[payload::kTextSize];  // "Disk<n>"
  char ini_path[payload::kTextSize];     // the presets file, or the expanded setup information file
};

struct ExtractionState {
  HINSTANCE instance;                          // for resources and the string table
  char caption[payload::kTextSize];            // string 2: caption of every message box
  char version[payload::kVersionResourceSize]; // from resource 105
  char module_path[payload::kTextSize];        // the launcher's path, later the last following volume's
  char temp_dir[payload::kTextSize];           // target directory, always ending in a backslash
  char pop3_server[payload::kTextSize];        // account presets; empty when absent
  char smtp_server[payload::kTextSize];
  HWND dialog;                                 // owner of prompts, target of progress
  DWORD worker_thread_id;
  std::int32_t set_total;                      // total data bytes of the set, also its identifier
  std::int32_t volume_number;                  // the volume last asked for, counted from 1
  // Bytes of the open volume not yet read, when it ends before its file does (volume 1 of a
  // signed launcher ends at the certificate table); -1 when it runs to the end of its file.
  std::int64_t volume_left;
  // Data bytes written so far over all volumes. 64-bit: volumes may hold more data than the
  // set total, and a 32-bit count would overflow on them.
  std::int64_t extracted_bytes;
  std::int32_t last_percent;                   // last position sent to the progress bar
  std::uint32_t list_position;                 // where the next clean-up path is appended
  char cleanup_list[payload::kCleanupListSize];  // NUL-separated paths of created files
  unsigned char copy_buffer[payload::kCopyChunkSize];
  // Written by the worker, read by the dialog: accessed through std::atomic_ref.
  std::int32_t finished;                       // 1 once ExtractAndLaunch has returned
  std::int32_t worker_result;                  // its result, written before `finished`
  std::int32_t user_cancelled;                 // 1 when the user cancelled the disk prompt
  std::int32_t outcome_handled;                // 1 once the dialog has acted on the worker's outcome
  // Texts under construction. Each operation uses the view named for what it builds, and no
  // value survives from one operation to the next.
  ScratchTexts scratch;
};

// The run state of this process, zero-filled at start.
extern ExtractionState g_run;

// Zero-fills the run state, as at process start (tests run many launches in one process).
void ResetExtractionState();
