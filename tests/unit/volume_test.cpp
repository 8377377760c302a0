// The volume sequence: volume 1 inside the launcher, following volumes beside it, the disk prompt.
#include "extract_fixture.h"

namespace qmrtest {
namespace {

class VolumeTest : public ExtractTest {
 protected:
  // Opens the next volume and, when it opened, reads what follows its set total.
  Bytes OpenAndReadRest(bool* opened) {
    HANDLE volume = OpenNextVolume();
    *opened = volume != INVALID_HANDLE_VALUE;
    Bytes rest;
    if (*opened) {
      std::uint8_t buffer[256];
      DWORD n;
      while ((n = ReadBlock(volume, buffer, sizeof buffer)) > 0) rest.insert(rest.end(), buffer, buffer + n);
      platform().ops().CloseHandle(volume);
    }
    return rest;
  }
};

TEST_F(VolumeTest, FirstVolumeStartsAtThePayloadOffsetAndGivesTheSetTotal) {
  WriteLauncher(VolumeBuilder(1234).Raw({0xAA, 0xBB}).bytes(), 100);
  bool opened;
  EXPECT_EQ(OpenAndReadRest(&opened), (Bytes{0xAA, 0xBB}));
  ASSERT_TRUE(opened);
  EXPECT_EQ(g_run.set_total, 1234);
  EXPECT_EQ(g_run.volume_number, 1);
}

TEST_F(VolumeTest, FirstVolumeFailsWithoutPromptWhenItCannotBeLocated) {
  struct Case {
    const char* what;
    std::function<void(ExtractTest&, TestPlatform&)> arrange;
  };
  const Case cases[] = {
      {"launcher missing", [](ExtractTest&, TestPlatform&) {}},
      {"offset resource missing",
       [](ExtractTest&, TestPlatform& p) { p.RemoveCustomResource(payload::kOffsetResourceId); }},
      {"offset resource shorter than 4 bytes",
       [](ExtractTest&, TestPlatform& p) { p.SetCustomResource(payload::kOffsetResourceId, {64, 0}); }},
      {"resource cannot be found", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kFindResourceA, 1); }},
      {"resource cannot be loaded", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kLoadResource, 1); }},
      {"resource cannot be locked", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kLockResource, 1); }},
      {"negative offset", [](ExtractTest&, TestPlatform& p) {
         p.SetCustomResource(payload::kOffsetResourceId, LE32(0xFFFFFFFFu));
       }},
      {"seek fails", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kSetFilePointer, 1); }},
      {"volume 1 shorter than its set total",
       [](ExtractTest&, TestPlatform& p) { p.SetCustomResource(payload::kOffsetResourceId, LE32(64 + 2 + 4)); }},
      {"set total read fails", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kReadFile, 1); }},
      {"set total read short", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kReadFile, 1, Fault::kShort); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetExtractionState();
    SetModulePath(WindowsPath(launcher()));
    std::filesystem::remove(launcher());
    TestPlatform inner;  // a fresh platform per case, so faults and stand-ins do not carry over
    if (std::string(c.what) != "launcher missing") {
      Bytes file = RandomBytes(64, 1);
      Bytes volume = VolumeBuilder(10).Raw({1, 2}).bytes();
      file.insert(file.end(), volume.begin(), volume.end());
      WriteBytes(launcher(), file);
      inner.SetCustomResource(payload::kOffsetResourceId, LE32(64));
    }
    c.arrange(*this, inner);
    EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(g_run.user_cancelled, 0);
    EXPECT_TRUE(inner.MessageBoxes().empty());
    EXPECT_EQ(inner.OpenFileHandles(), 0);
  }
}

TEST_F(VolumeTest, FollowingVolumeIsOpenedBesideTheLauncherAndRewritesTheModulePath) {
  g_run.set_total = 77;
  g_run.volume_number = 1;
  WriteDisk(2, VolumeBuilder(77).Raw({5}).bytes());
  bool opened;
  EXPECT_EQ(OpenAndReadRest(&opened), Bytes{5});
  ASSERT_TRUE(opened);
  EXPECT_EQ(std::string(g_run.module_path), WindowsPath(launcher_dir() / "Disk2"));
  EXPECT_TRUE(platform().MessageBoxes().empty());
}

