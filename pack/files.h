// Files for the packer: whole reads, last-write times, and outputs written under a temporary
// name and renamed into place only when whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "pack/format.h"

namespace pack {

// Reads a whole regular file. Throws PackError ("PATH: reason") when it is missing, not a
// regular file or cannot be read.
Bytes ReadWholeFile(const std::filesystem::path& path);

// The last-write time of a file as a FILETIME, and its permission bits. Throw PackError.
std::uint64_t LastWriteTime(const std::filesystem::path& path);
unsigned PermissionBits(const std::filesystem::path& path);

// An output file written under a temporary name beside its final one. The temporary file is
// deleted when the object goes without Commit having renamed it into place.
class StagedFile {
 public:
  // Creates the temporary file in the final path's directory. Throws PackError.
  explicit StagedFile(std::filesystem::path final_path);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Writes all the bytes, sets the permission bits and flushes the file to the disk. Throws.
  void WriteAll(const Bytes& bytes, unsigned mode);
  // Renames the temporary file to the final path. Throws PackError.
  void Commit();

  const std::filesystem::path& final_path() const { return final_path_; }

 private:
  std::filesystem::path final_path_;
  std::filesystem::path temporary_path_;
  int fd_ = -1;
  bool committed_ = false;
};

// Writes `bytes` to `path` through a StagedFile. Throws PackError.
void WriteFileWhole(const std::filesystem::path& path, const Bytes& bytes, unsigned mode = 0644);

}  // namespace pack
