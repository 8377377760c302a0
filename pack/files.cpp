// The packer's file functions that are the same on every system, written over the per-system
// descriptor operations of descriptor.h (files_posix.cpp, files_windows.cpp).
#include "pack/files.h"

#include <cerrno>
#include <utility>

#include "pack/descriptor.h"
#include "pack/paths.h"

namespace pack {

Bytes ReadWholeFile(const std::filesystem::path& path) {
  std::uint64_t size = 0;
  file_io::Descriptor fd(file_io::OpenRegularFile(path, &size));
  Bytes bytes(static_cast<std::size_t>(size));
  for (std::size_t done = 0; done < bytes.size();) {
    const std::ptrdiff_t n = file_io::ReadSome(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) Fail(path, Reason(errno));
    if (n == 0) Fail(path, "changed while it was read");
    done += static_cast<std::size_t>(n);
  }
  return bytes;
}

void StagedFile::WriteAll(const Bytes& bytes, unsigned mode) {
  for (std::size_t done = 0; done < bytes.size();) {
    const std::ptrdiff_t n = file_io::WriteSome(fd_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Fail(final_path_, "cannot write: " + Reason(n < 0 ? errno : ENOSPC));
    done += static_cast<std::size_t>(n);
  }
  file_io::Flush(final_path_, fd_, mode);
  if (file_io::CloseDescriptor(std::exchange(fd_, -1)) != 0) Fail(final_path_, "cannot write: " + Reason(errno));
}

void WriteFileWhole(const std::filesystem::path& path, const Bytes& bytes, unsigned mode) {
  StagedFile file(path);
  file.WriteAll(bytes, mode);
  file.Commit();
}

std::filesystem::path InstalledStub() { return InstalledStubFor(ExecutablePath(), file_io::kWindowsSystem); }

}  // namespace pack
