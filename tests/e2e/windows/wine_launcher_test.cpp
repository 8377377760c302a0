// The Windows launcher under Wine, in a Japanese locale, driven as a person would: its windows
// found on the X server by their caption, read as an inspection tool reads them, answered with
// the keys a person presses; the outcome checked on disk and in what the setup program saw.
#include <fcntl.h>
#include <sys/ioctl.h>
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
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

const std::string kCaption = "Quillmoor 自己展開プログラム";
const std::string kConfirmation =
    "Quillmoor Version1.13a のインストール、または\nバージョンアップを行います。続行しますか？\n";
const std::string kError = "アーカイブの展開中にエラーが発生しました";
const std::string kWaitText = "自己展開プログラムが必要なファイルを取り出す間、しばらくお待ちください。";
const char kSetupInfo[] = "[Setup]\r\nTitle=Quillmoor\r\n[Account]\r\nPOP3Server=\r\n";
const char kPresets[] = "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n";

// Message box and dialog ids and styles, as Windows defines them.
constexpr int kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7;
constexpr unsigned long kWsPopup = 0x80000000, kWsCaption = 0x00C00000, kWsVisible = 0x10000000;
constexpr unsigned long kDsModalFrame = 0x80;

std::string DiskPrompt(char drive, int disk) {
  return std::string("ドライブ ") + drive + ": に 「Quillmoor Version1.13a Disk" + std::to_string(disk) +
         "」を挿入し、\n[OK] ボタンを押してください";
}

bool IsMessageBox(const Window& w) { return w.IsMessageBox(); }
bool IsProgressDialog(const Window& w) { return w.IsProgressDialog(); }

int MulDiv(int a, int b, int c) { return (a * b + c / 2) / c; }

