// Fuzzes the volume reader, the extraction engine and the hand-off with whole sets: volume 1
// and up to three following volumes, over the POSIX layer in a private directory. Checked on
// every input: nothing is created outside the temporary directory, every file the entries
// created is in the clean-up list, a failed run's clean-up leaves none of them nor the files
// the hand-off expanded, no handle is left open.
//
// Input: byte 0 gives the number of following volumes (0-3); then one 3-byte little-endian
// length per following volume; the rest, in order, is volume 2, 3, ... and last volume 1.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "platform/testing/test_platform.h"

namespace {

namespace fs = std::filesystem;
using testing_platform::TestPlatform;

struct Sandbox {
  fs::path root, launcher_dir, temp_dir;
  Sandbox() {
    std::string pattern = (fs::temp_directory_path() / "qmrfuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    root = pattern;
    launcher_dir = root / "dl";
    temp_dir = root / "tmp";
  }
};

// The private directory of the run; removed when the run ends normally.
Sandbox& Box() {
  static Sandbox* box = [] {
    auto* made = new Sandbox();
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(Box().root, ignored);
    });
    return made;
  }();
  return *box;
}

std::string Windows(const fs::path& path, bool directory = false) {
  std::string text = path.string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return "Z:" + text + (directory ? "\\" : "");
}

void Write(const fs::path& path, const std::uint8_t* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Every path under the sandbox, files and directories.
std::set<std::string> Everything(const fs::path& root) {
  std::set<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(root)) paths.insert(entry.path().string());
  return paths;
}

std::set<std::string> Listed() {
  std::set<std::string> listed;
  for (const char* p = g_run.cleanup_list; *p != '\0'; p += std::strlen(p) + 1) listed.insert(p);
  return listed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Sandbox& box = Box();
  fs::remove_all(box.launcher_dir);
  fs::remove_all(box.temp_dir);
  fs::create_directories(box.launcher_dir);
  fs::create_directories(box.temp_dir);

  // Split the input into volumes.
  const int following = data[0] % 4;
  std::size_t at = 1;
  std::vector<std::size_t> lengths;
  for (int i = 0; i < following; ++i) {
    std::size_t length = 0;
    for (int b = 0; b < 3; ++b) length |= static_cast<std::size_t>(at < size ? data[at++] : 0) << (8 * b);
    lengths.push_back(length);
  }
  for (int i = 0; i < following; ++i) {
    const std::size_t length = std::min(lengths[i], size - at);
    Write(box.launcher_dir / ("Disk" + std::to_string(i + 2)), data + at, length);
    at += length;
  }
  Write(box.launcher_dir / "qmrsfx", data + at, size - at);
  const std::set<std::string> before = Everything(box.root);

  ResetExtractionState();
  TestPlatform platform;
  platform.SetCustomResource(payload::kOffsetResourceId, {0, 0, 0, 0});
  // The disk prompt: OK once (the disk is still missing), then Cancel.
  int prompts = 0;
  platform.OnMessageBox([&](const testing_platform::MessageBoxCall&) { return prompts++ == 0 ? IDOK : IDCANCEL; });
  std::strcpy(g_run.module_path, Windows(box.launcher_dir / "qmrsfx").c_str());
  std::strcpy(g_run.temp_dir, Windows(box.temp_dir, true).c_str());
  std::strcpy(g_run.version, "1.13a");
  const int result = ExtractAndLaunch();

  if (platform.OpenFileHandles() != 0 || platform.OpenLzHandles() != 0) std::abort();
  const std::set<std::string> listed = Listed();
  for (const std::string& path : Everything(box.root)) {
    if (before.count(path) != 0) continue;
    const fs::path created(path);
    // Nothing new outside the temporary directory, and no directory at all.
    if (created.parent_path() != box.temp_dir || fs::is_directory(created)) std::abort();
    const std::string name = created.filename().string();
    if (name != "qmrsetup.inf" && name != "qmrsetup.exe" && listed.count(Windows(created)) == 0) std::abort();
  }
  if (result == 0) {
    DeleteListedFiles(g_run.cleanup_list);
    for (const std::string& path : listed) {
      std::string posix = path.substr(2);
      std::replace(posix.begin(), posix.end(), '\\', '/');
      if (fs::exists(posix)) std::abort();
    }
    // A failed hand-off removes what it expanded.
    if (fs::exists(box.temp_dir / "qmrsetup.inf") || fs::exists(box.temp_dir / "qmrsetup.exe")) std::abort();
  }
  return 0;
}
