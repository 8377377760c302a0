// The seam of the packer's file functions: what files.cpp does on both systems over what
// files_posix.cpp and files_windows.cpp each do on theirs, a C run-time file descriptor held
// by an RAII object, and the one-line errors they throw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <utility>

#include "pack/names.h"
#include "pack/paths.h"

namespace pack {

// Throws PackError: "PATH: what".
[[noreturn]] inline void Fail(const std::filesystem::path& path, const std::string& what) {
  throw PackError(PathText(path) + ": " + what);
}

// The system's text for an error number.
inline std::string Reason(int error) { return std::generic_category().message(error); }

namespace file_io {

// ---- Defined by each system's file ----

// Closes a descriptor: close(2), or the C run-time's _close on Windows. Returns 0, or -1 with
// errno set.
int CloseDescriptor(int fd);

// True on Windows: an installed qmrpack.exe keeps the stub beside itself (InstalledStubFor).
extern const bool kWindowsSystem;

// Opens a regular file for reading and tells its size. Throws PackError ("PATH: reason") when
// it is missing, a directory or not a regular file.
int OpenRegularFile(const std::filesystem::path& path, std::uint64_t* size);

// Reads or writes up to `count` bytes (an interrupted call is retried). Returns the count
// done, 0 at the end of the file, or -1 with errno set.
std::ptrdiff_t ReadSome(int fd, std::uint8_t* buffer, std::size_t count);
std::ptrdiff_t WriteSome(int fd, const std::uint8_t* bytes, std::size_t count);

// Gives a written file its permission bits (where the system has them) and flushes it to the
// disk. Throws PackError naming `path`.
void Flush(const std::filesystem::path& path, int fd, unsigned mode);

// ---- Shared ----

// A file descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) CloseDescriptor(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  // Gives the descriptor up, unclosed.
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

}  // namespace file_io

}  // namespace pack
