// The extraction engine: entries written with their times, progress, the clean-up list, and
// every way a set can be damaged.
#include <algorithm>
#include <set>

#include "extract_fixture.h"

namespace qmrtest {
namespace {

using EngineTest = ExtractTest;

TEST_F(EngineTest, SetOverThreeVolumesIsExtractedWithTimesAndHandedOver) {
  const Bytes big = RandomBytes(40000, 3);
  WriteSet({{{"a.txt", ToBytes("alpha")}, SetupInfoEntry()},
            {{"big.bin", big}},
            {SetupProgramEntry(), {"empty", {}}}});
  g_run.dialog = reinterpret_cast<HWND>(0x77);
  ASSERT_EQ(ExtractAndLaunch(), 1);

  EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"a.txt", "big.bin", "empty", "qmrsetup.exe",
                                                              "qmrsetup.inf"}));
  EXPECT_EQ(ReadBytes(temp_dir() / "big.bin"), big);
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.exe"), kProgramText);
  EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.inf"), kInfText) << "no presets: the file stays as expanded";
  for (const char* name : {"a.txt", "big.bin", "empty"}) EXPECT_EQ(LastWriteFileTime(temp_dir() / name), kSampleTime);
  // The compressed setup files, deleted by the hand-off, are off the list.
  EXPECT_EQ(CleanupPaths(), (std::vector<std::string>{TempPath("a.txt"), TempPath("big.bin"), TempPath("empty")}));
  EXPECT_EQ(g_run.volume_number, 3);

  const std::vector<int> progress = platform().ProgressPositions();
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(std::adjacent_find(progress.begin(), progress.end()), progress.end()) << "no position is sent twice";
  EXPECT_EQ(progress.back(), 100);

  const auto processes = platform().Processes();
  ASSERT_EQ(processes.size(), 1u);
  EXPECT_EQ(processes[0].command_line, "\"" + TempPath("qmrsetup.exe") + "\"");
  EXPECT_EQ(processes[0].flags, NORMAL_PRIORITY_CLASS);
}

TEST_F(EngineTest, EntriesAreCopiedInChunksOfTheCopyBuffer) {
  struct Case {
    std::size_t size;
    int writes;
  };
  for (const Case c : {Case{0, 0}, Case{16384, 1}, Case{16385, 2}, Case{3 * 16384, 3}}) {
    SCOPED_TRACE(c.size);
    NewRun();
    TestPlatform counting;
    const VolumeSpec volume = {{"data", RandomBytes(c.size, 5)}};
    counting.SetCustomResource(payload::kOffsetResourceId, LE32(0));
    WriteBytes(launcher(), Volume(Total({volume}), volume));
    EXPECT_EQ(ExtractAndLaunch(), 0);  // no setup files in this set
    EXPECT_EQ(counting.Calls(Op::kWriteFile), c.writes);
    EXPECT_EQ(ReadBytes(temp_dir() / "data").size(), c.size);
    EXPECT_EQ(counting.ProgressPositions().empty(), c.size == 0) << "an empty entry sends no progress";
  }
}

