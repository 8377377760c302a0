// The setup hand-off: expansion of the two setup files, the presets, the start of the program.
#include "extract_fixture.h"

namespace qmrtest {
namespace {

using HandoffTest = ExtractTest;

TEST_F(HandoffTest, PresetsAreWrittenIntoTheExpandedInformationFile) {
  WriteSet({{SetupInfoEntry(), SetupProgramEntry()}});
  std::strcpy(g_run.pop3_server, "pop.example.jp");
  std::strcpy(g_run.smtp_server, "smtp.example.jp");
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.inf"),
            "[Setup]\r\nTitle=Quillmoor\r\n[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n");
  EXPECT_FALSE(std::filesystem::exists(temp_dir() / "qmrsetup.in_")) << "the compressed file is deleted";
}

TEST_F(HandoffTest, SetupFilesAreFoundWhateverTheLetterCaseAndMayBeStoredUncompressed) {
  const std::string inf = "[Account]\r\nSMTPServer=old\r\n";
  // An earlier run left its own setup file: the set's entry replaces it, under its old name.
  WriteText(temp_dir() / "qmrsetup.ex_", "stale");
  WriteSet({{{"qmrsetup.in_", ToBytes(inf)}, {"QmrSetup.Ex_", SetupProgramEntry().data}}});
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.inf"), inf) << "an uncompressed file is copied unchanged";
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.exe"), kProgramText) << "the set's program, not the stale one";
  EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"qmrsetup.exe", "qmrsetup.inf"}));

  // Two stale spellings (a case-sensitive file system): the set's data goes into one of them,
  // and that one is expanded and started, never the other.
  NewRun();
  std::filesystem::remove(temp_dir() / "qmrsetup.exe");
  WriteText(temp_dir() / "qmrsetup.ex_", "#!/bin/sh\necho stale lower\n");
  WriteText(temp_dir() / "QMRSETUP.EX_", "#!/bin/sh\necho stale upper\n");
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.exe"), kProgramText) << "the set's program, not a stale one";
}

TEST_F(HandoffTest, MissingSetupFileFailsTheRunAndRemovesWhatWasExpanded) {
  WriteSet({{SetupInfoEntry(), {"other", ToBytes("x")}}});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"other"})) << "the expanded information file is gone";
  EXPECT_TRUE(platform().Processes().empty());
  // The clean-up deletes what the run wrote and nothing else: not a file of another spelling of
  // a name the hand-off has already deleted.
  WriteText(temp_dir() / "QMRSETUP.IN_", "foreign");
  DeleteListedFiles(g_run.cleanup_list);
  EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"QMRSETUP.IN_"}));
  EXPECT_EQ(ReadText(temp_dir() / "QMRSETUP.IN_"), "foreign");

  NewRun();
  std::filesystem::remove_all(temp_dir());
  std::filesystem::create_directories(temp_dir());
  WriteSet({{SetupProgramEntry()}});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(FileNames(temp_dir()), std::vector<std::string>{"qmrsetup.ex_"}) << "the program is not expanded first";
}

TEST_F(HandoffTest, TruncatedSetupProgramIsNeverStarted) {
  Bytes program = Compressed(std::string(5000, 'p') + kProgramText + std::string(3000, 'q'), 'e');
  program.resize(program.size() / 2);
  WriteSet({{SetupInfoEntry(), {"qmrsetup.ex_", program}}});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_TRUE(platform().Processes().empty());
  EXPECT_FALSE(std::filesystem::exists(temp_dir() / "qmrsetup.exe")) << "the partial program is deleted";
  EXPECT_TRUE(std::filesystem::exists(temp_dir() / "qmrsetup.ex_")) << "kept for the clean-up";
  DeleteListedFiles(g_run.cleanup_list);
  EXPECT_EQ(FileNames(temp_dir()), std::vector<std::string>{}) << "nothing of the failed run is left";
}