Bytes Compress(const Bytes& data, char missing) {
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

// What the setup program recorded: its command line, path and working directory, and the
// information file it found beside it.
struct SetupRecord {
  std::string command_line, module, directory, information_file;
};

SetupRecord ReadRecord(const std::filesystem::path& path) {
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
    session_ = std::make_unique<WineSession>(::testing::UnitTest::GetInstance()->current_test_info()->name());
    for (const char* dir : {"set", "tmp", "elsewhere", "record"}) std::filesystem::create_directories(ws_.Path(dir));
    readme_ = ToBytes("Quillmoor readme\r\n");
    info_ = Compress(ToBytes(kSetupInfo), 'f');
    data_ = RandomBytes(512 * 1024, 7);
    program_ = Compress(ReadBytes(MingwProgram("tests/e2e/windows/qmrtestsetup.exe")), 'e');
    notes_ = RandomBytes(40000, 8);
    total_ = static_cast<std::int32_t>(readme_.size() + info_.size() + data_.size() + program_.size() + notes_.size());
    volume1_ = VolumeBuilder(total_).Entry("readme.txt", readme_, kSampleTime).Entry("qmrsetup.in_", info_).bytes();
    disk2_ = VolumeBuilder(total_).Entry("data.bin", data_, kSampleTime + 20000000).bytes();
    disk3_ = VolumeBuilder(total_).Entry("qmrsetup.ex_", program_).Entry("notes.txt", notes_, kSampleTime + 3).bytes();
    launcher_ = ws_.Path("set/qmrsfx.exe");
    temp_ = ws_.Path("tmp");
  }

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

  // Starts the launcher under Wine from `directory`, with the session's temporary directory.
  void StartLauncher(const std::filesystem::path& directory) {
    session_->SetTemporaryDirectory(temp_);
    launcher_run_ = session_->Start(launcher_, directory, {{"QMR_TEST_RECORD", WindowsPath(record())}});
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

  // The set is extracted into `temp_` and the setup program was started from there, in the
  // launcher's working directory `directory`, and saw the presets.
  void ExpectHandedOver(const std::filesystem::path& directory) {
    ExpectLauncherEnded();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(WaitForFile(record(), seconds(60))) << "the setup program did not run";
    const SetupRecord seen = ReadRecord(record());
    const std::string setup = WindowsPath(temp_ / "qmrsetup.exe");
    EXPECT_EQ(seen.command_line, "\"" + setup + "\"") << "quoted path, no arguments";
    EXPECT_EQ(seen.module, setup);
    EXPECT_EQ(seen.directory, WindowsPath(directory));
    EXPECT_NE(seen.information_file.find("[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n"),
              std::string::npos)
        << seen.information_file;
    EXPECT_NE(seen.information_file.find("[Setup]\r\nTitle=Quillmoor\r\n"), std::string::npos);
    EXPECT_EQ(FileNames(temp_),
              (std::vector<std::string>{"data.bin", "notes.txt", "qmrsetup.exe", "qmrsetup.inf", "readme.txt"}));
    EXPECT_EQ(ReadBytes(temp_ / "data.bin"), data_);
    EXPECT_EQ(ReadBytes(temp_ / "notes.txt"), notes_);
    EXPECT_EQ(ReadBytes(temp_ / "qmrsetup.exe"), ReadBytes(MingwProgram("tests/e2e/windows/qmrtestsetup.exe")));
    EXPECT_EQ(LastWriteFileTime(temp_ / "readme.txt"), kSampleTime);
    EXPECT_EQ(LastWriteFileTime(temp_ / "data.bin"), kSampleTime + 20000000);
    EXPECT_EQ(LastWriteFileTime(temp_ / "notes.txt"), kSampleTime + 3);
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
};

TEST_F(WineLauncherTest, ThreeVolumeSetIsExtractedAndTheSetupProgramStarted) {
  WriteLauncher();
  auto disk2 = WriteSlowDisk2();
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});

  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  ASSERT_TRUE(disk2->WaitUntilRead());
  const Window paused = WaitForProgress(dialog, PausedPercent());
  const Control* bar = paused.FindControl(1000);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->position, PausedPercent());
  EXPECT_EQ(bar->range_low, 0);
  EXPECT_EQ(bar->range_high, 100);
  const auto shot = session_->Screenshot("progress");
  // The bar paints its position: its filled part in the highlight colour (blue), the rest
  // in the window colour (white).
  Rect filled = bar->rect, empty = bar->rect;
  const int split = bar->rect.left + bar->rect.width() * bar->position / 100;
  filled.left += paused.client_x + 3;
  filled.right = paused.client_x + split - 3;
  empty.left = paused.client_x + split + 3;
  empty.right += paused.client_x - 3;
  for (Rect* r : {&filled, &empty}) {
    r->top += paused.client_y + 2;
    r->bottom += paused.client_y - 2;
  }
  const std::vector<int> fill = session_->AverageColour(shot, filled), rest = session_->AverageColour(shot, empty);
  EXPECT_GT(fill[2], fill[0] + 40) << fill[0] << "," << fill[1] << "," << fill[2];
  EXPECT_GT(*std::min_element(rest.begin(), rest.end()), 200) << rest[0] << "," << rest[1] << "," << rest[2];

  disk2->Finish();
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, ProgressDialogIsCentredByTheRuleAndMatchesItsTemplate) {
  WriteLauncher();
  auto disk2 = WriteSlowDisk2();
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window found = session_->WaitForWindow(kCaption, IsProgressDialog);
  ASSERT_TRUE(disk2->WaitUntilRead());
  const Window dialog = WaitForProgress(found, PausedPercent());

  EXPECT_EQ(dialog.text, kCaption);
  EXPECT_EQ(session_->XWindowName(dialog.x11), kCaption);
  EXPECT_EQ(dialog.class_name, "#32770");
  const unsigned long style = kWsPopup | kWsCaption | kWsVisible | kDsModalFrame;
  EXPECT_EQ(dialog.style & style, style);
  EXPECT_EQ(dialog.owner, 0u);

  // The client area is the template's 187 x 53 units in its font.
  const auto [ux, uy] = session_->DialogUnits("ＭＳ Ｐゴシック", 9);
  ASSERT_GT(ux, 0);
  EXPECT_EQ(dialog.client_width, MulDiv(187, ux, 4));
  EXPECT_EQ(dialog.client_height, MulDiv(53, uy, 8));
  const Control* text = dialog.FindControl(1001);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->class_name, "Static");
  EXPECT_EQ(text->text, kWaitText);
  EXPECT_EQ(text->rect.left, MulDiv(34, ux, 4));
  EXPECT_EQ(text->rect.top, MulDiv(7, uy, 8));
  EXPECT_EQ(text->rect.width(), MulDiv(146, ux, 4));
  EXPECT_EQ(text->rect.height(), MulDiv(21, uy, 8));
  const Control* bar = dialog.FindControl(1000);
  ASSERT_NE(bar, nullptr);
  EXPECT_EQ(bar->class_name, "msctls_progress32");
  EXPECT_EQ(bar->rect.left, MulDiv(15, ux, 4));
  EXPECT_EQ(bar->rect.top, MulDiv(38, uy, 8));
  EXPECT_EQ(bar->rect.width(), MulDiv(157, ux, 4));
  EXPECT_EQ(bar->rect.height(), MulDiv(8, uy, 8));
  bool icon_found = false;
  for (const Control& c : dialog.controls) {
    if (!c.shows_icon) continue;
    icon_found = true;
    EXPECT_EQ(c.rect.left, MulDiv(7, ux, 4));
    EXPECT_EQ(c.rect.top, MulDiv(6, uy, 8));
  }
  EXPECT_TRUE(icon_found) << "the dialog shows its icon";

  // Centred on the screen by the rule, the left edge on a multiple of 8, as the X server shows it.
  const XGeometry x = session_->GetXGeometry(dialog.x11);
  EXPECT_EQ(x.width, dialog.rect.width());
  EXPECT_EQ(x.height, dialog.rect.height());
  EXPECT_EQ(x.x, ((session_->screen_width() - x.width) / 2 + 4) & ~7);
  EXPECT_EQ(x.x % 8, 0);
  EXPECT_EQ(x.y, (session_->screen_height() - x.height) / 2);
  EXPECT_EQ(x.x, dialog.rect.left);
  EXPECT_EQ(x.y, dialog.rect.top);

  disk2->Finish();
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, NoAtTheConfirmationExtractsNothing) {
  WriteWholeSet();
  StartLauncher();
  // N chooses the No button (いいえ(N)), as it does on Windows.
  session_->PressKeys(ExpectConfirmation().x11, {"n"});
  ExpectNothingLeft();
}

