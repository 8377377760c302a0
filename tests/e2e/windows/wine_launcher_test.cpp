// The Windows launcher under Wine, in a Japanese locale, driven as a person would: its windows
// found on the X server by their caption, read as an inspection tool reads them, answered with
// the keys a person presses; the outcome checked on disk and in what the setup program saw.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "launcher_fixture.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

// Dialog styles, as Windows defines them.
constexpr unsigned long kWsPopup = 0x80000000, kWsCaption = 0x00C00000, kWsVisible = 0x10000000;
constexpr unsigned long kDsModalFrame = 0x80;

TEST_F(WineLauncherTest, ThreeVolumeSetIsExtractedAndTheSetupProgramStarted) {
  WriteLauncher();
  WriteDisk(3, disk3_);
  std::unique_ptr<SlowVolume> disk2;
  const Window paused = StartAndWaitOnSlowDisk2(&disk2);
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
  WriteDisk(3, disk3_);
  std::unique_ptr<SlowVolume> disk2;
  const Window dialog = StartAndWaitOnSlowDisk2(&disk2);

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

TEST_F(WineLauncherTest, MissingSetupProgramShowsTheErrorAndRemovesWhatWasExpanded) {
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
  // The failed hand-off removes the information file it expanded; the dialog the rest.
  EXPECT_EQ(FileNames(temp_), std::vector<std::string>{});
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
  ExpectErrorAndNothingLeft();
}

// A temporary directory the launcher cannot name exactly is never replaced by another: not by
// the root of the drive (what an empty one would be), not by the path '?' would make of it.
TEST_F(WineLauncherTest, TemporaryDirectoryTheLauncherCannotNameFailsCleanly) {
  struct Case {
    const char* what;
    std::filesystem::path directory;  // made, and looked at afterwards
    std::string given;                // TMP and TEMP
  };
  // Over 1,024 characters in components Linux takes (at most 255 bytes each).
  std::filesystem::path deep = ws_.Path("deep");
  for (int i = 0; i < 5; ++i) deep /= std::string(220, static_cast<char>('a' + i));
  const std::filesystem::path named = ws_.Path("named");
  // A server name code page 932 cannot write: converted with '?', \\é\Z:\... becomes the
  // long-path prefix \\?\Z:\..., which names `named` itself.
  const Case cases[] = {{"over 1,024 characters", deep, WindowsPath(deep)},
                        {"a server name not in code page 932", named, "\\\\é\\" + WindowsPath(named)}};
  ASSERT_GT(WindowsPath(deep).size(), 1024u);
  WriteWholeSet();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_ = c.directory;
    temp_given_ = c.given;
    std::filesystem::create_directories(temp_);
    StartLauncher();
    session_->PressKeys(ExpectConfirmation().x11, {"Return"});
    ExpectErrorAndNothingLeft();
    // The launcher's working directory is on Z:, whose root is the POSIX root.
    for (const char* name : {"readme.txt", "qmrsetup.in_", "qmrsetup.exe"})
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::path("/") / name)) << name;
  }
}

// A temporary directory on a disk that fills up, while the set is extracted and while the
// setup program is expanded: the error, nothing left on the disk, no cut-short program started.
TEST_F(WineLauncherTest, TemporaryDiskFillingUpFailsTheRunAndLeavesNothing) {
  // The setup program, padded with zeros that compress well, expands to far more than the
  // room left once the set is extracted.
  Bytes padded = ReadBytes(MingwProgram("tests/e2e/windows/qmrtestsetup.exe"));
  padded.resize(padded.size() + (1u << 20), 0);
  program_ = Compress(padded, 'e');
  BuildVolumes();
  std::uint64_t extracted = 64 * 1024;  // the information file with the presets, and some slack
  for (const Bytes* file : {&readme_, &info_, &data_, &program_, &notes_}) extracted += SmallDisk::Room(file->size());
  struct Case {
    const char* what;
    std::uint64_t size;
  };
  const Case cases[] = {{"during the extraction of data.bin", SmallDisk::Room(data_.size() / 2)},
                        {"during the expansion of the setup program", extracted}};
  WriteWholeSet();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    temp_ = ws_.Path(std::string("small-") + std::to_string(c.size));
    const SmallDisk disk(temp_, c.size);
    if (!disk.mounted()) GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    StartLauncher();
    session_->PressKeys(ExpectConfirmation().x11, {"Return"});
    ExpectErrorAndNothingLeft();
  }
}

TEST_F(WineLauncherTest, EnterAndEscDuringExtractionAreIgnored) {
  WriteLauncher();
  WriteDisk(3, disk3_);
  std::unique_ptr<SlowVolume> disk2;
  const Window dialog = StartAndWaitOnSlowDisk2(&disk2);

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
