// The real Linux launcher on real sets: answers on standard input, files in a real temporary
// directory, a real setup program started.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "support/launcher_set.h"
#include "support/process.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

const char kConfirmation[] =
    "== Quillmoor 自己展開プログラム ==\nQuillmoor Version1.13a のインストール、または\n"
    "バージョンアップを行います。続行しますか？\n(Yes/No) > ";
const char kError[] = "== Quillmoor 自己展開プログラム == [error]\nアーカイブの展開中にエラーが発生しました\n(OK) > ";

// The setup program: records how it was started and the information file it finds beside it.
const char kSetupProgram[] =
    "#!/bin/sh\n"
    "{ printf 'program=%s\\n' \"$0\"; printf 'directory=%s\\n' \"$PWD\"; printf 'arguments=%s\\n' \"$#\";\n"
    "  cat \"$(dirname \"$0\")/qmrsetup.inf\"; } > \"$QMR_TEST_RECORD.part\" && mv \"$QMR_TEST_RECORD.part\" "
    "\"$QMR_TEST_RECORD\"\n";
const char kSetupInfo[] = "[Setup]\r\nTitle=Quillmoor\r\n[Account]\r\nPOP3Server=\r\n";

Bytes Compress(const std::string& text, char missing) {
  szdd::CompressOptions options;
  options.missing_char = static_cast<std::uint8_t>(missing);
  return szdd::CompressBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), options);
}

class LinuxLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* dir : {"set", "tmp", "elsewhere", "record"}) std::filesystem::create_directories(ws_.Path(dir));
    info_ = Compress(kSetupInfo, 'f');
    program_ = Compress(kSetupProgram, 'e');
    readme_ = ToBytes("Quillmoor readme\n");
    data_ = RandomBytes(70000, 4);
    total_ = static_cast<std::int32_t>(info_.size() + program_.size() + readme_.size() + data_.size());
    volume1_ = VolumeBuilder(total_).Entry("readme.txt", readme_, kSampleTime).Entry("qmrsetup.in_", info_).bytes();
    disk2_ = VolumeBuilder(total_).Entry("qmrsetup.ex_", program_).Entry("data.bin", data_, kSampleTime + 7).bytes();
    WriteLauncherFile(QMR_LAUNCHER_PATH, launcher(), volume1_);
    WriteText(ws_.Path("set/qmrpresets.ini"), "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n");
  }

  std::filesystem::path launcher() const { return ws_.Path("set/qmrsfx"); }
  std::filesystem::path tmp() const { return ws_.Path("tmp"); }
  std::filesystem::path record() const { return ws_.Path("record/setup.txt"); }

  // Starts the launcher from another directory, with its own temporary directory.
  std::unique_ptr<ChildProcess> Start(const std::filesystem::path& temp_dir) {
    return std::make_unique<ChildProcess>(launcher(), ws_.Path("elsewhere"),
                                          std::map<std::string, std::string>{{"TMPDIR", temp_dir.string()},
                                                                             {"QMR_TEST_RECORD", record().string()}});
  }
  std::unique_ptr<ChildProcess> Start() { return Start(tmp()); }

  // Runs the launcher, which must show the error and start no setup program.
  void ExpectTheRunFails(const std::filesystem::path& temp_dir) {
    auto run = Start(temp_dir);
    run->Answer("y");
    ASSERT_TRUE(run->WaitForError(kError)) << run->error_output();
    run->Answer("");
    EXPECT_EQ(run->Wait(), 0);
    EXPECT_FALSE(std::filesystem::exists(record())) << "no setup program was started";
  }

  void WriteDisk2() { WriteBytes(ws_.Path("set/Disk2"), disk2_); }

  void ExpectHandedOver() {
    ASSERT_TRUE(WaitForFile(record()));
    const std::string seen = ReadText(record());
    EXPECT_NE(seen.find("program=" + (tmp() / "qmrsetup.exe").string() + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("directory=" + ws_.Path("elsewhere").string() + "\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("arguments=0\n"), std::string::npos) << seen;
    EXPECT_NE(seen.find("POP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n"), std::string::npos) << seen;
    EXPECT_EQ(FileNames(tmp()),
              (std::vector<std::string>{"data.bin", "qmrsetup.exe", "qmrsetup.inf", "readme.txt"}));
    EXPECT_EQ(ReadBytes(tmp() / "data.bin"), data_);
    EXPECT_EQ(LastWriteFileTime(tmp() / "readme.txt"), kSampleTime);
    EXPECT_EQ(LastWriteFileTime(tmp() / "data.bin"), kSampleTime + 7);
  }

  Workspace ws_;
  Bytes info_, program_, readme_, data_, volume1_, disk2_;
  std::int32_t total_ = 0;
};

TEST_F(LinuxLauncherTest, TwoVolumeSetIsExtractedAndTheSetupProgramStarted) {
  WriteDisk2();
  auto run = Start();
  ASSERT_TRUE(run->WaitForError(kConfirmation));
  run->Answer("y");
  EXPECT_EQ(run->Wait(), 0);
  ExpectHandedOver();
  EXPECT_EQ(run->error_output().find("[error]"), std::string::npos);
  EXPECT_NE(run->error_output().find("100%"), std::string::npos) << run->error_output();
}

TEST_F(LinuxLauncherTest, MissingDiskIsPromptedForAndTheRunGoesOnOnceItIsThere) {
  auto run = Start();
  run->Answer("yes");
  const std::string prompt = "== Quillmoor 自己展開プログラム == [information]\nドライブ Z: に 「Quillmoor "
                             "Version1.13a Disk2」を挿入し、\n[OK] ボタンを押してください\n(OK/Cancel) > ";
  ASSERT_TRUE(run->WaitForError(prompt)) << run->error_output();
  run->Answer("ok");  // still missing: asked again
  ASSERT_TRUE(run->WaitForError(prompt + "ok\n" + prompt)) << run->error_output();
  WriteDisk2();
  run->Answer("");
  EXPECT_EQ(run->Wait(), 0);
  ExpectHandedOver();
}

TEST_F(LinuxLauncherTest, CancelledDiskPromptDeletesTheExtractedFilesWithoutAnError) {
  auto run = Start();
  run->Answer("y");
  ASSERT_TRUE(run->WaitForError("Disk2」を挿入し"));
  ASSERT_EQ(FileNames(tmp()), (std::vector<std::string>{"qmrsetup.in_", "readme.txt"}));
  run->Answer("cancel");
  EXPECT_EQ(run->Wait(), 0);
  EXPECT_TRUE(FileNames(tmp()).empty());
  EXPECT_EQ(run->error_output().find("[error]"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(record()));
}

TEST_F(LinuxLauncherTest, DamagedSetShowsTheErrorAndDeletesTheExtractedFiles) {
  disk2_.resize(disk2_.size() - 100);  // Disk2 ends inside its last entry
  WriteDisk2();
  ExpectTheRunFails(tmp());
  EXPECT_TRUE(FileNames(tmp()).empty());
}

TEST_F(LinuxLauncherTest, NoAtTheConfirmationOrTheEndOfInputChangesNothing) {
  WriteDisk2();
  for (const bool answer_no : {true, false}) {
    auto run = Start();
    if (answer_no) run->Answer("n");
    run->CloseInput();
    EXPECT_EQ(run->Wait(), 0);
    EXPECT_TRUE(FileNames(tmp()).empty());
    EXPECT_EQ(run->error_output().find("自己展開プログラムが必要なファイル"), std::string::npos)
        << "the progress dialog never showed";
  }
}

TEST_F(LinuxLauncherTest, TemporaryDirectoryTheRunCannotUseFailsItCleanly) {
  WriteDisk2();
  // A backslash in the directory's name: its Windows form would name "a/b" instead.
  const std::filesystem::path backslash = ws_.Path("a\\b");
  std::filesystem::create_directories(backslash);
  std::filesystem::create_directories(ws_.Path("a/b"));
  ExpectTheRunFails(backslash);
  EXPECT_TRUE(std::filesystem::is_empty(backslash));
  EXPECT_TRUE(std::filesystem::is_empty(ws_.Path("a/b")));

  // A FIFO named like an entry, whose reader would take the set's data: refused, not waited on.
  ASSERT_EQ(mkfifo((tmp() / "DATA.BIN").c_str(), 0666), 0);
  ExpectTheRunFails(tmp());
  EXPECT_TRUE(FileNames(tmp()).empty());
  EXPECT_TRUE(std::filesystem::is_fifo(tmp() / "DATA.BIN"));
}

// A small file system of its own, mounted for the test and always unmounted.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& directory, const char* size) : directory_(directory) {
    std::filesystem::create_directories(directory_);
    mounted_ = mount("tmpfs", directory_.c_str(), "tmpfs", 0, (std::string("size=") + size).c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(directory_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::filesystem::path directory_;
  bool mounted_ = false;
};

TEST_F(LinuxLauncherTest, DiskThatFillsUpFailsTheRunLeavesNothingAndStartsNothing) {
  // The set's 70,000 bytes of data.bin do not fit 64 KiB.
  {
    SmallDisk disk(ws_.Path("full"), "64k");
    if (!disk.mounted()) GTEST_SKIP() << "mounting a file system is not permitted here";
    WriteDisk2();
    ExpectTheRunFails(ws_.Path("full"));
    EXPECT_TRUE(FileNames(ws_.Path("full")).empty());
  }
  // Every entry fits, but the setup program's 300,000 bytes, expanded, do not.
  const Bytes program = Compress(kSetupProgram + std::string(300000, '#'), 'e');
  ASSERT_LT(program.size(), 48000u);
  const auto total = static_cast<std::int32_t>(info_.size() + program.size());
  WriteLauncherFile(QMR_LAUNCHER_PATH, launcher(),
                    VolumeBuilder(total).Entry("qmrsetup.in_", info_).Entry("qmrsetup.ex_", program).bytes());
  SmallDisk disk(ws_.Path("full"), "64k");
  ASSERT_TRUE(disk.mounted());
  ExpectTheRunFails(ws_.Path("full"));
  EXPECT_TRUE(FileNames(ws_.Path("full")).empty());
}

}  // namespace
}  // namespace qmrtest
