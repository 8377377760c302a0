// The volume sequence: volume 1 inside the launcher, Disk2, Disk3, ... beside it, and the
// prompt for a missing disk.
#include "extract/extract.h"
#include "format/little_endian.h"
#include "format/volume_end.h"
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

// Reads the bytes at `offset` of a file of `size` bytes: `n` of them, or as many as the file
// holds there. Returns 0 when the seek or the read fails or falls short.
int ReadHeaderAt(HANDLE file, DWORD size, DWORD offset, unsigned char* bytes, DWORD n, DWORD* read) {
  *read = offset >= size ? 0 : (size - offset < n ? size - offset : n);
  if (*read == 0) return 1;
  if (Sys().SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    return 0;
  return ReadBlock(file, bytes, *read) == *read;
}

// Finds where volume 1, at `offset` in the launcher file, ends: at the certificate table its
// security directory names when the launcher is signed (*end), else at the end of the file
// (*end = -1). Returns 0 when the headers cannot be read or the directory lies: a damaged set.
int FindFirstVolumeEnd(HANDLE file, LONG offset, std::int64_t* end) {
  *end = -1;
  DWORD high = 0;
  const DWORD size = Sys().GetFileSize(file, &high);
  if (size == INVALID_FILE_SIZE || high != 0) return 0;
  unsigned char headers[payload::kPeHeadersSize];
  DWORD read = 0;
  if (!ReadHeaderAt(file, size, 0, headers, payload::kMzHeaderSize, &read)) return 0;
  payload::SecurityDirectory directory;
  // Not an MZ file (the Linux launcher): there is no security directory.
  if (const DWORD pe_headers = payload::PeHeadersOffset(headers, read); pe_headers != 0) {
    if (!ReadHeaderAt(file, size, pe_headers, headers, payload::kPeHeadersSize, &read)) return 0;
    directory = payload::ReadSecurityDirectory(headers, read);
  }
  const payload::VolumeEnd volume_end = payload::FirstVolumeEnd(directory, static_cast<DWORD>(offset), size);
  if (volume_end.damaged()) return 0;
  if (volume_end.kind == payload::VolumeEndKind::kCertificateTable) *end = static_cast<std::int64_t>(volume_end.end);
  return 1;
}

HANDLE OpenFirstVolume() {
  const SystemOps& sys = Sys();
  HANDLE file = OpenForReading(g_run.module_path);
  if (file == INVALID_HANDLE_VALUE) return INVALID_HANDLE_VALUE;
  const LONG offset = PayloadOffset();
  std::int64_t end = -1;
  if (!FindFirstVolumeEnd(file, offset, &end) ||
      sys.SetFilePointer(file, offset, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
      !ReadSetTotal(file, &g_run.set_total)) {
    sys.CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  // A signed launcher's table starts after the set total (the rule checks it).
  if (end >= 0) g_run.volume_left = end - offset - payload::kSetTotalSize;
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
  g_run.volume_left = -1;
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

DWORD ReadVolumeBlock(HANDLE volume, void* buffer, DWORD n) {
  if (g_run.volume_left >= 0 && n > g_run.volume_left) n = static_cast<DWORD>(g_run.volume_left);
  const DWORD read = n == 0 ? 0 : ReadBlock(volume, buffer, n);
  if (g_run.volume_left >= 0) g_run.volume_left -= read;
  return read;
}

int ReadEntryStart(HANDLE volume, BYTE* name_length) {
  if (ReadVolumeBlock(volume, name_length, 1) != 1) return 0;
  // A name length of 0 followed only by a few zero bytes up to the table is its alignment. Any
  // other empty name is left to the engine, which refuses it.
  if (*name_length != 0 || g_run.volume_left < 0 || g_run.volume_left + 1 >= payload::kCertificateTableAlignment)
    return 1;
  unsigned char rest[payload::kCertificateTableAlignment] = {};
  const DWORD count = static_cast<DWORD>(g_run.volume_left);
  if (count > 0 && ReadVolumeBlock(volume, rest + 1, count) != count) return 1;
  return payload::IsCertificateTablePadding(rest, count + 1) ? 0 : 1;
}
