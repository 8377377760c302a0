// The packer's file access on POSIX: descriptors, stat times and permission bits, mkostemp and
// rename (files_windows.cpp is the Windows twin; files.cpp holds what both share).
#include "pack/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "format/filetime.h"
#include "pack/descriptor.h"
#include "pack/names.h"
#include "pack/paths.h"
#include "platform/posix/paths.h"
#include "platform/posix/retry.h"

namespace pack {

int file_io::CloseDescriptor(int fd) { return close(fd); }

const bool file_io::kWindowsSystem = false;

namespace {

struct stat StatOf(const std::filesystem::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) Fail(path, Reason(errno));
  return st;
}

}  // namespace

int file_io::OpenRegularFile(const std::filesystem::path& path, std::uint64_t* size) {
  Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) Fail(path, Reason(errno));
  struct stat st;
  if (fstat(fd.get(), &st) != 0) Fail(path, Reason(errno));
  if (S_ISDIR(st.st_mode)) Fail(path, "is a directory");
  if (!S_ISREG(st.st_mode)) Fail(path, "is not a regular file");
  *size = static_cast<std::uint64_t>(st.st_size);
  return fd.release();
}

std::ptrdiff_t file_io::ReadSome(int fd, std::uint8_t* buffer, std::size_t count) {
  return posix::RobustRead(fd, buffer, count);
}

std::ptrdiff_t file_io::WriteSome(int fd, const std::uint8_t* bytes, std::size_t count) {
  return posix::Retrying([&] { return write(fd, bytes, count); });
}

void file_io::Flush(const std::filesystem::path& path, int fd, unsigned mode) {
  if (fchmod(fd, static_cast<mode_t>(mode)) != 0) Fail(path, "cannot set its permissions: " + Reason(errno));
  if (fsync(fd) != 0) Fail(path, "cannot write: " + Reason(errno));
}

std::uint64_t LastWriteTime(const std::filesystem::path& path) {
  const struct stat st = StatOf(path);
  return payload::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

unsigned PermissionBits(const std::filesystem::path& path) { return StatOf(path).st_mode & 07777; }

StagedFile::StagedFile(std::filesystem::path final_path) : final_path_(std::move(final_path)) {
  std::string pattern =
      (final_path_.parent_path() / ("." + final_path_.filename().string() + ".qmrpack-XXXXXX")).string();
  fd_ = mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) Fail(final_path_, "cannot create a temporary file beside it: " + Reason(errno));
  temporary_path_ = pattern;
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) close(fd_);
  if (!committed_) unlink(temporary_path_.c_str());
}

void StagedFile::Commit() {
  if (rename(temporary_path_.c_str(), final_path_.c_str()) != 0) Fail(final_path_, "cannot rename into place: " + Reason(errno));
  committed_ = true;
}

// The POSIX layer's own mapping, so that the packer and the launcher name a file alike.
std::string WindowsForm(const std::filesystem::path& path) {
  std::error_code ec;
  const std::string posix = std::filesystem::absolute(path, ec).lexically_normal().string();
  std::string windows(posix.size() + 3, '\0');
  if (ec || !posix::ToWindowsPath(posix.c_str(), windows.data(), windows.size()))
    throw PackError(PathText(path) + ": the launcher's Windows form of this path names another file");
  windows.resize(std::strlen(windows.c_str()));
  return windows;
}

std::filesystem::path ExecutablePath() {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) throw PackError("cannot tell where qmrpack itself is: " + ec.message());
  return self;
}

}  // namespace pack