TEST_F(WineLauncherTest, MissingDiskIsAskedForAndTheRunGoesOnOnceItIsInPlace) {
  WriteLauncher();
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);

  const Window prompt = ExpectOwnedBox(dialog, DiskPrompt('Z', 2), {kIdOk, kIdCancel}, "disk-prompt");
  const std::vector<int> colour = IconColour(prompt);
  EXPECT_GT(colour[2], colour[0] + 40) << "the information icon is blue";
  EXPECT_FALSE(ReadDialog(dialog).enabled) << "the dialog waits behind its prompt";
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"qmrsetup.in_", "readme.txt"}));

  // OK while the disk is still missing: asked again.
  session_->PressKeys(prompt.x11, {"Return"});
  const Window again = ExpectOwnedBox(dialog, DiskPrompt('Z', 2), {kIdOk, kIdCancel}, "disk-prompt-again");
  WriteDisk(2, disk2_);
  session_->PressKeys(again.x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, CancelAtTheDiskPromptDeletesTheFilesWithoutAnError) {
  WriteLauncher();
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window prompt = ExpectOwnedBox(dialog, DiskPrompt('Z', 2), {kIdOk, kIdCancel}, "disk-prompt");
  ASSERT_EQ(FileNames(temp_), (std::vector<std::string>{"qmrsetup.in_", "readme.txt"}));
  // Esc is Cancel: the launcher ends by itself, with no error box.
  session_->PressKeys(prompt.x11, {"Escape"});
  ExpectNothingLeft();
}

