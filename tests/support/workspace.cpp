// Test support: temporary directories and real files.
#include "support/workspace.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "format/filetime.h"

namespace qmrtest {

Workspace::Workspace() {
  std::string pattern = (std::filesystem::temp_directory_path() / "qmrtest-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

Workspace::~Workspace() {
  std::error_code ignored;
  std::filesystem::permissions(root_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(root_, ignored);
}

std::string WindowsPath(const std::filesystem::path& path, bool trailing_backslash) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  if (!text.empty() && text[0] == '\\') text = "Z:" + text;
  if (trailing_backslash && (text.empty() || text.back() != '\\')) text += '\\';
  return text;
}

Bytes ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::filesystem::path& path) {
  Bytes bytes = ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void WriteText(const std::filesystem::path& path, const std::string& text) { WriteBytes(path, ToBytes(text)); }

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::uint64_t LastWriteFileTime(const std::filesystem::path& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path.string());
  return payload::FileTimeFromUnix(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

std::vector<std::string> FileNames(const std::filesystem::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory))
    if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  Bytes bytes(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x);
  }
  return bytes;
}

}  // namespace qmrtest