TEST_F(EngineTest, EntryEdgesOfTheFormat) {
  // Two entries of one name: the second replaces the first and the path is listed twice. A
  // third whose name differs only in case replaces it too: one file, as on Windows.
  // A negative size gives an empty file, and the next header follows the size field at once.
  // A name whose counted bytes hold an early NUL ends there; one without its NUL ends at its count.
  Bytes no_nul = {3, 'x', 'y', 'z'};
  AppendLE64(&no_nul, kSampleTime + 1);
  AppendLE32(&no_nul, 1);
  no_nul.push_back('!');
  Bytes early_nul = {6, 'a', 'b', 0, 'c', 'd', 0};
  AppendLE64(&early_nul, kSampleTime);
  AppendLE32(&early_nul, 2);
  early_nul.insert(early_nul.end(), {'o', 'k'});
  const EntrySpec info = SetupInfoEntry(), program = SetupProgramEntry();
  const std::int32_t total = static_cast<std::int32_t>(3 + 4 + 4 + 1 + 2 + info.data.size() + program.data.size());
  WriteLauncher(VolumeBuilder(total)
                    .Entry("dup", ToBytes("one"))
                    .Entry("dup", ToBytes("four"))
                    .Entry("DUP", ToBytes("five"))
                    .EntryWithSize("negative", -5, {})
                    .Raw(no_nul)
                    .Raw(early_nul)
                    .Entry(info.name, info.data)
                    .Entry(program.name, program.data)
                    .bytes());
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(ReadText(temp_dir() / "dup"), "five");
  EXPECT_FALSE(std::filesystem::exists(temp_dir() / "DUP"));
  EXPECT_EQ(ReadText(temp_dir() / "negative"), "");
  EXPECT_EQ(LastWriteFileTime(temp_dir() / "negative"), kSampleTime);
  EXPECT_EQ(ReadText(temp_dir() / "xyz"), "!");
  EXPECT_EQ(LastWriteFileTime(temp_dir() / "xyz"), kSampleTime + 1);
  EXPECT_EQ(ReadText(temp_dir() / "ab"), "ok");
  const auto paths = CleanupPaths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), TempPath("dup")), 1) << "one name, listed once, in any spelling";
  EXPECT_EQ(std::count(paths.begin(), paths.end(), TempPath("DUP")), 0);
}

TEST_F(EngineTest, VolumesAreReadToTheirEndAndFollowedOnlyWhileShortOfTheTotal) {
  // Volume 1 holds more data than the set total says: every entry is still written, and no
  // following volume is looked for.
  const VolumeSpec volume = {SetupInfoEntry(), SetupProgramEntry(), {"extra", ToBytes("beyond the total")}};
  WriteLauncher(Volume(Total({volume}) - 16, volume));
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(ReadText(temp_dir() / "extra"), "beyond the total");
  EXPECT_EQ(g_run.volume_number, 1);
  EXPECT_GT(platform().ProgressPositions().back(), 100) << "positions past 100 are sent as computed";
}

TEST_F(EngineTest, SignedLauncherIsExtractedUpToItsCertificateTableWhateverItsAlignment) {
  std::vector<std::size_t> alignments;
  for (std::size_t tail = 0; tail < 8; ++tail) {
    SCOPED_TRACE(tail);
    NewRun();
    std::filesystem::remove_all(temp_dir());
    std::filesystem::create_directories(temp_dir());
    const VolumeSpec volume = {SetupInfoEntry(), SetupProgramEntry(), {"tail", RandomBytes(tail, 4)}};
    const Bytes volume1 = Volume(Total({volume}), volume);
    const Bytes file = WriteSignedLauncher(volume1);
    alignments.push_back(file.size() - 64 - PeStub().size() - volume1.size());
    ASSERT_EQ(ExtractAndLaunch(), 1);
    EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"qmrsetup.exe", "qmrsetup.inf", "tail"}));
    EXPECT_EQ(ReadBytes(temp_dir() / "tail").size(), tail);
    EXPECT_EQ(g_run.volume_number, 1);
  }
  std::sort(alignments.begin(), alignments.end());
  EXPECT_EQ(alignments, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5, 6, 7})) << "every alignment the signer adds";
}

