// What the packer's file functions share on both systems: a C run-time file descriptor held by
// an RAII object, and the one-line errors they throw. files.cpp and files_windows.cpp use it.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include "pack/names.h"
#include "pack/paths.h"

namespace pack::file_io {

// Closes a descriptor: close(2), or the C run-time's _close on Windows. Defined beside each
// system's file functions.
void CloseDescriptor(int fd);

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

 private:
  int fd_;
};

[[noreturn]] inline void Fail(const std::filesystem::path& path, const std::string& what) {
  throw PackError(PathText(path) + ": " + what);
}

// The system's text for an error number.
inline std::string Reason(int error) { return std::generic_category().message(error); }

}  // namespace pack::file_io