TEST_F(HandoffTest, CommandLineIsQuotedForATemporaryDirectoryWithSpaces) {
  const std::filesystem::path spaced = temp_dir() / "Documents and Settings" / "Temp";
  std::filesystem::create_directories(spaced);
  SetTempDir(WindowsPath(spaced, true));
  WriteSet({{SetupInfoEntry(), SetupProgramEntry()}});
  ASSERT_EQ(ExtractAndLaunch(), 1);
  ASSERT_EQ(platform().Processes().size(), 1u);
  EXPECT_EQ(platform().Processes()[0].command_line, "\"" + WindowsPath(spaced / "qmrsetup.exe") + "\"");
  EXPECT_EQ(platform().Processes()[0].application, "");
}

TEST_F(HandoffTest, SetupProgramThatCannotBeStartedFailsTheRun) {
  WriteSet({{SetupInfoEntry(), SetupProgramEntry()}});
  platform().StartProcesses(true);
  ASSERT_EQ(ExtractAndLaunch(), 1) << "the expanded program is a shell script, which starts";

  NewRun();
  WriteSet({{SetupInfoEntry(), {"qmrsetup.ex_", Compressed("MZ not a program here", 'e')}}});
  EXPECT_EQ(ExtractAndLaunch(), 0) << "a program no system runs";
  DeleteListedFiles(g_run.cleanup_list);
  EXPECT_EQ(FileNames(temp_dir()), std::vector<std::string>{}) << "the expanded files go with the extracted ones";
}

TEST_F(HandoffTest, SetupProgramThatNeedsElevationIsStartedThroughTheShell) {
  struct Case {
    DWORD create_error;
    bool shell_succeeds;
    int result;
    std::size_t shell_calls;
  };
  for (const Case c : {Case{ERROR_ELEVATION_REQUIRED, true, 1, 1}, Case{ERROR_ELEVATION_REQUIRED, false, 0, 1},
                       Case{ERROR_ACCESS_DENIED, true, 0, 0}}) {
    SCOPED_TRACE(std::to_string(c.create_error) + (c.shell_succeeds ? " shell ok" : " declined"));
    NewRun();
    g_run.dialog = reinterpret_cast<HWND>(0x99);
    TestPlatform inner;
    WriteSet({{SetupInfoEntry(), SetupProgramEntry()}});
    inner.SetCustomResource(payload::kOffsetResourceId, LE32(64));
    inner.InjectFault(Op::kCreateProcessA, 1);
    inner.SetCreateProcessError(c.create_error);
    if (!c.shell_succeeds) inner.InjectFault(Op::kShellExecuteExA, 1);  // the user declines
    EXPECT_EQ(ExtractAndLaunch(), c.result);
    EXPECT_EQ(std::filesystem::exists(temp_dir() / "qmrsetup.exe"), c.result == 1);
    EXPECT_EQ(std::filesystem::exists(temp_dir() / "qmrsetup.inf"), c.result == 1);
    const auto executions = inner.ShellExecutions();
    ASSERT_EQ(executions.size(), c.shell_calls);
    if (!executions.empty()) {
      EXPECT_EQ(executions[0].verb, "runas");
      EXPECT_EQ(executions[0].file, TempPath("qmrsetup.exe")) << "the same program, unquoted";
      EXPECT_EQ(executions[0].owner, g_run.dialog);
      EXPECT_EQ(executions[0].mask, static_cast<ULONG>(SEE_MASK_NOASYNC));
    }
  }
}

TEST_F(HandoffTest, TemporaryDirectoryTooLongForTheLzOpenFileRecordFailsCleanly) {
  // The open-file record keeps 127 bytes of path: a longer setup-file path cannot be opened.
  const std::filesystem::path deep = temp_dir() / std::string(130, 'l');
  std::filesystem::create_directories(deep);
  SetTempDir(WindowsPath(deep, true));
  WriteSet({{SetupInfoEntry(), SetupProgramEntry()}});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(FileNames(deep), (std::vector<std::string>{"qmrsetup.ex_", "qmrsetup.in_"}));
}

}  // namespace
}  // namespace qmrtest