TEST_F(EngineTest, SignedSetFollowsItsDisksAndPromptsForAMissingOne) {
  const std::vector<VolumeSpec> set = {{{"a.txt", ToBytes("alpha")}, SetupInfoEntry()},
                                       {{"big.bin", RandomBytes(40000, 3)}},
                                       {SetupProgramEntry()}};
  WriteSet(set, true);
  ASSERT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(FileNames(temp_dir()), (std::vector<std::string>{"a.txt", "big.bin", "qmrsetup.exe", "qmrsetup.inf"}));
  EXPECT_EQ(g_run.volume_number, 3);

  // Without Disk2 the user is asked for it: the table is not read as further entries.
  NewRun();
  std::strcpy(g_run.version, "1.13a");
  std::filesystem::remove(launcher_dir() / "Disk2");
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(g_run.user_cancelled, 1);
  ASSERT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().MessageBoxes()[0].text, DiskPrompt(2));
  EXPECT_EQ(CleanupPaths(), (std::vector<std::string>{TempPath("a.txt"), TempPath("qmrsetup.in_")}));
}

TEST_F(EngineTest, LyingSecurityDirectoryOrBytesBeforeTheTableFailTheRunAsDamaged) {
  const VolumeSpec volume = {SetupInfoEntry(), SetupProgramEntry(), {"abc", ToBytes("abc")}};
  const Bytes volume1 = Volume(Total({volume}), volume);
  Bytes unsigned_file = PeStub();
  unsigned_file.insert(unsigned_file.end(), volume1.begin(), volume1.end());
  Bytes file = unsigned_file;
  const auto table = static_cast<std::uint32_t>(SignLikeATool(&file));
  const auto size = static_cast<std::uint32_t>(file.size());
  const auto payload = static_cast<std::uint32_t>(PeStub().size());
  auto lying = [&](std::uint32_t offset, std::uint32_t length) {
    Bytes f = file;
    SetSecurityDirectory(&f, offset, length);
    return f;
  };
  auto padded = [&](const Bytes& alignment) {
    Bytes f = unsigned_file;
    f.resize((f.size() + 7) / 8 * 8, 0);
    f.insert(f.end(), alignment.begin(), alignment.end());
    SignLikeATool(&f);
    return f;
  };
  Bytes overlong = PeStub();  // the last entry announces more data than lies before the table
  const Bytes cut = VolumeBuilder(Total({volume})).Entry("qmrsetup.in_", SetupInfoEntry().data).EntryWithSize(
      "abc", 40, ToBytes("abc")).bytes();
  overlong.insert(overlong.end(), cut.begin(), cut.end());
  SignLikeATool(&overlong, 96);
  const std::pair<const char*, Bytes> cases[] = {
      {"size 0", lying(table, 0)},
      {"inside the image", lying(512, size - 512)},
      {"at the payload offset", lying(payload, size - payload)},
      {"not on an 8-byte boundary", lying(table - 4, size - table + 4)},
      {"past the end of the file", lying(table, size - table + 8)},
      {"inside the payload", lying(payload + 16, 64)},
      {"eight zero bytes before the table", padded(Bytes(8, 0))},
      {"a non-zero byte before the table", padded({0, 0, 1})},
      {"an entry running into the table", overlong},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    NewRun();
    WriteLauncherFile(bytes);
    EXPECT_EQ(ExtractAndLaunch(), 0);
    EXPECT_EQ(g_run.user_cancelled, 0);
    EXPECT_TRUE(platform().MessageBoxes().empty()) << "no disk prompt";
    EXPECT_TRUE(platform().Processes().empty());
    if (std::string(what) == "an entry running into the table") {
      EXPECT_EQ(ReadBytes(temp_dir() / "abc").size(), 0u) << "nothing of the table is written";
    }
    DeleteListedFiles(g_run.cleanup_list);
    for (const std::string& name : FileNames(temp_dir()))
      EXPECT_TRUE(name == "qmrsetup.inf" || name == "qmrsetup.exe") << name << " was left behind";
  }
}

TEST_F(EngineTest, EmptySetHandsOverAtOnceAndNeedsSetupFilesAlreadyThere) {
  WriteLauncher(VolumeBuilder(0).bytes());
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_TRUE(CleanupPaths().empty());

  NewRun();
  WriteBytes(temp_dir() / "qmrsetup.in_", SetupInfoEntry().data);
  WriteBytes(temp_dir() / "qmrsetup.ex_", SetupProgramEntry().data);
  EXPECT_EQ(ExtractAndLaunch(), 1);
  EXPECT_EQ(platform().Processes().size(), 1u);
}

