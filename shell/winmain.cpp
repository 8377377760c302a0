// The launcher's entry: the version text, the confirmation, the presets and the temporary
// directory, then the modal progress dialog.
#include "extract/extract.h"
#include "extract/text.h"
#include "platform/system.h"
#include "res/ids.h"
#include "shell/shell.h"

namespace {

// Copies the version text of resource 105 up to its NUL, at most 15 bytes; leaves it empty
// when the resource is missing.
void ReadVersionText() {
  DWORD size = 0;
  const char* text = static_cast<const char*>(LockCustomResource(payload::kVersionResourceId, &size));
  if (text == nullptr) return;
  if (size > payload::kVersionResourceSize - 1) size = payload::kVersionResourceSize - 1;
  for (DWORD i = 0; i < size && text[i] != '\0'; ++i) g_run.version[i] = text[i];
}

// Reads the account presets from the presets file beside the launcher.
void ReadPresets() {
  const SystemOps& sys = Sys();
  char* path = g_run.scratch.ini_path;
  sys.lstrcpyA(path, g_run.module_path);
  if (path[0] == '\0' || !ReplaceFileName(path, payload::kPresetsFileName)) return;
  sys.GetPrivateProfileStringA(payload::kPresetsSection, payload::kPop3Key, "", g_run.pop3_server,
                               payload::kTextSize, path);
  sys.GetPrivateProfileStringA(payload::kPresetsSection, payload::kSmtpKey, "", g_run.smtp_server,
                               payload::kTextSize, path);
}

// Fills the temporary directory, always ending in a backslash. A directory that cannot be
// read (0), one too long for its text, and one of 259 bytes that leaves no room for the
// backslash are left without one, so the run fails before anything is extracted: an empty
// text given its backslash would be the root of the current drive.
void ReadTemporaryDirectory() {
  const SystemOps& sys = Sys();
  const DWORD length = sys.GetTempPathA(payload::kTextSize, g_run.temp_dir);
  if (length == 0 || length >= static_cast<DWORD>(payload::kTextSize)) {
    g_run.temp_dir[0] = '\0';
    return;
  }
  AppendBackslashIfMissing(g_run.temp_dir, payload::kTextSize, sys.IsDBCSLeadByte);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  const SystemOps& sys = Sys();
  g_run.instance = instance;
  ReadVersionText();
  sys.LoadStringA(instance, IDS_CAPTION, g_run.caption, payload::kTextSize);
  sys.LoadStringA(instance, IDS_CONFIRM, g_run.scratch.message.format, payload::kTextSize);
  sys.wsprintfA(g_run.scratch.message.text, g_run.scratch.message.format, g_run.version);
  if (sys.MessageBoxA(nullptr, g_run.scratch.message.text, g_run.caption, MB_YESNO) != IDYES) return 0;

  const DWORD length = sys.GetModuleFileNameA(nullptr, g_run.module_path, payload::kTextSize);
  if (length == 0 || length >= static_cast<DWORD>(payload::kTextSize)) g_run.module_path[0] = '\0';
  ReadPresets();
  ReadTemporaryDirectory();
  sys.InitCommonControls();
  sys.DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, ExtractorDialogProc, 0);
  return 0;
}
