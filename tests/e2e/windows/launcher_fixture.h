// The fixture of the Wine tests of the Windows launcher: a private Wine session, a three-volume
// set written beside a real launcher, the launcher started and its windows answered, and the
// outcome checked on disk and in what the setup program recorded.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "support/launcher_set.h"
#include "support/process.h"
#include "support/workspace.h"
#include "szdd/szdd.h"
#include "wine_session.h"

namespace qmrtest {

using std::chrono::milliseconds;
using std::chrono::seconds;

inline const std::string kCaption = "Quillmoor 自己展開プログラム";
inline const std::string kConfirmation =
    "Quillmoor Version1.13a のインストール、または\nバージョンアップを行います。続行しますか？\n";
inline const std::string kError = "アーカイブの展開中にエラーが発生しました";
inline const std::string kWaitText = "自己展開プログラムが必要なファイルを取り出す間、しばらくお待ちください。";
inline const char kSetupInfo[] = "[Setup]\r\nTitle=Quillmoor\r\n[Account]\r\nPOP3Server=\r\n";
inline const char kPresets[] = "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n";

// The disk prompt for disk `disk`, on drive `drive`.
inline std::string DiskPrompt(char drive, int disk) {
  return std::string("ドライブ ") + drive + ": に 「Quillmoor Version1.13a Disk" + std::to_string(disk) +
         "」を挿入し、\n[OK] ボタンを押してください";
}

// Message box ids, as Windows defines them.
constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;

// Dialog units to pixels, rounded as Windows rounds them (MulDiv).
inline int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

inline bool IsMessageBox(const Window& w) { return w.IsMessageBox(); }
inline bool IsProgressDialog(const Window& w) { return w.IsProgressDialog(); }

inline Bytes Compress(const Bytes& data, char missing) {
  szdd::CompressOptions options;
  options.missing_char = static_cast<std::uint8_t>(missing);
  return szdd::CompressBuffer(data.data(), data.size(), options);
}

// A volume on a slow disk: a FIFO the test feeds, so that the launcher waits inside it with
// its progress dialog up while the test looks at the dialog and presses keys.
class SlowVolume {
 public:
  // Makes the FIFO and puts the first `ready` bytes in it; the launcher reads them and then waits.
  SlowVolume(const std::filesystem::path& path, const Bytes& bytes, std::size_t ready) : bytes_(bytes), ready_(ready) {
    if (mkfifo(path.c_str(), 0644) != 0) throw std::runtime_error("mkfifo failed");
    // Read and write: opening never blocks, and the launcher sees the end only once the test closes it.
    fd_ = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("cannot open the FIFO");
    // Room for either part in one write, so a read never sees part of a block the test wrote.
    if (fcntl(fd_, F_SETPIPE_SZ, 1 << 20) < static_cast<int>(std::max(ready, bytes.size() - ready)))
      throw std::runtime_error("cannot enlarge the FIFO");
    WriteAll(bytes_.data(), ready_);
  }
  ~SlowVolume() {
    if (fd_ >= 0) close(fd_);
  }

  // Waits until the launcher has read everything put in so far.
  bool WaitUntilRead(milliseconds timeout = seconds(60)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      int unread = -1;
      if (ioctl(fd_, FIONREAD, &unread) == 0 && unread == 0) return true;
      std::this_thread::sleep_for(milliseconds(20));
    }
    return false;
  }

  // Puts in the rest and closes the FIFO: the launcher reads on to the end of the volume.
  void Finish() {
    WriteAll(bytes_.data() + ready_, bytes_.size() - ready_);
    close(fd_);
    fd_ = -1;
  }

 private:
  void WriteAll(const std::uint8_t* data, std::size_t size) {
    if (write(fd_, data, size) != static_cast<ssize_t>(size)) throw std::runtime_error("FIFO write failed");
  }

  Bytes bytes_;
  std::size_t ready_;
  int fd_ = -1;
};