TEST_F(EngineTest, SetShortOfItsTotalPromptsForTheNextDisk) {
  const VolumeSpec volume = {SetupInfoEntry(), SetupProgramEntry()};
  WriteLauncher(Volume(Total({volume}) + 1, volume));
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(g_run.user_cancelled, 1);
  ASSERT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().MessageBoxes()[0].text, DiskPrompt(2));
  EXPECT_EQ(CleanupPaths().size(), 2u);
}

TEST_F(EngineTest, VolumeEndingInsideAnEntryFailsTheRunWithEverythingCreatedListed) {
  const Bytes whole = VolumeBuilder(10).Entry("first", ToBytes("12345")).Entry("second", ToBytes("67890")).bytes();
  const std::size_t first_entry_end = 4 + 1 + 6 + 8 + 4 + 5;
  // Cut inside the second entry's name, time, size and data.
  for (std::size_t cut : {first_entry_end + 3, first_entry_end + 9, first_entry_end + 18, first_entry_end + 22,
                          whole.size() - 1}) {
    SCOPED_TRACE(cut);
    NewRun();
    std::filesystem::remove_all(temp_dir());
    std::filesystem::create_directories(temp_dir());
    WriteLauncher(Bytes(whole.begin(), whole.begin() + static_cast<long>(cut)));
    EXPECT_EQ(ExtractAndLaunch(), 0);
    EXPECT_EQ(g_run.user_cancelled, 0);
    const auto listed = CleanupPaths();
    EXPECT_EQ(listed.front(), TempPath("first"));
    EXPECT_EQ(FileNames(temp_dir()).size(), listed.size()) << "every file created is listed";
    DeleteListedFiles(g_run.cleanup_list);
    EXPECT_TRUE(FileNames(temp_dir()).empty());
  }
}

TEST_F(EngineTest, NamesThatWouldLeaveTheTemporaryDirectoryFailTheRunBeforeAnythingIsCreated) {
  const std::vector<std::string> names = {"..\\evil", "../evil", "sub\\file", "C:evil", "..", ".", "x.",
                                          "x ",       "CON",     "nul.txt",   "a:b",    ""};
  for (const std::string& name : names) {
    SCOPED_TRACE("name '" + name + "'");
    NewRun();
    WriteLauncher(VolumeBuilder(8).Entry("ok", ToBytes("1234")).Entry(name, ToBytes("evil")).bytes());
    EXPECT_EQ(ExtractAndLaunch(), 0);
    EXPECT_EQ(CleanupPaths(), std::vector<std::string>{TempPath("ok")});
    EXPECT_EQ(FileNames(temp_dir()), std::vector<std::string>{"ok"});
    EXPECT_EQ(FileNames(launcher_dir()), std::vector<std::string>{"qmrsfx"});
    EXPECT_FALSE(std::filesystem::exists(temp_dir().parent_path() / "evil"));
  }
}

