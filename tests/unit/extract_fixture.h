// Test support for the extraction subsystem: a launcher directory and a temporary directory
// in a private workspace, the run state pointed at them, and the testing platform installed.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "platform/testing/test_platform.h"
#include "support/minimal_stubs.h"
#include "support/set_builder.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {

using testing_platform::Fault;
using testing_platform::Op;
using testing_platform::TestPlatform;

struct EntrySpec {
  std::string name;
  Bytes data;
};
using VolumeSpec = std::vector<EntrySpec>;

inline constexpr char kInfText[] = "[Setup]\r\nTitle=Quillmoor\r\n\r\n[Account]\r\nPOP3Server=\r\n";
inline constexpr char kProgramText[] = "#!/bin/sh\necho setup program\n";

inline Bytes Compressed(const std::string& text, char missing) {
  szdd::CompressOptions options;
  options.missing_char = static_cast<std::uint8_t>(missing);
  return szdd::CompressBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), options);
}

// The two setup files every set carries, compressed.
inline EntrySpec SetupInfoEntry() { return {"qmrsetup.in_", Compressed(kInfText, 'f')}; }
inline EntrySpec SetupProgramEntry() { return {"qmrsetup.ex_", Compressed(kProgramText, 'e')}; }

class ExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetExtractionState();
    platform_ = std::make_unique<TestPlatform>();
    std::filesystem::create_directories(launcher_dir());
    std::filesystem::create_directories(temp_dir());
    SetModulePath(WindowsPath(launcher_dir() / "qmrsfx"));
    SetTempDir(WindowsPath(temp_dir(), true));
    platform_->ops().LoadStringA(nullptr, 2, g_run.caption, sizeof g_run.caption);
    std::strcpy(g_run.version, "1.13a");
  }

  void TearDown() override {
    EXPECT_EQ(platform_->OpenFileHandles(), 0) << "a file handle was left open";
    EXPECT_EQ(platform_->OpenLzHandles(), 0) << "an LZ handle was left open";
    EXPECT_EQ(platform_->UnexpectedMessageBoxes(), 0);
    platform_.reset();
  }

  std::filesystem::path launcher_dir() const { return workspace_.Path("dl"); }
  std::filesystem::path temp_dir() const { return workspace_.Path("tmp"); }
  std::filesystem::path launcher() const { return launcher_dir() / "qmrsfx"; }
  TestPlatform& platform() { return *platform_; }

  static void SetModulePath(const std::string& path) { std::strcpy(g_run.module_path, path.c_str()); }
  static void SetTempDir(const std::string& path) { std::strcpy(g_run.temp_dir, path.c_str()); }
  // A new run's state: the launcher's path and the temporary directory, nothing else.
  void NewRun() const {
    ResetExtractionState();
    SetModulePath(WindowsPath(launcher()));
    SetTempDir(WindowsPath(temp_dir(), true));
  }

  // The set total of a set: the sum of the data sizes of all its entries.
  static std::int32_t Total(const std::vector<VolumeSpec>& volumes) {
    std::int64_t total = 0;
    for (const VolumeSpec& volume : volumes)
      for (const EntrySpec& entry : volume) total += static_cast<std::int64_t>(entry.data.size());
    return static_cast<std::int32_t>(total);
  }

  static Bytes Volume(std::int32_t total, const VolumeSpec& entries) {
    VolumeBuilder builder(total);
    for (const EntrySpec& entry : entries) builder.Entry(entry.name, entry.data);
    return builder.bytes();
  }

  // Writes the launcher (a stub of `stub_size` bytes followed by volume 1) and stands in for
  // its payload-offset resource.
  void WriteLauncher(const Bytes& volume1, std::size_t stub_size = 64) {
    Bytes file = RandomBytes(stub_size, 7);
    file.insert(file.end(), volume1.begin(), volume1.end());
    WriteBytes(launcher(), file);
    platform_->SetCustomResource(payload::kOffsetResourceId, LE32(static_cast<std::uint32_t>(stub_size)));
  }

  // Writes a signed Windows launcher: the minimal PE stub, volume 1, and the signing tool's
  // alignment and certificate table after it. Returns the launcher file's bytes.
  Bytes WriteSignedLauncher(const Bytes& volume1) {
    Bytes file = PeStub();
    file.insert(file.end(), volume1.begin(), volume1.end());
    SignLikeATool(&file);
    WriteLauncherFile(file);
    return file;
  }

  // Writes a launcher file made from the minimal PE stub, whose volume 1 starts where the stub ends.
  void WriteLauncherFile(const Bytes& file) {
    WriteBytes(launcher(), file);
    platform_->SetCustomResource(payload::kOffsetResourceId, LE32(static_cast<std::uint32_t>(PeStub().size())));
  }

  void WriteDisk(int number, const Bytes& volume) {
    WriteBytes(launcher_dir() / ("Disk" + std::to_string(number)), volume);
  }

  // Writes a whole set: volume 1 into the launcher (signed, or not), the others as Disk2, Disk3, ...
  void WriteSet(const std::vector<VolumeSpec>& volumes, bool sign = false) {
    const std::int32_t total = Total(volumes);
    if (sign)
      WriteSignedLauncher(Volume(total, volumes[0]));
    else
      WriteLauncher(Volume(total, volumes[0]));
    for (std::size_t i = 1; i < volumes.size(); ++i) WriteDisk(static_cast<int>(i + 1), Volume(total, volumes[i]));
  }

  // The paths of the clean-up list, in order.
  static std::vector<std::string> CleanupPaths() {
    std::vector<std::string> paths;
    for (const char* p = g_run.cleanup_list; *p != '\0'; p += std::strlen(p) + 1) paths.emplace_back(p);
    return paths;
  }

  std::string TempPath(const std::string& name) const { return WindowsPath(temp_dir() / name); }

  // The disk prompt as the user sees it for disk `number`, on drive Z:.
  static std::string DiskPrompt(int number) {
    return "ドライブ Z: に 「Quillmoor Version1.13a Disk" + std::to_string(number) +
           "」を挿入し、\n[OK] ボタンを押してください";
  }

 private:
  Workspace workspace_;
  std::unique_ptr<TestPlatform> platform_;
};

}  // namespace qmrtest
