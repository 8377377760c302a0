// Test support: a private temporary directory, real files in it, and the Windows form of its
// paths as the POSIX layer maps them.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qmrtest {

using Bytes = std::vector<std::uint8_t>;

class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const std::filesystem::path& root() const { return root_; }
  std::filesystem::path Path(const std::string& relative) const { return root_ / relative; }

 private:
  std::filesystem::path root_;
};

// "Z:\..." for an absolute POSIX path; a directory gets its trailing backslash when asked.
std::string WindowsPath(const std::filesystem::path& path, bool trailing_backslash = false);

Bytes ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);
void WriteText(const std::filesystem::path& path, const std::string& text);
Bytes ToBytes(const std::string& text);

// Last-write time of a file as a Windows FILETIME value (100 ns since 1601).
std::uint64_t LastWriteFileTime(const std::filesystem::path& path);

// Names of the regular files directly in a directory, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& directory);

// Deterministic pseudo-random bytes.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);

}  // namespace qmrtest
