// Files for the packer on Windows: the C run-time's descriptors opened by wide paths (so every
// name works whatever the system's code page), held by RAII objects; times from the file
// system's own FILETIME. files_posix.cpp is the POSIX twin; files.cpp holds what both share.
#include "platform/winapi.h"

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "pack/files.h"
#include "pack/descriptor.h"
#include "pack/names.h"
#include "pack/paths.h"
#include "platform/win32/layer.h"

namespace pack {

int file_io::CloseDescriptor(int fd) { return _close(fd); }

const bool file_io::kWindowsSystem = true;

namespace {

// The C run-time's error number for a Windows error, so messages read as on Linux.
int ErrnoOf(DWORD error) {
  static const std::pair<DWORD, int> kErrnos[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT}, {ERROR_PATH_NOT_FOUND, ENOENT},    {ERROR_INVALID_NAME, ENOENT},
      {ERROR_ACCESS_DENIED, EACCES},  {ERROR_SHARING_VIOLATION, EACCES}, {ERROR_LOCK_VIOLATION, EACCES},
      {ERROR_ALREADY_EXISTS, EEXIST}, {ERROR_FILE_EXISTS, EEXIST},       {ERROR_DISK_FULL, ENOSPC},
      {ERROR_HANDLE_DISK_FULL, ENOSPC},
  };
  for (const auto& [windows, posix] : kErrnos)
    if (windows == error) return posix;
  return EIO;
}

int OpenWide(const std::filesystem::path& path, int flags) {
  int fd = -1;
  if (_wsopen_s(&fd, path.c_str(), flags | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, _S_IREAD | _S_IWRITE) != 0) return -1;
  return fd;
}

}  // namespace

int file_io::OpenRegularFile(const std::filesystem::path& path, std::uint64_t* size) {
  Descriptor fd(OpenWide(path, _O_RDONLY));
  if (fd.get() < 0) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) Fail(path, "is a directory");
    Fail(path, Reason(errno));
  }
  struct _stat64 st;
  if (_fstat64(fd.get(), &st) != 0) Fail(path, Reason(errno));
  if ((st.st_mode & _S_IFMT) != _S_IFREG) Fail(path, "is not a regular file");
  *size = static_cast<std::uint64_t>(st.st_size);
  return fd.release();
}

// The C run-time reads and writes at most INT_MAX bytes at a time.
std::ptrdiff_t file_io::ReadSome(int fd, std::uint8_t* buffer, std::size_t count) {
  return _read(fd, buffer, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}

std::ptrdiff_t file_io::WriteSome(int fd, const std::uint8_t* bytes, std::size_t count) {
  return _write(fd, bytes, static_cast<unsigned>(std::min<std::size_t>(count, 1u << 30)));
}

// Windows files have no permission bits: the mode is not used.
void file_io::Flush(const std::filesystem::path& path, int fd, unsigned /*mode*/) {
  if (_commit(fd) != 0) Fail(path, "cannot write: " + Reason(errno));
}

std::uint64_t LastWriteTime(const std::filesystem::path& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) Fail(path, Reason(ErrnoOf(GetLastError())));
  return static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 | data.ftLastWriteTime.dwLowDateTime;
}

// Windows files have no permission bits: a launcher is written as the ordinary file it is.
unsigned PermissionBits(const std::filesystem::path& path) {
  if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) Fail(path, Reason(ErrnoOf(GetLastError())));
  return 0755;
}

StagedFile::StagedFile(std::filesystem::path final_path) : final_path_(std::move(final_path)) {
  const std::wstring stem = L"." + final_path_.filename().wstring() + L".qmrpack-" + std::to_wstring(GetCurrentProcessId());
  for (unsigned attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    temporary_path_ = final_path_.parent_path() / (stem + L"-" + std::to_wstring(attempt));
    fd_ = OpenWide(temporary_path_, _O_WRONLY | _O_CREAT | _O_EXCL);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) Fail(final_path_, "cannot create a temporary file beside it: " + Reason(errno));
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) _close(fd_);
  if (!committed_) DeleteFileW(temporary_path_.c_str());
}

void StagedFile::Commit() {
  if (!MoveFileExW(temporary_path_.c_str(), final_path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    Fail(final_path_, "cannot rename into place: " + Reason(ErrnoOf(GetLastError())));
  committed_ = true;
}

// The Windows layer's own conversion (exact, else the short form), so that the packer and the
// launcher's layer name a file alike.
std::string WindowsForm(const std::filesystem::path& path) {
  std::error_code ec;
  const std::wstring wide = std::filesystem::absolute(path, ec).lexically_normal().wstring();
  std::string ansi(2 * wide.size() + 1, '\0');  // a character takes at most two bytes
  const DWORD n = ec ? 0 : win32::WidePathToAnsi(wide.c_str(), ansi.data(), static_cast<DWORD>(ansi.size()));
  if (n == 0 || n >= ansi.size()) throw PackError(PathText(path) + ": the system's code page cannot name this path");
  ansi.resize(n);
  return ansi;
}

std::filesystem::path ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) throw PackError("cannot tell where qmrpack itself is");
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

}  // namespace pack