TEST_F(VolumeTest, VolumeNumbersOfSeveralDigitsHaveNoLeadingZeros) {
  g_run.set_total = 1;
  g_run.volume_number = 9;
  SetModulePath(WindowsPath(launcher_dir() / "Disk9"));
  WriteDisk(10, VolumeBuilder(1).bytes());
  bool opened;
  OpenAndReadRest(&opened);
  EXPECT_TRUE(opened);
  EXPECT_EQ(std::string(g_run.module_path), WindowsPath(launcher_dir() / "Disk10"));
}

TEST_F(VolumeTest, MissingDiskIsPromptedForAndCancelStopsTheRun) {
  g_run.set_total = 5;
  g_run.volume_number = 1;
  g_run.dialog = reinterpret_cast<HWND>(0x1234);
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_run.user_cancelled, 1);
  const auto boxes = platform().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, DiskPrompt(2));
  EXPECT_EQ(boxes[0].caption, "Quillmoor 自己展開プログラム");
  EXPECT_EQ(boxes[0].owner, g_run.dialog);
  EXPECT_EQ(boxes[0].style, 0x41u);
}

TEST_F(VolumeTest, DiskThatIsMissingShortOrOfAnotherSetIsPromptedForUntilTheRightOneIsInserted) {
  g_run.set_total = 5;
  g_run.volume_number = 1;
  WriteDisk(2, VolumeBuilder(6).bytes());  // another set
  int prompts = 0;
  platform().OnMessageBox([&](const testing_platform::MessageBoxCall& box) {
    EXPECT_EQ(box.text, DiskPrompt(2));
    ++prompts;
    if (prompts == 1) WriteDisk(2, {5, 0});  // shorter than a set total
    if (prompts == 2) std::filesystem::remove(launcher_dir() / "Disk2");
    if (prompts == 3) WriteDisk(2, VolumeBuilder(5).Raw({9}).bytes());
    return IDOK;
  });
  bool opened;
  EXPECT_EQ(OpenAndReadRest(&opened), Bytes{9});
  EXPECT_TRUE(opened);
  EXPECT_EQ(prompts, 3);
  EXPECT_EQ(g_run.user_cancelled, 0);
}

TEST_F(VolumeTest, LauncherStartedFromANetworkPathFailsWithoutPrompt) {
  g_run.set_total = 5;
  g_run.volume_number = 1;
  SetModulePath("\\\\server\\share\\qmrsfx.exe");
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_run.user_cancelled, 0);
  EXPECT_TRUE(platform().MessageBoxes().empty());
  EXPECT_EQ(std::string(g_run.module_path), "\\\\server\\share\\Disk2");
}

TEST_F(VolumeTest, FollowingVolumeWhosePathDoesNotFitFailsWithoutPrompt) {
  g_run.set_total = 5;
  g_run.volume_number = 1;
  const std::string deep = "Z:\\" + std::string(250, 'd') + "\\q";  // 255 bytes; "Disk2" makes 259 + 0
  SetModulePath(deep);
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);  // fits: 254 + 5 = 259 bytes, but nothing is there
  ResetExtractionState();
  g_run.volume_number = 1;
  const std::string deeper = "Z:\\" + std::string(252, 'd') + "\\q";
  SetModulePath(deeper);
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::string(g_run.module_path), deeper) << "the path is left as it was";
  EXPECT_EQ(g_run.user_cancelled, 0);
  // Only the first, fitting path reached the prompt.
  EXPECT_EQ(platform().MessageBoxes().size(), 1u);
}

TEST_F(VolumeTest, PromptNamesTheDriveAsTheLauncherPathGivesIt) {
  g_run.set_total = 5;
  g_run.volume_number = 2;
  SetModulePath("q:\\setup\\Disk2");
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  ASSERT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().MessageBoxes()[0].text,
            "ドライブ q: に 「Quillmoor Version1.13a Disk3」を挿入し、\n[OK] ボタンを押してください");
}

}  // namespace
}  // namespace qmrtest
