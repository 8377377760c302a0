// The launcher from its entry: the confirmation, the presets, the temporary directory, the
// progress dialog on the POSIX layer's real modal loop, the worker thread and the outcome.
#include <unistd.h>

#include "extract_fixture.h"
#include "shell/shell.h"

namespace qmrtest {
namespace {

const char kConfirmation[] =
    "Quillmoor Version1.13a のインストール、または\nバージョンアップを行います。続行しますか？\n";
const char kCaption[] = "Quillmoor 自己展開プログラム";
const char kError[] = "アーカイブの展開中にエラーが発生しました";

class ShellTest : public ExtractTest {
 protected:
  void SetUp() override {
    ExtractTest::SetUp();
    ResetExtractionState();  // WinMain fills the run state itself
    platform().SetModulePath(WindowsPath(launcher()));
    platform().SetTempPath(WindowsPath(temp_dir(), true));
    platform().SetCustomResource(payload::kVersionResourceId, ToBytes(std::string("1.13a") + std::string(11, '\0')));
  }

  // Runs the launcher as Windows would start it.
  static void RunLauncher() {
    static char command_line[] = "ignored /options";
    EXPECT_EQ(WinMain(reinterpret_cast<HINSTANCE>(1), nullptr, command_line, 1), 0);
  }

  static std::vector<VolumeSpec> SampleSet() {
    return {{{"readme.txt", ToBytes("read me")}, SetupInfoEntry()}, {SetupProgramEntry(), {"data.bin", RandomBytes(50000, 9)}}};
  }

  // Sets up a run of its own on `inner`: an empty temporary directory and the sample set,
  // Disk2 left out unless `disk2`.
  void FreshRun(TestPlatform& inner, bool disk2) {
    ResetExtractionState();
    std::filesystem::remove_all(temp_dir());
    std::filesystem::create_directories(temp_dir());
    inner.SetModulePath(WindowsPath(launcher()));
    inner.SetTempPath(WindowsPath(temp_dir(), true));
    WriteSet(SampleSet());
    if (!disk2) std::filesystem::remove(launcher_dir() / "Disk2");
    inner.SetCustomResource(payload::kOffsetResourceId, LE32(64));
  }
};

TEST_F(ShellTest, SuccessfulRunEndsSilentlyWithTheSetupProgramStarted) {
  WriteSet(SampleSet());
  WriteText(launcher_dir() / "qmrpresets.ini", "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n");
  platform().AnswerMessageBoxes({IDYES});
  RunLauncher();

  const auto boxes = platform().MessageBoxes();
  ASSERT_EQ(boxes.size(), 1u) << "only the confirmation";
  EXPECT_EQ(boxes[0].text, kConfirmation);
  EXPECT_EQ(boxes[0].caption, kCaption);
  EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_YESNO));
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(platform().EndDialogResults(), std::vector<INT_PTR>{IDOK});
  EXPECT_EQ(platform().Processes().size(), 1u);
  EXPECT_EQ(FileNames(temp_dir()),
            (std::vector<std::string>{"data.bin", "qmrsetup.exe", "qmrsetup.inf", "readme.txt"}));
  EXPECT_NE(ReadText(temp_dir() / "qmrsetup.inf").find("SMTPServer=smtp.example.jp"), std::string::npos);
  EXPECT_EQ(platform().ProgressPositions().back(), 100);
}

