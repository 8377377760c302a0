// The volume sequence: volume 1 inside the launcher, following volumes beside it, the disk prompt.
#include "extract_fixture.h"
#include "format/volume_end.h"

namespace qmrtest {
namespace {

class VolumeTest : public ExtractTest {
 protected:
  // The run has read volume `number` of a set of `total` bytes.
  static void ReadingVolume(int number, std::int32_t total) {
    g_run.volume_number = number;
    g_run.set_total = total;
  }

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
      {"file size unknown", [](ExtractTest&, TestPlatform& p) { p.InjectFault(Op::kGetFileSize, 1); }},
      {"PE headers read fails", [this](ExtractTest&, TestPlatform& p) {
         Bytes file = PeStub();
         const Bytes volume = VolumeBuilder(10).Raw({1, 2}).bytes();
         file.insert(file.end(), volume.begin(), volume.end());
         WriteBytes(launcher(), file);
         p.SetCustomResource(payload::kOffsetResourceId, LE32(static_cast<std::uint32_t>(PeStub().size())));
         p.InjectFault(Op::kReadFile, 2);
       }},
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

// Where volume 1 ends, as the launcher and the packer both decide it.
TEST(VolumeEndRule, VolumeOneEndsAtACertificateTableThatFollowsItAndEndsTheFile) {
  using payload::VolumeEndKind;
  struct Case {
    const char* what;
    payload::SecurityDirectory directory;
    VolumeEndKind kind;
    std::uint64_t end;
  };
  // Volume 1 at 1024 in a file of 2000 bytes.
  const Case cases[] = {
      {"no PE image", {false, 0, 0}, VolumeEndKind::kFileEnd, 2000},
      {"unsigned", {true, 0, 0}, VolumeEndKind::kFileEnd, 2000},
      {"signed", {true, 1600, 400}, VolumeEndKind::kCertificateTable, 1600},
      {"signed, volume 1 the set total alone", {true, 1032, 968}, VolumeEndKind::kCertificateTable, 1032},
      {"size 0", {true, 1600, 0}, VolumeEndKind::kTableEmpty, 2000},
      {"offset 0", {true, 0, 2000}, VolumeEndKind::kTableInImage, 2000},
      {"inside the image", {true, 512, 1488}, VolumeEndKind::kTableInImage, 2000},
      {"at the payload offset", {true, 1024, 976}, VolumeEndKind::kTableInImage, 2000},
      {"inside the set total", {true, 1026, 974}, VolumeEndKind::kTableInImage, 2000},
      {"not on an 8-byte boundary", {true, 1604, 396}, VolumeEndKind::kTableUnaligned, 2000},
      {"past the end of the file", {true, 1600, 408}, VolumeEndKind::kTablePastFileEnd, 2000},
      {"size wraps past 32 bits", {true, 1600, 0xFFFFFF00u}, VolumeEndKind::kTablePastFileEnd, 2000},
      {"offset past the end of the file", {true, 4096, 8}, VolumeEndKind::kTablePastFileEnd, 2000},
      {"inside the payload, data after it", {true, 1200, 400}, VolumeEndKind::kTableNotAtFileEnd, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const payload::VolumeEnd end = payload::FirstVolumeEnd(c.directory, 1024, 2000);
    EXPECT_EQ(end.kind, c.kind);
    EXPECT_EQ(end.end, c.end);
    EXPECT_EQ(end.damaged(), c.kind != VolumeEndKind::kFileEnd && c.kind != VolumeEndKind::kCertificateTable);
  }
}

TEST(VolumeEndRule, SecurityDirectoryIsReadFromPe32AndPe32PlusHeadersOnly) {
  Bytes pe = PeStub();
  SetSecurityDirectory(&pe, 0x5E08, 0x123);
  const std::uint32_t at = payload::PeHeadersOffset(pe.data(), payload::kMzHeaderSize);
  ASSERT_EQ(at, 64u);
  auto read = [&](const Bytes& f, std::uint32_t size = payload::kPeHeadersSize) {
    return payload::ReadSecurityDirectory(&f[at], size);
  };
  payload::SecurityDirectory d = read(pe);
  EXPECT_TRUE(d.present);
  EXPECT_EQ(d.offset, 0x5E08u);
  EXPECT_EQ(d.size, 0x123u);

  // PE32: its data directories start 16 bytes earlier.
  Bytes pe32 = PeStub();
  Put16(&pe32, 64 + 24, 0x10B);
  Put32(&pe32, 64 + 24 + 92, 16);
  Put32(&pe32, 64 + 24 + 96 + 32, 0x4000), Put32(&pe32, 64 + 24 + 96 + 36, 0x80);
  d = read(pe32);
  EXPECT_TRUE(d.present);
  EXPECT_EQ(d.offset, 0x4000u);
  EXPECT_EQ(d.size, 0x80u);

  Bytes few = pe;
  Put32(&few, 64 + 24 + 108, 4);  // directories 0-3 only
  EXPECT_FALSE(read(few).present);
  Bytes short_optional = pe;
  Put16(&short_optional, 64 + 20, 112 + 4 * 8);  // the optional header ends before directory 4
  EXPECT_FALSE(read(short_optional).present);
  EXPECT_FALSE(read(pe, payload::kPeHeadersSize - 1).present) << "headers cut short";
  Bytes unknown = pe;
  Put16(&unknown, 64 + 24, 0x107);
  EXPECT_FALSE(read(unknown).present);
  Bytes not_pe = pe;
  not_pe[64] = 'N';
  EXPECT_FALSE(read(not_pe).present);

  const Bytes elf = ElfStub();
  EXPECT_EQ(payload::PeHeadersOffset(elf.data(), payload::kMzHeaderSize), 0u);
  EXPECT_EQ(payload::PeHeadersOffset(pe.data(), payload::kMzHeaderSize - 1), 0u) << "MZ header cut short";
}

TEST(VolumeEndRule, OnlyFewerThanEightZeroBytesAlignTheTable) {
  const Bytes zeros(8, 0);
  for (std::uint32_t n = 0; n < 8; ++n) EXPECT_TRUE(payload::IsCertificateTablePadding(zeros.data(), n)) << n;
  EXPECT_FALSE(payload::IsCertificateTablePadding(zeros.data(), 8));
  const Bytes nonzero = {0, 0, 0, 1};
  EXPECT_FALSE(payload::IsCertificateTablePadding(nonzero.data(), 4));
}

TEST_F(VolumeTest, SignedLaunchersVolumeOneStopsAtItsCertificateTable) {
  WriteSignedLauncher(VolumeBuilder(1234).Raw({0xAA, 0xBB, 0xCC}).bytes());
  HANDLE volume = OpenNextVolume();
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_run.set_total, 1234);
  std::uint8_t buffer[256];
  // 1024 + 4 + 3 bytes: one zero byte aligns the table, which is not volume 1's.
  ASSERT_EQ(ReadVolumeBlock(volume, buffer, sizeof buffer), 4u);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{0xAA, 0xBB, 0xCC, 0}));
  EXPECT_EQ(ReadVolumeBlock(volume, buffer, sizeof buffer), 0u);
  platform().ops().CloseHandle(volume);

