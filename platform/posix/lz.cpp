// POSIX layer, LZ32: files of the classic compress format, expanded by our own SZDD codec.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/posix/fd_stream.h"
#include "platform/posix/layer.h"
#include "platform/posix/retry.h"
#include "platform/posix/paths.h"
#include "szdd/szdd.h"

namespace posix {

namespace {

// LZ handles start where Windows starts them; below lie plain file handles there.
constexpr INT kLzHandleBase = 0x400;
constexpr int kMaxLzFiles = 16;

struct LzFile {
  int fd;
  szdd::Header header;  // of a compressed file
  bool used;
  bool compressed;
};

std::mutex g_lz_mutex;
LzFile g_lz_files[kMaxLzFiles];

LzFile* Find(INT handle) {
  if (handle < kLzHandleBase || handle >= kLzHandleBase + kMaxLzFiles) return nullptr;
  LzFile* file = &g_lz_files[handle - kLzHandleBase];
  return file->used ? file : nullptr;
}

INT WINAPI LZOpenFileA(LPSTR path, LPOFSTRUCT record, WORD style) {
  const std::size_t length = std::strlen(path);
  if (record != nullptr) {
    std::memset(record, 0, sizeof *record);
    record->cBytes = sizeof *record;
  }
  // The path must fit the open-file record's 128-byte field, as on Windows.
  if (length >= OFS_MAXPATHNAME) {
    if (record != nullptr) record->nErrCode = ERROR_FILENAME_EXCED_RANGE;
    return -1;
  }
  if (record != nullptr) std::memcpy(record->szPathName, path, length + 1);
  // Named and opened as CreateFileA names and opens a file: a read-only file is not written,
  // anything but a regular file is refused.
  char mapped[kPathMax];
  DWORD error;
  const bool create = (style & OF_CREATE) != 0;
  const int fd = OpenNamedFile(path, create ? GENERIC_WRITE : GENERIC_READ, create ? CREATE_ALWAYS : OPEN_EXISTING,
                               mapped, nullptr, &error);
  if (fd < 0) {
    if (record != nullptr) record->nErrCode = static_cast<WORD>(error);
    return -1;
  }
  LzFile file = {fd, {}, true, false};
  if (!(style & OF_CREATE)) {
    std::uint8_t bytes[szdd::kHeaderSize];
    const ssize_t n = Retrying([&] { return pread(fd, bytes, sizeof bytes, 0); });
    if (n > 0 && szdd::ParseHeader(bytes, static_cast<std::size_t>(n), &file.header)) {
      if (file.header.mode != szdd::kModeLzss) {
        close(fd);
        return LZERROR_UNKNOWNALG;
      }
      file.compressed = true;
      lseek(fd, static_cast<off_t>(szdd::kHeaderSize), SEEK_SET);
    }
  }
  std::lock_guard<std::mutex> lock(g_lz_mutex);
  for (int i = 0; i < kMaxLzFiles; ++i) {
    if (!g_lz_files[i].used) {
      g_lz_files[i] = file;
      return kLzHandleBase + i;
    }
  }
  close(fd);
  return LZERROR_GLOBALLOC;
}

LONG WINAPI LZCopy(INT source, INT destination) {
  LzFile from, to;
  {
    std::lock_guard<std::mutex> lock(g_lz_mutex);
    LzFile* f = Find(source);
    if (f == nullptr) return LZERROR_BADINHANDLE;
    LzFile* t = Find(destination);
    if (t == nullptr) return LZERROR_BADOUTHANDLE;
    from = *f;
    to = *t;
  }
  posix::FdSource in(from.fd);
  posix::FdSink out(to.fd);
  if (from.compressed) {
    const szdd::ExpandResult result = szdd::ExpandData(from.header, in, out);
    switch (result.status) {
      case szdd::Status::kOk:
      case szdd::Status::kTruncated: return static_cast<LONG>(result.written);
      case szdd::Status::kReadError: return LZERROR_READ;
      case szdd::Status::kWriteError: return LZERROR_WRITE;
      case szdd::Status::kNotSzdd: return LZERROR_UNKNOWNALG;
    }
    return LZERROR_READ;
  }
  std::uint8_t buffer[16384];
  LONG total = 0;
  for (;;) {
    const long n = in.Read(buffer, sizeof buffer);
    if (n < 0) return LZERROR_READ;
    if (n == 0) return total;
    if (!out.Write(buffer, static_cast<std::size_t>(n))) return LZERROR_WRITE;
    total += static_cast<LONG>(n);
  }
}

void WINAPI LZClose(INT handle) {
  std::lock_guard<std::mutex> lock(g_lz_mutex);
  LzFile* file = Find(handle);
  if (file == nullptr) return;
  close(file->fd);
  file->used = false;
}

}  // namespace

void FillLzOps(SystemOps& ops) {
  ops.LZOpenFileA = LZOpenFileA;
  ops.LZCopy = LZCopy;
  ops.LZClose = LZClose;
}

}  // namespace posix