TEST_F(ShellTest, NoAtTheConfirmationReadsAndCreatesNothing) {
  WriteSet(SampleSet());
  platform().AnswerMessageBoxes({IDNO});
  RunLauncher();
  for (Op op : {Op::kGetModuleFileNameA, Op::kGetPrivateProfileStringA, Op::kGetTempPathA, Op::kDialogBoxParamA, Op::kCreateFileA})
    EXPECT_EQ(platform().Calls(op), 0) << testing_platform::OpName(op);
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, VersionTextComesFromItsResourceAndIsEmptyWithoutIt) {
  struct Case {
    const char* what;
    std::optional<Bytes> resource;
    std::string version;
  };
  const Case cases[] = {
      {"missing", std::nullopt, ""},
      {"longer than 15 bytes, no NUL", ToBytes("1.13a-with-a-long-tail"), "1.13a-with-a-lo"},
      {"shorter than its 16 bytes", ToBytes("2.0"), "2.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetExtractionState();
    TestPlatform inner;
    inner.SetModulePath(WindowsPath(launcher()));
    if (c.resource) {
      inner.SetCustomResource(payload::kVersionResourceId, *c.resource);
    } else {
      inner.RemoveCustomResource(payload::kVersionResourceId);
    }
    inner.AnswerMessageBoxes({IDNO});
    RunLauncher();
    ASSERT_EQ(inner.MessageBoxes().size(), 1u);
    EXPECT_EQ(inner.MessageBoxes()[0].text, "Quillmoor Version" + c.version +
                                                " のインストール、または\nバージョンアップを行います。続行しますか？\n");
  }
}

TEST_F(ShellTest, DialogThatCannotBeCreatedEndsTheRunSilently) {
  WriteSet(SampleSet());
  platform().AnswerMessageBoxes({IDYES});
  platform().InjectFault(Op::kDialogBoxParamA, 1);
  RunLauncher();
  EXPECT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().Calls(Op::kCreateThread), 0);
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, ThreadThatCannotBeCreatedEndsTheDialogWithoutMessage) {
  WriteSet(SampleSet());
  platform().AnswerMessageBoxes({IDYES});
  platform().InjectFault(Op::kCreateThread, 1);
  RunLauncher();
  EXPECT_EQ(platform().EndDialogResults(), std::vector<INT_PTR>{IDCANCEL});
  EXPECT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().Calls(Op::kDeleteFileA), 0);
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, FailedRunDeletesTheExtractedFilesAndShowsTheErrorOwnedByTheDialog) {
  Bytes volume = Volume(Total(SampleSet()), SampleSet()[0]);
  volume.resize(volume.size() - 3);  // volume 1 ends inside its last entry
  WriteLauncher(volume);
  platform().AnswerMessageBoxes({IDYES, IDOK});
  RunLauncher();
  const auto boxes = platform().MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, kError);
  EXPECT_EQ(boxes[1].caption, kCaption);
  EXPECT_EQ(boxes[1].style, static_cast<UINT>(MB_OK | MB_ICONERROR));
  EXPECT_EQ(boxes[1].owner, g_run.dialog);
  EXPECT_NE(g_run.dialog, nullptr);
  EXPECT_EQ(platform().EndDialogResults(), std::vector<INT_PTR>{IDCANCEL});
  EXPECT_EQ(platform().Calls(Op::kDeleteFileA), 2);
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, CancelledDiskPromptEndsTheRunSilentlyAfterDeletingTheFiles) {
  const auto set = SampleSet();
  WriteLauncher(Volume(Total(set), set[0]));  // no Disk2
  platform().AnswerMessageBoxes({IDYES, IDCANCEL});
  RunLauncher();
  const auto boxes = platform().MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[1].text, DiskPrompt(2));
  EXPECT_EQ(boxes[1].owner, g_run.dialog);
  EXPECT_EQ(platform().EndDialogResults(), std::vector<INT_PTR>{IDCANCEL});
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, EnterAndEscDuringTheExtractionAreIgnored) {
  WriteSet(SampleSet());
  platform().AnswerMessageBoxes({IDYES});
  int presses = 0;
  platform().OnProgress([&](int) {
    if (presses++ < 3) {
      platform().base().PostMessageA(g_run.dialog, WM_COMMAND, IDOK, 0);
      platform().base().PostMessageA(g_run.dialog, WM_COMMAND, IDCANCEL, 0);
    }
  });
  RunLauncher();
  EXPECT_EQ(presses > 0, true);
  EXPECT_EQ(platform().EndDialogResults(), std::vector<INT_PTR>{IDOK});
  EXPECT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(FileNames(temp_dir()).size(), 4u);
}

