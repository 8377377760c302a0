// The setup hand-off: expands the setup information file and the setup program, writes the
// account presets and starts the setup program.
#include "extract/extract.h"
#include "extract/text.h"
#include "platform/system.h"
#include "szdd/header.h"

namespace {

// The byte count a complete expansion of `path` yields: the length its SZDD header announces,
// or, for a file that is not compressed, its own size. -1 when the file cannot be read.
LONG ExpectedExpandedLength(const char* path) {
  const SystemOps& sys = Sys();
  HANDLE file = sys.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  unsigned char bytes[szdd::kHeaderSize];
  const DWORD read = ReadBlock(file, bytes, sizeof bytes);
  szdd::Header header;
  LONG length = -1;
  if (szdd::ParseHeader(bytes, read, &header)) {
    if (header.expanded_length <= 0x7FFFFFFFu) length = static_cast<LONG>(header.expanded_length);
  } else {
    DWORD high = 0;
    const DWORD size = sys.GetFileSize(file, &high);
    if (size != INVALID_FILE_SIZE && high == 0 && size <= 0x7FFFFFFFu) length = static_cast<LONG>(size);
  }
  sys.CloseHandle(file);
  return length;
}

}  // namespace

int FileExists(const char* path) {
  HANDLE file = Sys().CreateFileA(path, 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  Sys().CloseHandle(file);
  return 1;
}

int ExpandSetupFile(const char* compressed, const char* expanded) {
  const SystemOps& sys = Sys();
  char* source_path = g_run.scratch.expansion.source;
  char* target_path = g_run.scratch.expansion.target;
  if (!JoinTexts(source_path, payload::kTextSize, g_run.temp_dir, compressed) ||
      !JoinTexts(target_path, payload::kTextSize, g_run.temp_dir, expanded))
    return 0;
  if (!FileExists(source_path)) return 0;
  const LONG expected = ExpectedExpandedLength(source_path);
  if (expected < 0) return 0;

  OFSTRUCT source_record = {};
  OFSTRUCT target_record = {};
  source_record.cBytes = sizeof source_record;
  target_record.cBytes = sizeof target_record;
  const INT source = sys.LZOpenFileA(source_path, &source_record, OF_READ);
  if (source < 0) return 0;
  const INT target = sys.LZOpenFileA(target_path, &target_record, OF_CREATE);
  if (target < 0) {
    sys.LZClose(source);
    return 0;
  }
  const LONG copied = sys.LZCopy(source, target);
  sys.LZClose(source);
  sys.LZClose(target);
  // A truncated or corrupt file, or a full disk, yields less than the announced length (LZ32
  // returns a short positive count then): such a setup file must not be started.
  if (copied != expected) {
    sys.DeleteFileA(target_path);
    return 0;
  }
  if (sys.DeleteFileA(source_path)) UnlistFile(source_path);
  return 1;
}

void WritePresets() {
  const SystemOps& sys = Sys();
  char* path = g_run.scratch.ini_path;
  if (!JoinTexts(path, payload::kTextSize, g_run.temp_dir, payload::kSetupInfoExpanded)) return;
  if (g_run.pop3_server[0] != '\0')
    sys.WritePrivateProfileStringA(payload::kPresetsSection, payload::kPop3Key, g_run.pop3_server, path);
  if (g_run.smtp_server[0] != '\0')
    sys.WritePrivateProfileStringA(payload::kPresetsSection, payload::kSmtpKey, g_run.smtp_server, path);
}

namespace {

// Starts the setup program through the shell's elevation, for a program that asks for
// administrator rights (or that Windows' installer detection takes for an installer): the
// user is asked to consent, over the dialog.
int StartElevated(const char* program) {
  const SystemOps& sys = Sys();
  sys.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC;  // the launcher exits right after: finish the start first
  info.hwnd = g_run.dialog;
  info.lpVerb = "runas";
  info.lpFile = program;
  info.nShow = SW_SHOWNORMAL;
  return sys.ShellExecuteExA(&info) ? 1 : 0;
}

}  // namespace

int LaunchSetup() {
  const SystemOps& sys = Sys();
  char* program = g_run.scratch.launch.program;
  char* command_line = g_run.scratch.launch.command_line;
  // The path is quoted: unquoted, a directory with spaces ("C:\Documents and Settings\...")
  // would make the process service try "C:\Documents.exe" first.
  if (!JoinTexts(program, payload::kTextSize, g_run.temp_dir, payload::kSetupProgramExpanded)) return 0;
  const int length = sys.lstrlenA(program);
  if (length + 3 > payload::kTextSize) return 0;
  command_line[0] = '"';
  sys.lstrcpyA(command_line + 1, program);
  command_line[length + 1] = '"';
  command_line[length + 2] = '\0';
  STARTUPINFOA startup = {};
  sys.GetStartupInfoA(&startup);
  PROCESS_INFORMATION process = {};
  if (sys.CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                         &startup, &process))
    return 1;  // the setup program runs on by itself; its handles are neither waited on nor used
  // A program that needs administrator rights cannot be started directly by a launcher that
  // runs as the user: only then is it started through the shell's elevation.
  if (sys.GetLastError() == ERROR_ELEVATION_REQUIRED) return StartElevated(program);
  return 0;
}
