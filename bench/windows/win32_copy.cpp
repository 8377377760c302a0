// A bare Win32 copy of every file of a directory through one 16 KiB buffer, each chunk read
// and then written before the next, and each copy given its source's last-write time: the
// launcher's extraction loop without the launcher. Timed from inside:
//   qmrbench_copy.exe SOURCE_DIR TARGET_DIR      (the target must exist) prints the seconds.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

unsigned char g_buffer[16384];

bool CopyOne(const std::string& from, const std::string& to) {
  HANDLE in = CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
  if (in == INVALID_HANDLE_VALUE) return false;
  HANDLE out = CreateFileA(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return false;
  }
  bool ok = true;
  for (;;) {
    DWORD read = 0, written = 0;
    if (!ReadFile(in, g_buffer, sizeof g_buffer, &read, nullptr)) {
      ok = false;
      break;
    }
    if (read == 0) break;
    if (!WriteFile(out, g_buffer, read, &written, nullptr) || written != read) {
      ok = false;
      break;
    }
  }
  FILETIME last_write;
  if (ok && GetFileTime(in, nullptr, nullptr, &last_write)) SetFileTime(out, nullptr, nullptr, &last_write);
  CloseHandle(out);
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
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
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
  QueryPerformanceCounter(&end);
  std::printf("%.6f %d\n", static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart),
              copied);
  return 0;
}