  // A following volume runs to the end of its file again.
  WriteDisk(2, VolumeBuilder(1234).Raw(Bytes(300, 7)).bytes());
  volume = OpenNextVolume();
  ASSERT_NE(volume, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadVolumeBlock(volume, buffer, sizeof buffer), sizeof buffer);
  EXPECT_EQ(ReadVolumeBlock(volume, buffer, sizeof buffer), 300u - sizeof buffer);
  platform().ops().CloseHandle(volume);
}

TEST_F(VolumeTest, FollowingVolumeIsOpenedBesideTheLauncherAndRewritesTheModulePath) {
  ReadingVolume(1, 77);
  WriteDisk(2, VolumeBuilder(77).Raw({5}).bytes());
  bool opened;
  EXPECT_EQ(OpenAndReadRest(&opened), Bytes{5});
  ASSERT_TRUE(opened);
  EXPECT_EQ(std::string(g_run.module_path), WindowsPath(launcher_dir() / "Disk2"));
  EXPECT_TRUE(platform().MessageBoxes().empty());
}

TEST_F(VolumeTest, VolumeNumbersOfSeveralDigitsHaveNoLeadingZeros) {
  ReadingVolume(9, 1);
  SetModulePath(WindowsPath(launcher_dir() / "Disk9"));
  WriteDisk(10, VolumeBuilder(1).bytes());
  bool opened;
  OpenAndReadRest(&opened);
  EXPECT_TRUE(opened);
  EXPECT_EQ(std::string(g_run.module_path), WindowsPath(launcher_dir() / "Disk10"));
}

TEST_F(VolumeTest, MissingDiskIsPromptedForAndCancelStopsTheRun) {
  ReadingVolume(1, 5);
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
  ReadingVolume(1, 5);
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
  ReadingVolume(1, 5);
  SetModulePath("\\\\server\\share\\qmrsfx.exe");
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(g_run.user_cancelled, 0);
  EXPECT_TRUE(platform().MessageBoxes().empty());
  EXPECT_EQ(std::string(g_run.module_path), "\\\\server\\share\\Disk2");
}

TEST_F(VolumeTest, FollowingVolumeWhosePathDoesNotFitFailsWithoutPrompt) {
  ReadingVolume(1, 5);
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
  ReadingVolume(2, 5);
  SetModulePath("q:\\setup\\Disk2");
  platform().AnswerMessageBoxes({IDCANCEL});
  EXPECT_EQ(OpenNextVolume(), INVALID_HANDLE_VALUE);
  ASSERT_EQ(platform().MessageBoxes().size(), 1u);
  EXPECT_EQ(platform().MessageBoxes()[0].text,
            "ドライブ q: に 「Quillmoor Version1.13a Disk3」を挿入し、\n[OK] ボタンを押してください");
}

}  // namespace
}  // namespace qmrtest