// A small disk: a tmpfs of `bytes` mounted over `directory` while the object lives, so that
// writing beyond it fails with the disk full. Mounting needs root; mounted() says whether it is.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& directory, std::uint64_t bytes) : directory_(directory) {
    std::filesystem::create_directories(directory);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = mount("tmpfs", directory.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
  }
  ~SmallDisk() {
    // Detached, so that a file a Wine process still holds open cannot keep the disk mounted.
    if (mounted_) umount2(directory_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;
  bool mounted() const { return mounted_; }

  // The room a file of `size` bytes takes there: whole pages.
  static std::uint64_t Room(std::size_t size) { return (size + 4095) / 4096 * 4096; }

 private:
  std::filesystem::path directory_;
  bool mounted_ = false;
};

// What the setup program recorded: its command line, path and working directory, and the
// information file it found beside it.
struct SetupRecord {
  std::string command_line, module, directory, information_file;
};

inline SetupRecord ReadRecord(const std::filesystem::path& path) {
  const std::string text = ReadText(path);
  SetupRecord record;
  const std::string marker = "--- qmrsetup.inf\n";
  const auto split = text.find(marker);
  std::istringstream lines(text.substr(0, split));
  std::string line;
  while (std::getline(lines, line)) {
    const auto equals = line.find('=');
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "command_line") record.command_line = value;
    if (key == "module") record.module = value;
    if (key == "directory") record.directory = value;
  }
  if (split != std::string::npos) record.information_file = text.substr(split + marker.size());
  return record;
}

class WineLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_ = std::make_unique<WineSession>(::testing::UnitTest::GetInstance()->current_test_info()->name(), Locale());
    for (const char* dir : {"set", "tmp", "elsewhere", "record"}) std::filesystem::create_directories(ws_.Path(dir));
    readme_ = ToBytes("Quillmoor readme\r\n");
    info_ = Compress(ToBytes(kSetupInfo), 'f');
    data_ = RandomBytes(512 * 1024, 7);
    program_ = Compress(ReadBytes(MingwProgram("tests/e2e/windows/qmrtestsetup.exe")), 'e');
    notes_ = RandomBytes(40000, 8);
    BuildVolumes();
    launcher_ = ws_.Path("set/qmrsfx.exe");
    temp_ = ws_.Path("tmp");
  }

  // The three volumes of the fixture's files: volume 1 readme.txt and qmrsetup.in_, Disk2
  // data.bin, Disk3 qmrsetup.ex_ and notes.txt.
  void BuildVolumes() {
    total_ = static_cast<std::int32_t>(readme_.size() + info_.size() + data_.size() + program_.size() + notes_.size());
    volume1_ = VolumeBuilder(total_).Entry("readme.txt", readme_, kSampleTime).Entry("qmrsetup.in_", info_).bytes();
    disk2_ = VolumeBuilder(total_).Entry("data.bin", data_, kSampleTime + 20000000).bytes();
    disk3_ = VolumeBuilder(total_).Entry("qmrsetup.ex_", program_).Entry("notes.txt", notes_, kSampleTime + 3).bytes();
  }

  // The session's locale: Japanese (code page 932) unless a test says otherwise.
  virtual std::string Locale() const { return "ja_JP.UTF-8"; }

  // Writes the launcher (volume 1 appended) with the presets file beside it.
  void WriteLauncher() {
    WriteLauncherFile(MingwProgram("qmrsfx.exe"), launcher_, volume1_);
    WriteText(launcher_.parent_path() / "qmrpresets.ini", kPresets);
  }
  void WriteDisk(int number, const Bytes& bytes) {
    WriteBytes(launcher_.parent_path() / ("Disk" + std::to_string(number)), bytes);
  }
  void WriteWholeSet() {
    WriteLauncher();
    WriteDisk(2, disk2_);
    WriteDisk(3, disk3_);
  }
  // Disk2 on a slow disk, read up to the middle of data.bin, where the launcher waits.
  std::unique_ptr<SlowVolume> WriteSlowDisk2() {
    const std::size_t header = disk2_.size() - data_.size();
    return std::make_unique<SlowVolume>(launcher_.parent_path() / "Disk2", disk2_, header + data_.size() / 2);
  }
  // The progress bar's position while the launcher waits in the middle of data.bin.
  int PausedPercent() const {
    return static_cast<int>((readme_.size() + info_.size() + data_.size() / 2) * 100 / total_);
  }

  std::filesystem::path record() const { return ws_.Path("record/setup.txt"); }

  // Starts the launcher under Wine from `directory`, with the session's temporary directory
  // (`temp_`, or `temp_given_` where set) and `extra` in its environment.
  void StartLauncher(const std::filesystem::path& directory, Environment extra = {}) {
    session_->SetTemporaryDirectory(temp_given_.empty() ? WindowsPath(temp_) : temp_given_);
    extra["QMR_TEST_RECORD"] = WindowsPath(record());
    launcher_run_ = session_->Start(launcher_, directory, extra);
  }
  void StartLauncher() { StartLauncher(launcher_.parent_path()); }

  // The confirmation: its text with the version, Yes and No, no icon, no owner.
  Window ExpectConfirmation() {
    const Window box = session_->WaitForWindow(kCaption, IsMessageBox);
    EXPECT_EQ(box.MessageText(), kConfirmation);
    EXPECT_EQ(box.ButtonIds(), (std::vector<int>{kIdYes, kIdNo}));
    EXPECT_EQ(box.owner, 0u);
    for (const Control& c : box.controls) EXPECT_FALSE(c.shows_icon) << "the confirmation shows no icon";
    EXPECT_EQ(session_->XWindowName(box.x11), kCaption);
    session_->Screenshot("confirmation");
    return box;
  }

  // A message box owned by the progress dialog, with its text, buttons and icon.
  Window ExpectOwnedBox(const Window& dialog, const std::string& text, const std::vector<int>& buttons,
                        const std::string& label) {
    const Window box = session_->WaitForWindow(kCaption, IsMessageBox);
    EXPECT_EQ(box.MessageText(), text);
    EXPECT_EQ(box.ButtonIds(), buttons);
    EXPECT_EQ(box.owner, dialog.hwnd) << "the box is owned by the progress dialog";
    EXPECT_EQ(session_->XWindowName(box.x11), kCaption);
    shot_ = session_->Screenshot(label);
    return box;
  }

  // The colour of the icon a box shows, read from its last screenshot.
  std::vector<int> IconColour(const Window& box) {
    for (const Control& c : box.controls) {
      if (!c.shows_icon) continue;
      Rect area = c.rect;
      area.left += box.client_x;
      area.right += box.client_x;
      area.top += box.client_y;
      area.bottom += box.client_y;
      return session_->AverageColour(shot_, area);
    }
    ADD_FAILURE() << "the box shows no icon";
    return {0, 0, 0};
  }

  // The progress dialog, whatever box shows over it.
  Window ReadDialog(const Window& dialog) {
    for (const Window& w : session_->ReadWindows())
      if (w.hwnd == dialog.hwnd) return w;
    throw std::runtime_error("the progress dialog is gone");
  }

  // The dialog once its bar shows `percent`: the worker may have read the last block before
  // the pause and not yet reported it.
  Window WaitForProgress(const Window& dialog, int percent) {
    const auto end = std::chrono::steady_clock::now() + seconds(30);
    for (;;) {
      const Window now = ReadDialog(dialog);
      const Control* bar = now.FindControl(1000);
      if ((bar != nullptr && bar->position == percent) || std::chrono::steady_clock::now() > end) return now;
      std::this_thread::sleep_for(milliseconds(100));
    }
  }

  // Puts Disk2 on a slow disk (*disk2), starts the launcher, answers its confirmation with Yes
  // and returns the progress dialog once the launcher waits in the middle of Disk2.
  Window StartAndWaitOnSlowDisk2(std::unique_ptr<SlowVolume>* disk2) {
    *disk2 = WriteSlowDisk2();
    StartLauncher();
    session_->PressKeys(ExpectConfirmation().x11, {"Return"});
    const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
    EXPECT_TRUE((*disk2)->WaitUntilRead()) << "the launcher never reached the middle of Disk2";
    return WaitForProgress(dialog, PausedPercent());
  }

  // Waits for the launcher to end by itself, with exit code 0; a message box that comes up
  // meanwhile fails the test with its text.
  void ExpectLauncherEnded() {
    ASSERT_TRUE(launcher_run_ != nullptr);
    const auto end = std::chrono::steady_clock::now() + seconds(60);
    while (launcher_run_->Running() && std::chrono::steady_clock::now() < end) {
      for (const Window& w : session_->NewWindows(kCaption))
        ASSERT_FALSE(w.IsMessageBox()) << "unexpected box: " << w.MessageText();
      std::this_thread::sleep_for(milliseconds(100));
    }
    EXPECT_EQ(launcher_run_->Wait(milliseconds(0)), 0) << "the launcher ends by itself, with exit code 0";
  }

  // The launcher ended by itself and the setup program was started from `temp_`, in the
  // launcher's working directory `directory`, and saw the presets in its information file.
  void ExpectSetupStarted(const std::filesystem::path& directory) {
    ExpectLauncherEnded();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForFile(record(), seconds(60))) << "the setup program did not run";
    const SetupRecord seen = ReadRecord(record());
    const std::string setup = (temp_seen_.empty() ? WindowsPath(temp_, true) : temp_seen_) + "qmrsetup.exe";
    EXPECT_EQ(seen.command_line, "\"" + setup + "\"") << "quoted path, no arguments";
    // The program's own path in its long form, as Windows names a module.
    EXPECT_EQ(seen.module, WindowsPath(temp_ / "qmrsetup.exe"));
    EXPECT_EQ(seen.directory, WindowsPath(directory));
    EXPECT_NE(seen.information_file.find("[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n"),
              std::string::npos)
        << seen.information_file;
    EXPECT_NE(seen.information_file.find("[Setup]\r\nTitle=Quillmoor\r\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(temp_ / "qmrsetup.exe"), ReadBytes(MingwProgram("tests/e2e/windows/qmrtestsetup.exe")));
  }

  // The fixture's set is extracted into `temp_`, with its files' times, and the setup program
  // was started as ExpectSetupStarted says.
  void ExpectHandedOver(const std::filesystem::path& directory) {
    ExpectSetupStarted(directory);
    if (HasFatalFailure()) return;
    EXPECT_EQ(FileNames(temp_),
              (std::vector<std::string>{"data.bin", "notes.txt", "qmrsetup.exe", "qmrsetup.inf", "readme.txt"}));
    EXPECT_EQ(ReadBytes(temp_ / "data.bin"), data_);
    EXPECT_EQ(ReadBytes(temp_ / "notes.txt"), notes_);
    EXPECT_EQ(LastWriteFileTime(temp_ / "readme.txt"), kSampleTime);
    EXPECT_EQ(LastWriteFileTime(temp_ / "data.bin"), kSampleTime + 20000000);
    EXPECT_EQ(LastWriteFileTime(temp_ / "notes.txt"), kSampleTime + 3);
  }

  // The run fails with the error box over the progress dialog; once it is answered, nothing
  // is left and nothing was started.
  void ExpectErrorAndNothingLeft() {
    const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
    const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "error");
    session_->PressKeys(error.x11, {"Return"});
    ExpectNothingLeft();
  }

  // The run failed or was cancelled: nothing of the set is left and nothing was started.
  void ExpectNothingLeft() {
    ExpectLauncherEnded();
    if (HasFatalFailure()) return;
    EXPECT_TRUE(FileNames(temp_).empty());
    EXPECT_FALSE(std::filesystem::exists(record()));
  }

  void TearDown() override {
    if (HasFailure() && session_ != nullptr) {
      try {
        session_->Screenshot("at-failure");
      } catch (const std::exception&) {
      }
    }
    launcher_run_.reset();
    session_.reset();
  }

  Workspace ws_;
  std::unique_ptr<WineSession> session_;
  std::unique_ptr<BackgroundProcess> launcher_run_;
  Bytes readme_, info_, data_, program_, notes_, volume1_, disk2_, disk3_;
  std::int32_t total_ = 0;
  std::filesystem::path launcher_, temp_, shot_;
  // The temporary directory as the launcher sees it, with its backslash, when not `temp_`
  // itself (its short form, when the process's code page cannot hold the long one).
  std::string temp_seen_;
  // The temporary directory as the test gives it to Windows, when not `temp_` itself.
  std::string temp_given_;
};

}  // namespace qmrtest
