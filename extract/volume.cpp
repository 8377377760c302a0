// The volume sequence: volume 1 inside the launcher, Disk2, Disk3, ... beside it, and the
// prompt for a missing disk.
#include "extract/extract.h"
#include "format/little_endian.h"
#include "platform/system.h"
#include "res/ids.h"

namespace {

HANDLE OpenForReading(const char* path) {
  return Sys().CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
}


// The offset of volume 1 from resource 104, or -1 when the resource is missing or shorter
// than its 4 bytes (a seek to -1 always fails).
LONG PayloadOffset() {
  DWORD size = 0;
  const auto* bytes = static_cast<const unsigned char*>(LockCustomResource(payload::kOffsetResourceId, &size));
  if (bytes == nullptr || size < payload::kOffsetResourceSize) return -1;
  return static_cast<std::int32_t>(payload::ReadLE32(bytes));
}

// Reads a volume's set total. Returns 0 when fewer than 4 bytes could be read.
int ReadSetTotal(HANDLE file, std::int32_t* total) {
  unsigned char bytes[payload::kSetTotalSize];
  if (ReadBlock(file, bytes, sizeof bytes) != sizeof bytes) return 0;
  *total = static_cast<std::int32_t>(payload::ReadLE32(bytes));
  return 1;
}

HANDLE OpenFirstVolume() {
  const SystemOps& sys = Sys();
  HANDLE file = OpenForReading(g_run.module_path);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  if (sys.SetFilePointer(file, PayloadOffset(), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadSetTotal(file, &g_run.set_total)) {
    sys.CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace

HANDLE OpenVolumeFile() {
  HANDLE file = OpenForReading(g_run.module_path);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  std::int32_t total = 0;
  if (!ReadSetTotal(file, &total) || total != g_run.set_total) {
    // A disk of another set, or of another version of this one, counts as missing.
    Sys().CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

HANDLE OpenNextVolume() {
  const SystemOps& sys = Sys();
  const int n = ++g_run.volume_number;
  if (n == 1) return OpenFirstVolume();

  sys.wsprintfA(g_run.scratch.volume_name, payload::kVolumeNameFormat, n);
  // A launcher directory so deep that the volume's path does not fit fails the run.
  if (!ReplaceFileName(g_run.module_path, g_run.scratch.volume_name)) return INVALID_HANDLE_VALUE;
  for (;;) {
    HANDLE file = OpenVolumeFile();
    if (file != INVALID_HANDLE_VALUE) return file;
    // Started from a network path with no drive letter: there is no drive to ask for.
    if (g_run.module_path[0] == '\\') return INVALID_HANDLE_VALUE;
    char* format = g_run.scratch.message.format;
    char* prompt = g_run.scratch.message.text;
    sys.LoadStringA(g_run.instance, IDS_DISK_PROMPT, format, payload::kTextSize);
    sys.wsprintfA(prompt, format, g_run.module_path[0], g_run.version, n);
    if (sys.MessageBoxA(g_run.dialog, prompt, g_run.caption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) {
      g_run.user_cancelled = 1;
      return INVALID_HANDLE_VALUE;
    }
  }
}