TEST_F(WineLauncherTest, Disk2OfAnotherSetIsAskedForAsMissing) {
  WriteLauncher();
  WriteDisk(2, VolumeBuilder(total_ + 1).Entry("data.bin", data_).bytes());
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window prompt = ExpectOwnedBox(dialog, DiskPrompt('Z', 2), {kIdOk, kIdCancel}, "disk-prompt");
  WriteDisk(2, disk2_);
  session_->PressKeys(prompt.x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, TruncatedVolumeShowsTheErrorAndDeletesTheFiles) {
  WriteLauncher();
  WriteDisk(2, disk2_);
  disk3_.resize(disk3_.size() - notes_.size() / 2);  // Disk3 ends inside notes.txt
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "error");
  const std::vector<int> colour = IconColour(error);
  EXPECT_GT(colour[0], colour[2] + 40) << "the error icon is red";
  session_->PressKeys(error.x11, {"Return"});
  ExpectNothingLeft();
}

TEST_F(WineLauncherTest, MissingSetupProgramShowsTheErrorAndLeavesTheInformationFile) {
  total_ -= static_cast<std::int32_t>(program_.size());
  volume1_ = VolumeBuilder(total_).Entry("readme.txt", readme_).Entry("qmrsetup.in_", info_).bytes();
  WriteLauncher();
  WriteDisk(2, VolumeBuilder(total_).Entry("data.bin", data_).bytes());
  WriteDisk(3, VolumeBuilder(total_).Entry("notes.txt", notes_).bytes());
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "error");
  session_->PressKeys(error.x11, {"Return"});
  ExpectLauncherEnded();
  // The expanded information file is not one of the set's files: it stays.
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"qmrsetup.inf"}));
  EXPECT_FALSE(std::filesystem::exists(record()));
}

TEST_F(WineLauncherTest, TemporaryDirectoryWithSpacesAndJapaneseCharacters) {
  // ソ and 表 end in the byte 0x5C in code page 932.
  temp_ = ws_.Path("一時 ソフト 表");
  std::filesystem::create_directories(temp_);
  // What an unquoted command line would start first: these record themselves as they are.
  for (const char* decoy : {"一時.exe", "一時 ソフト.exe"})
    std::filesystem::copy_file(MingwProgram("tests/e2e/windows/qmrtestsetup.exe"), ws_.Path(decoy));
  WriteWholeSet();
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, LauncherNamedWithA5CTrailByteFindsItsPresetsAndDisks) {
  launcher_ = ws_.Path("set/ソフト.exe");  // ト is 0x83 0x67, ソ 0x83 0x5C
  WriteWholeSet();
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineLauncherTest, StartedFromAnotherDirectoryFindsThePresetsBesideItself) {
  WriteWholeSet();
  StartLauncher(ws_.Path("elsewhere"));
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  // The setup program inherits the launcher's working directory.
  ExpectHandedOver(ws_.Path("elsewhere"));
}

TEST_F(WineLauncherTest, TemporaryDirectoryTooLongForLz32FailsCleanly) {
  // LZ32 keeps the path in 128 bytes: the setup files cannot be expanded from here.
  temp_ = ws_.Path(std::string(120 - WindowsPath(ws_.root()).size(), 'x'));
  std::filesystem::create_directories(temp_);
  ASSERT_GT(WindowsPath(temp_ / "qmrsetup.in_").size(), 128u);
  WriteWholeSet();
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "error");
  session_->PressKeys(error.x11, {"Return"});
  ExpectNothingLeft();
}

TEST_F(WineLauncherTest, EnterAndEscDuringExtractionAreIgnored) {
  WriteLauncher();
  auto disk2 = WriteSlowDisk2();
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  ASSERT_TRUE(disk2->WaitUntilRead());
  WaitForProgress(dialog, PausedPercent());

  session_->PressKeys(dialog.x11, {"Return", "Escape", "KP_Enter", "Escape"});
  // A dialog that took a key for an answer would end at once (and with it the launcher, before
  // the hand-off checked below): after a moment it is still there, working.
  std::this_thread::sleep_for(seconds(1));
  const Window after = ReadDialog(dialog);
  EXPECT_TRUE(session_->XWindowShown(dialog.x11));
  EXPECT_TRUE(after.enabled);
  EXPECT_EQ(after.FindControl(1000)->position, PausedPercent());
  EXPECT_TRUE(launcher_run_->Running());
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"data.bin", "qmrsetup.in_", "readme.txt"}));
  session_->Screenshot("progress-after-keys");

  disk2->Finish();
  ExpectHandedOver(launcher_.parent_path());
}

}  // namespace
}  // namespace qmrtest