TEST_F(ShellTest, KeyArrivingAfterTheWorkerFinishedHasTheEffectOfTheWorkersOutcome) {
  for (const bool success : {true, false}) {
    SCOPED_TRACE(success ? "success, Esc first" : "failure, Enter first");
    TestPlatform inner;
    FreshRun(inner, success);
    inner.AnswerMessageBoxes(success ? std::vector<int>{IDYES} : std::vector<int>{IDYES, IDCANCEL, IDOK});
    // The key lands in the queue after the finished flag is set and before the worker's command.
    inner.BeforePostMessage([&](HWND dialog, UINT, WPARAM, LPARAM) {
      inner.base().PostMessageA(dialog, WM_COMMAND, success ? IDCANCEL : IDOK, 0);
    });
    RunLauncher();
    EXPECT_EQ(inner.EndDialogResults(), std::vector<INT_PTR>{success ? IDOK : IDCANCEL});
    EXPECT_EQ(FileNames(temp_dir()).empty(), !success);
    EXPECT_EQ(inner.MessageBoxes().size(), success ? 1u : 2u) << "no error message after a cancelled prompt";
  }
}

TEST_F(ShellTest, MessageBoxesThatCannotBeShownNeverLeaveFilesBehind) {
  struct Case {
    const char* what;
    int failing_box;           // which box fails: 1 the confirmation, 2 the next one
    bool disk2;                // whether the set is whole
    std::size_t boxes;         // boxes asked for
    bool extracted_anything;
  };
  const Case cases[] = {
      {"confirmation: taken as No", 1, true, 1, false},
      {"disk prompt: taken as Cancel", 2, false, 2, false},
      {"error message: the run still ends", 2, true, 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestPlatform inner;
    FreshRun(inner, c.disk2);
    if (std::string(c.what).rfind("error", 0) == 0) {
      Bytes cut = Volume(Total(SampleSet()), SampleSet()[0]);
      cut.resize(cut.size() - 3);
      WriteLauncher(cut);
    }
    inner.AnswerMessageBoxes({IDYES});
    inner.InjectFault(Op::kMessageBoxA, c.failing_box);
    RunLauncher();
    EXPECT_EQ(inner.Calls(Op::kMessageBoxA), static_cast<int>(c.boxes));
    EXPECT_TRUE(FileNames(temp_dir()).empty());
  }
}

TEST_F(ShellTest, LauncherPathThatCannotBeReadFailsTheRunWithTheError) {
  WriteSet(SampleSet());
  platform().AnswerMessageBoxes({IDYES, IDOK});
  platform().InjectFault(Op::kGetModuleFileNameA, 1);
  RunLauncher();
  ASSERT_EQ(platform().MessageBoxes().size(), 2u);
  EXPECT_EQ(platform().MessageBoxes()[1].text, kError);
  EXPECT_EQ(platform().Calls(Op::kGetPrivateProfileStringA), 0) << "no presets file without the launcher's path";
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(ShellTest, PresetsAreReadBesideTheLauncherWhateverTheCurrentDirectory) {
  WriteSet(SampleSet());
  WriteText(launcher_dir() / "qmrpresets.ini", "[Account]\nPOP3Server=beside\n");
  const std::filesystem::path elsewhere = temp_dir().parent_path() / "elsewhere";
  WriteText(elsewhere / "qmrpresets.ini", "[Account]\nPOP3Server=current\nSMTPServer=current\n");
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(elsewhere);
  platform().AnswerMessageBoxes({IDYES});
  RunLauncher();
  std::filesystem::current_path(saved);
  EXPECT_STREQ(g_run.pop3_server, "beside");
  EXPECT_STREQ(g_run.smtp_server, "");
  EXPECT_NE(ReadText(temp_dir() / "qmrsetup.inf").find("POP3Server=beside"), std::string::npos);
}

TEST_F(ShellTest, TemporaryDirectoryAlwaysEndsInABackslash) {
  struct Case {
    std::string reported;
    std::string expected;
  };
  const std::string dir = WindowsPath(temp_dir());
  for (const Case& c : {Case{dir, dir + "\\"}, Case{dir + "\\", dir + "\\"}}) {
    ResetExtractionState();
    TestPlatform inner;
    inner.SetTempPath(c.reported);
    inner.AnswerMessageBoxes({IDYES});
    inner.InjectFault(Op::kDialogBoxParamA, 1);  // stop before anything is extracted
    RunLauncher();
    EXPECT_EQ(std::string(g_run.temp_dir), c.expected) << "reported '" << c.reported << "'";
  }
}

TEST_F(ShellTest, TemporaryDirectoryUnreadOrWithNoRoomForItsBackslashFailsTheRunBeforeExtracting) {
  struct Case {
    const char* what;
    std::optional<std::string> reported;  // none: GetTempPathA fails (0)
    std::string kept;
  };
  const std::string full = "Z:\\" + std::string(256, 't');  // 259 bytes
  const Case cases[] = {
      {"259 bytes, no room for the backslash", full, full},
      {"longer than its text: the size needed", "Z:\\" + std::string(1100, 't') + "\\", ""},
      {"empty", "", ""},
      {"not read (0): never the root of the drive", std::nullopt, ""},
  };
  WriteSet(SampleSet());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ResetExtractionState();
    TestPlatform inner;
    inner.SetModulePath(WindowsPath(launcher()));
    if (c.reported) inner.SetTempPath(*c.reported);
    else inner.InjectFault(Op::kGetTempPathA, 1);
    inner.AnswerMessageBoxes({IDYES, IDOK});
    RunLauncher();
    EXPECT_EQ(std::string(g_run.temp_dir), c.kept);
    ASSERT_EQ(inner.MessageBoxes().size(), 2u);
    EXPECT_EQ(inner.MessageBoxes()[1].text, kError);
    EXPECT_EQ(inner.Calls(Op::kCreateFileA), 0) << "not even volume 1 was opened";
  }
}

TEST_F(ShellTest, DialogIsCentredWithItsLeftEdgeOnAMultipleOfEight) {
  struct Case {
    int window, screen, left;
  };
  const Case cases[] = {
      {200, 624, 216},    // centred at 212, a tie: rounds up to 216
      {202, 624, 208},    // centred at 211: rounds down to 208
      {201, 624, 208},    // odd difference: (624 - 201) / 2 truncates to 211
      {1100, 1024, -40},  // wider than the screen: -38 rounds to -40
      {1105, 1024, -40},  // -81 / 2 truncates toward zero to -40
  };
  for (const Case& c : cases) {
    int left, top;
    CentredPosition(c.window, 100, c.screen, 768, &left, &top);
    EXPECT_EQ(left, c.left) << c.window << " on " << c.screen;
    EXPECT_EQ(top, 334);
  }
  // The real dialog on a screen of 999 x 701.
  WriteSet(SampleSet());
  platform().SetScreenSize(999, 701);
  platform().AnswerMessageBoxes({IDYES});
  RunLauncher();
  const auto moves = platform().WindowMoves();
  ASSERT_EQ(moves.size(), 1u);
  const int width = moves[0].right - moves[0].left, height = moves[0].bottom - moves[0].top;
  EXPECT_EQ(moves[0].left % 8, 0);
  EXPECT_EQ(moves[0].left, ((999 - width) / 2 + 4) & ~7);
  EXPECT_EQ(moves[0].top, (701 - height) / 2);
}

}  // namespace
}  // namespace qmrtest