TEST_F(EngineTest, PathsThatDoNotFitTheTextsOrTheCleanupListFailBeforeTheFileIsCreated) {
  // The temporary directory leaves 9 bytes for a name: "123456789" fits, "1234567890" does not.
  const std::filesystem::path deep = temp_dir() / std::string(246 - temp_dir().string().size(), 'd');
  std::filesystem::create_directories(deep);
  SetTempDir(WindowsPath(deep, true));
  ASSERT_EQ(std::strlen(g_run.temp_dir), 250u);
  WriteLauncher(VolumeBuilder(2).Entry("123456789", {1}).Entry("1234567890", {2}).bytes());
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(FileNames(deep), std::vector<std::string>{"123456789"});

  // The clean-up list holds 8192 bytes with its final empty string: fill it to the last path.
  NewRun();
  const std::size_t path_bytes = std::strlen(g_run.temp_dir) + 200 + 1;
  const std::size_t fitting = (8192 - 1) / path_bytes;
  VolumeBuilder builder(static_cast<std::int32_t>(fitting + 1));
  for (std::size_t i = 0; i <= fitting; ++i) {
    std::string name = std::to_string(i);
    name += std::string(200 - name.size(), 'n');
    builder.Entry(name, {static_cast<std::uint8_t>(i)});
  }
  WriteLauncher(builder.bytes());
  EXPECT_EQ(ExtractAndLaunch(), 0);
  EXPECT_EQ(CleanupPaths().size(), fitting);
  EXPECT_EQ(FileNames(temp_dir()).size(), fitting) << "the file that would not fit the list was not created";
  DeleteListedFiles(g_run.cleanup_list);
  EXPECT_TRUE(FileNames(temp_dir()).empty());
}

TEST_F(EngineTest, ProgressIsComputedWithoutOverflowAndNeverMovesBackwards) {
  g_run.set_total = 2'100'000'000;
  std::vector<int> expected;
  for (std::int64_t extracted : {0LL, 21'000'001LL, 1'000'000'000LL, 1'000'000'001LL, 2'099'999'999LL,
                                 2'100'000'000LL}) {
    g_run.extracted_bytes = extracted;
    ReportProgress();
  }
  EXPECT_EQ(platform().ProgressPositions(), (std::vector<int>{1, 47, 99, 100}));
  g_run.set_total = 0;
  g_run.last_percent = 0;
  g_run.extracted_bytes = 0;
  ReportProgress();
  EXPECT_EQ(platform().ProgressPositions().back(), 100) << "an empty set is complete";
}

TEST_F(EngineTest, DeletingTheListSkipsFilesThatCannotBeDeleted) {
  for (const char* name : {"one", "two", "three"}) WriteText(temp_dir() / name, name);
  std::string list;
  for (const char* name : {"one", "gone", "two", "three"}) list += TempPath(name) + '\0';
  list += '\0';
  platform().InjectFault(Op::kDeleteFileA, 1, Fault::kFail, "two");
  DeleteListedFiles(list.c_str());
  EXPECT_EQ(FileNames(temp_dir()), std::vector<std::string>{"two"});
  EXPECT_EQ(platform().Calls(Op::kDeleteFileA), 4);
}

// Every operation of the list fails in turn (and a read, a write and an LZ copy also stop
// short or meet a full disk), at each call in turn until the run no longer reaches that call:
// the run fails cleanly (no handle left open, every file it created listed and removed by the
// clean-up), or, for the few failures the run ignores, still succeeds with complete output. An
// operation the run never calls is never failed; one added to its path is failed with no edit
// here.
TEST_F(EngineTest, EveryInjectedFailureEndsCleanly) {
  struct Injection {
    Op op;
    Fault fault;
    bool ignored;  // the run succeeds despite it
  };
  // The failures the run goes on after; docs/fault-matrix.md's "ignored" rows name the same
  // operations, and FaultMatrix holds the two together.
  const std::set<Op> ignored = {Op::kSetFileTime, Op::kCloseHandle, Op::kDeleteFileA,
                                Op::kWritePrivateProfileStringA};
  std::vector<Injection> injections;
  for (int op = 0; op < static_cast<int>(Op::kCount); ++op)
    injections.push_back({static_cast<Op>(op), Fault::kFail, ignored.contains(static_cast<Op>(op))});
  for (const Op op : {Op::kReadFile, Op::kWriteFile, Op::kLZCopy}) injections.push_back({op, Fault::kShort, false});
  for (const Op op : {Op::kWriteFile, Op::kLZCopy}) injections.push_back({op, Fault::kDiskFull, false});
  const std::vector<VolumeSpec> set = {{{"a", RandomBytes(20000, 1)}, SetupInfoEntry()},
                                       {SetupProgramEntry(), {"b", ToBytes("b")}}};
  for (const Injection& injection : injections) {
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(std::string(testing_platform::OpName(injection.op)) + " fault " +
                   std::to_string(static_cast<int>(injection.fault)) + " call " + std::to_string(nth));
      std::filesystem::remove_all(temp_dir());
      std::filesystem::create_directories(temp_dir());
      NewRun();
      std::strcpy(g_run.pop3_server, "pop.example.jp");
      TestPlatform faulty;
      WriteSet(set);
      faulty.SetCustomResource(payload::kOffsetResourceId, LE32(64));
      faulty.InjectFault(injection.op, nth, injection.fault);
      // A failed read or open of a volume's header ends that volume early: the disk prompt for
      // the volume after the last one follows, and is cancelled.
      faulty.OnMessageBox([](const testing_platform::MessageBoxCall&) { return IDCANCEL; });
      const int result = ExtractAndLaunch();
      EXPECT_EQ(faulty.OpenFileHandles(), 0);
      EXPECT_EQ(faulty.OpenLzHandles(), 0);
      const bool injected = faulty.Calls(injection.op) >= nth;
      if (result == 1) {
        // Success is right only when the failure could not matter (a failed read where the
        // volume ends anyway, a failure the hand-off ignores): then the output is complete.
        EXPECT_TRUE(!injected || injection.ignored || injection.op == Op::kReadFile);
        EXPECT_EQ(ReadBytes(temp_dir() / "a"), set[0][0].data);
        EXPECT_EQ(ReadText(temp_dir() / "b"), "b");
        EXPECT_EQ(ReadText(temp_dir() / "qmrsetup.exe"), kProgramText);
        EXPECT_EQ(faulty.Processes().size(), 1u);
        if (!injected) break;
        continue;
      }
      EXPECT_TRUE(injected);
      EXPECT_FALSE(injection.ignored);
      EXPECT_TRUE(faulty.Processes().empty() || injection.op == Op::kCreateProcessA);
      DeleteListedFiles(g_run.cleanup_list);
      for (const std::string& name : FileNames(temp_dir()))
        EXPECT_TRUE(name == "qmrsetup.inf" || name == "qmrsetup.exe") << name << " was left behind";
    }
  }
}

