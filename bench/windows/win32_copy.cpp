// A bare Win32 copy of every file of a directory through one 16 KiB buffer, each chunk read
// and then written before the next, and each copy given its source's last-write time: the
// launcher's extraction loop without the launcher. Timed from inside:
//   qmrbench_copy.exe SOURCE_DIR TARGET_DIR      (the target must exist) prints the seconds.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/windows/clock.h"
#include "format/layout.h"

namespace {

unsigned char g_buffer[payload::kCopyChunkSize];  // the launcher's chunk

bool CopyOne(const std::string& from, const std::string& to) {
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = out != INVALID_HANDLE_VALUE;
  for (DWORD read = 0, written = 0; ok;) {
    ok = ReadFile(in, g_buffer, sizeof g_buffer, &read, nullptr) != FALSE;
    if (!ok || read == 0) break;
    ok = WriteFile(out, g_buffer, read, &written, nullptr) && written == read;
  }
  FILETIME last_write;
  if (ok && GetFileTime(in, nullptr, nullptr, &last_write)) SetFileTime(out, nullptr, nullptr, &last_write);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  CloseHandle(in);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: qmrbench_copy SOURCE_DIR TARGET_DIR\n");
    return 2;
  }
  const std::string source = argv[1], target = argv[2];
  const LONGLONG start = qmrbench::Now();
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((source + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  int copied = 0;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (!CopyOne(source + "\\" + found.cFileName, target + "\\" + found.cFileName)) {
      std::fprintf(stderr, "qmrbench_copy: %s: error %lu\n", found.cFileName, GetLastError());
      return 1;
    }
    ++copied;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  std::printf("%.6f %d\n", qmrbench::Seconds(start, qmrbench::Now()), copied);
  return 0;
}