// The wrapper the testing platform derives from the list: an injected fault returns the listed
// value and sets the listed last error, and a fault aimed at a path counts only the calls on it
// (a file handle's path, or a profile call's file, never its section).
TEST_F(EngineTest, ListedFailureReturnsItsValueAndLastErrorForThePathItIsAimedAt) {
  const std::string ini = TempPath("presets.ini"), doomed = TempPath("doomed");
  WriteText(temp_dir() / "doomed", "x");
  WriteText(temp_dir() / "kept", "x");
  HANDLE kept = Sys().CreateFileA(TempPath("kept").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(kept, INVALID_HANDLE_VALUE);
  platform().InjectFault(Op::kWritePrivateProfileStringA, 1, Fault::kFail, "presets");
  platform().InjectFault(Op::kDeleteFileA, 1, Fault::kFail, "doomed");
  platform().InjectFault(Op::kSetFilePointer, 1, Fault::kFail, "kept");
  EXPECT_TRUE(Sys().WritePrivateProfileStringA("presets", "k", "v", TempPath("other.ini").c_str()));
  EXPECT_FALSE(Sys().WritePrivateProfileStringA("s", "k", "v", ini.c_str()));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(Sys().DeleteFileA(doomed.c_str()));
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(std::filesystem::exists(temp_dir() / "doomed"));
  EXPECT_EQ(Sys().SetFilePointer(kept, 1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(Sys().GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
  EXPECT_EQ(Sys().SetFilePointer(kept, 1, nullptr, FILE_BEGIN), 1u) << "only the first call fails";
  Sys().CloseHandle(kept);
}

}  // namespace
}  // namespace qmrtest
