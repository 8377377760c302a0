// The packer library: entry names in the stubs' code pages, the volume layout, stamped
// launchers, sets written to disk, and list/verify on sound sets and on each kind of damage.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>

#include "format/filetime.h"
#include "format/layout.h"
#include "format/little_endian.h"
#include "pack/builder.h"
#include "pack/columns.h"
#include "pack/files.h"
#include "pack/info_text.h"
#include "pack/paths.h"
#include "pack/reading.h"
#include "pack/set_files.h"
#include "platform/testing/test_platform.h"
#include "support/launcher_verdict.h"
#include "support/minimal_stubs.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

using pack::CodePage;
using pack::PackEntry;
using pack::PackError;
using ::testing::HasSubstr;

PackEntry Entry(const std::string& name, Bytes data, std::uint64_t time = 126254943067891234ULL) {
  return PackEntry{name, "src/" + name, time, std::move(data)};
}

Bytes Szdd(const std::string& text) {
  return szdd::CompressBuffer(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The entries of a small sound set: both setup files and two more.
std::vector<PackEntry> SoundEntries() {
  return {Entry(payload::kSetupInfoCompressed, Szdd("[Account]\r\nPOP3Server=\r\n")),
          Entry(payload::kSetupProgramCompressed, Szdd("#!/bin/sh\necho setup\n")),
          Entry("readme.tx_", Szdd(std::string(300, 'r'))), Entry("data.bin", RandomBytes(200, 1))};
}

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const PackError& e) {
    return e.what();
  }
  return "(no error)";
}

// ---- Names ----

TEST(PackNames, ShippedCompressedNamesExpandBackToTheOriginal) {
  struct Case {
    std::string name, shipped;
    char missing;
  };
  const Case cases[] = {{"qmrsetup.exe", "qmrsetup.ex_", 'e'}, {"readme.txt", "readme.tx_", 't'},
                        {"a.c", "a.c_", 0},                    {"README", "README._", 0},
                        {"x.tar.gz", "x.tar.g_", 'z'},         {"\x90\xe0\x96\xbe.\x83\x65\x83\x4c", "\x90\xe0\x96\xbe.\x83\x65\x83\x4c_", 0}};
  for (const Case& c : cases) {
    const pack::CompressedName shipped = pack::ShippedCompressedName(c.name, CodePage::kCp932);
    EXPECT_EQ(shipped.name, c.shipped) << c.name;
    EXPECT_EQ(shipped.missing_char, static_cast<std::uint8_t>(c.missing)) << c.name;
    EXPECT_EQ(pack::ExpandedFileName(shipped.name, shipped.missing_char), c.name);
  }
  EXPECT_EQ(pack::ExpandedFileName("a.txt_", 0), "a.txt");  // what mscompress writes
  EXPECT_EQ(pack::ExpandedFileName("readme.txt", 0), "");
}

TEST(PackNames, NamesAreConvertedToTheStubsCodePageOrRefused) {
  std::string cp932;
  ASSERT_TRUE(pack::FromUtf8("ソフト.txt", CodePage::kCp932, &cp932));
  EXPECT_EQ(cp932, "\x83\x5C\x83\x74\x83\x67.txt");  // ソ ends in 0x5C, a backslash byte
  EXPECT_EQ(pack::ToUtf8(cp932, CodePage::kCp932), "ソフト.txt");
  EXPECT_FALSE(pack::FromUtf8("한국.txt", CodePage::kCp932, &cp932));
  // Characters one system's table writes one way only: refused on both, as they would read
  // back as other characters (81 60 is U+FF5E to Windows, 81 5C is U+2015).
  for (const char* one_way : {"wave〜.txt", "dash—.txt", "〜", "a‖b", "minus−"})
    EXPECT_FALSE(pack::FromUtf8(one_way, CodePage::kCp932, &cp932)) << one_way;
  ASSERT_TRUE(pack::FromUtf8("wave～.txt", CodePage::kCp932, &cp932)) << "the fullwidth tilde reads back as itself";
  EXPECT_EQ(cp932, "wave\x81\x60.txt");
  EXPECT_FALSE(pack::FromUtf8("bad\xff.txt", CodePage::kUtf8, &cp932));
  EXPECT_FALSE(pack::IsValidUtf8("\xc0\xaf"));  // an overlong '/'
  EXPECT_EQ(pack::ToUtf8("a\xff", CodePage::kUtf8), "a\xEF\xBF\xBD");
}

TEST(PackNames, TheSetupInformationFileMustBeTextInTheStubsCodePage) {
  const std::string utf8 = "[Files]\r\nソフト説明.tx_=ソフト説明.txt\r\n";
  std::string cp932;
  ASSERT_TRUE(pack::FromUtf8(utf8, CodePage::kCp932, &cp932));
  struct Case {
    std::string text;
    std::string for_windows, for_linux;  // the problem, or "" when the text is sound
  };
  const Case cases[] = {
      {"[Account]\r\nPOP3Server=\r\n", "", ""},
      {utf8, "is UTF-8, not code page 932", ""},
      {"\xEF\xBB\xBF[Account]\r\n", "is UTF-8, not code page 932", ""},  // a byte-order mark
      {cp932, "", "is not UTF-8"},
      {std::string("[\0A\0]\0", 6), "holds NUL bytes", "holds NUL bytes"},
      {"a=\x83", "no character of code page 932", "is not UTF-8"},  // a lead byte alone
      {"a=\x83\x20", "no character of code page 932", "is not UTF-8"},
  };
  for (const Case& c : cases) {
    const Bytes text(c.text.begin(), c.text.end());
    for (const auto& stub : {std::pair{CodePage::kCp932, c.for_windows}, {CodePage::kUtf8, c.for_linux}}) {
      const CodePage code_page = stub.first;
      const std::string& expected = stub.second;
      const std::string problem = pack::InfoTextProblem(text, code_page);
      if (expected.empty()) {
        EXPECT_EQ(problem, "") << c.text;
        EXPECT_EQ(pack::InfoTextWarning(text, code_page), "") << c.text;
      } else {
        EXPECT_THAT(problem, HasSubstr(expected)) << c.text << ": " << problem;
        EXPECT_THAT(ErrorOf([&] { pack::InfoTextForStub(text, code_page, false, "s.inf"); }), HasSubstr(problem));
      }
    }
  }
  // The refusal names both fixes; --convert-inf converts UTF-8 (a byte-order mark dropped) and
  // refuses what code page 932 cannot write.
  const Bytes utf8_bytes(utf8.begin(), utf8.end());
  EXPECT_THAT(ErrorOf([&] { pack::InfoTextForStub(utf8_bytes, CodePage::kCp932, false, "s.inf"); }),
              HasSubstr("convert it (iconv -f UTF-8 -t CP932 s.inf > setup-cp932.inf) or give --convert-inf"));
  const std::string bom = "\xEF\xBB\xBF" + utf8;
  EXPECT_EQ(pack::InfoTextForStub(Bytes(bom.begin(), bom.end()), CodePage::kCp932, true, "s.inf"),
            Bytes(cp932.begin(), cp932.end()));
  EXPECT_EQ(pack::InfoTextForStub(utf8_bytes, CodePage::kUtf8, true, "s.inf"), utf8_bytes);
  const std::string korean = "a=한국\r\n";
  const auto converted = [](const std::string& text) {
    return ErrorOf([&] { pack::InfoTextForStub(Bytes(text.begin(), text.end()), CodePage::kCp932, true, "s.inf"); });
  };
  EXPECT_THAT(converted(korean), HasSubstr("holds a character code page 932 cannot write"));
  EXPECT_THAT(converted(cp932), HasSubstr("takes a UTF-8 setup information file"));
}

TEST(PackNames, ListColumnsArePaddedByDisplayWidth) {
  const std::pair<std::string, std::size_t> cases[] = {
      {"readme.tx_", 10}, {"ソフト説明.tx_", 14}, {"ｿﾌﾄ", 3},    {"é", 1}, {"한국", 4},
      {"ＡＢ", 4},        {"\xF0\x9F\x98\x80", 2}, {"a\xff\xe3", 3}, {"", 0},
  };
  for (const auto& [text, width] : cases) EXPECT_EQ(pack::DisplayWidth(text), width) << text;
  EXPECT_EQ(pack::PadToWidth("ソフト", 8), "ソフト  ");
  EXPECT_EQ(pack::PadToWidth("readme.tx_", 4), "readme.tx_");
}

TEST(PackNames, VolumeFilesAreDiskAndANumberTheLauncherFormats) {
  const std::pair<std::string, int> cases[] = {{"Disk2", 2},  {"disk10", 10}, {"DISK9999", 9999}, {"Disk1", 0},
                                               {"Disk02", 0}, {"Disk", 0},     {"Disk10000", 0},   {"Disk2.bin", 0},
                                               {"Disk+2", 0}, {"Disk-2", 0},   {"Disc2", 0},       {"2", 0},
                                               {"xDisk2", 0}, {"Disk 2", 0},   {"Disk2 ", 0},      {"Disk12a", 0}};
  for (const auto& [name, number] : cases) EXPECT_EQ(pack::VolumeNumberOf(name), number) << name;
  for (const int n : {2, 10, 9999}) EXPECT_EQ(pack::VolumeNumberOf(pack::VolumeFileName(n)), n);
  EXPECT_EQ(pack::VolumeFileName(12), "Disk12");
  EXPECT_EQ(pack::NotALauncherProblem("set/readme", "not a Windows or Linux executable"),
            "set/readme: not a Windows or Linux executable");
}

TEST(PackNames, ListedTimesAreUtcDatesOnEitherSideOf1970AndAcrossLeapDays) {
  const auto filetime = [](std::int64_t unix_seconds) { return payload::FileTimeFromUnix(unix_seconds); };
  const std::vector<std::pair<std::uint64_t, std::string>> cases = {
      {0, "1601-01-01T00:00:00Z"},
      {filetime(-1), "1969-12-31T23:59:59Z"},
      {filetime(0), "1970-01-01T00:00:00Z"},
      {filetime(951827696), "2000-02-29T12:34:56Z"},
      {filetime(1714979289) + 9999999, "2024-05-06T07:08:09Z"},  // fractions of a second are cut
      {filetime(4107542399), "2100-02-28T23:59:59Z"},            // 2100 is no leap year
      {filetime(4107542400), "2100-03-01T00:00:00Z"},
  };
  for (const auto& [time, text] : cases) EXPECT_EQ(pack::IsoTime(time), text) << time;
}

TEST(PackNames, TheInstalledStubIsBesideQmrpackExeOrInTheShareDirectoryOfItsPrefix) {
  EXPECT_EQ(pack::InstalledStubFor("/usr/bin/qmrpack", false), "/usr/share/qmrpack/qmrsfx.exe");
  EXPECT_EQ(pack::InstalledStubFor("/opt/kit/bin/qmrpack", false), "/opt/kit/share/qmrpack/qmrsfx.exe");
  EXPECT_EQ(pack::InstalledStubFor("/kit/qmrpack-1.13a-windows/qmrpack.exe", true),
            "/kit/qmrpack-1.13a-windows/qmrsfx.exe");
  EXPECT_EQ(pack::PathText(pack::PathFromUtf8("src-ü한/ソフト.txt")), "src-ü한/ソフト.txt");
  // The launcher's form of a path is the POSIX layer's: refused where it would name another file.
  EXPECT_EQ(pack::WindowsForm("/tmp/a b/set/qmrsfx"), "Z:\\tmp\\a b\\set\\qmrsfx");
  for (const char* other : {"/tmp/a\\b/qmrsfx", "/tmp/set/qmrsfx.", "/tmp/set/qmrsfx ", "/tmp/a?b/qmrsfx"})
    EXPECT_THROW(pack::WindowsForm(other), pack::PackError) << other;
}

TEST(PackNames, TheLauncherRuleDecidesWhichNamesAreRefused) {
  for (const char* good : {"readme.txt", "qmrsetup.ex_", "a b.c", "con1.txt"}) {
    EXPECT_EQ(pack::EntryNameProblem(good, CodePage::kCp932), "") << good;
    EXPECT_EQ(pack::EntryNameProblem(good, CodePage::kUtf8), "") << good;
  }
  // The trail byte 0x5C is part of a character in code page 932, a backslash in UTF-8.
  EXPECT_EQ(pack::EntryNameProblem("\x83\x5C.txt", CodePage::kCp932), "");
  EXPECT_NE(pack::EntryNameProblem("\x83\x5C.txt", CodePage::kUtf8), "");
  const std::pair<std::string, std::string> bad[] = {
      {"..\\evil.txt", "directory part"}, {"dir/x", "directory part"}, {"c:x", "directory part"},
      {"a?b", "'?'"},                     {"tab\there", "control"},     {"x.", "dot or a space"},
      {"x ", "dot or a space"},           {"CON", "device"},            {"nul.txt", "device"},
      {"", "empty"},                      {std::string(255, 'a'), "at most 254"}};
  for (const auto& [name, reason] : bad)
    EXPECT_THAT(pack::EntryNameProblem(name, CodePage::kCp932), HasSubstr(reason)) << name;
  EXPECT_EQ(pack::EntryNameProblem(std::string(254, 'a'), CodePage::kCp932), "");
}

TEST(PackNames, PackerRefusesExactlyTheNamesTheLauncherRefuses) {
  // Names the format can hold (1 to 254 bytes, valid in the code page), in both code pages: the
  // packer's verdict is the launcher's, and it speaks of a device only for a device name.
  const std::string names[] = {
      "readme.txt", "qmrsetup.ex_", ".profile", "a..b", "a b.c", "com10", "CONFIG.SYS", "LPT0", " CON",
      "CON", "con.txt", "CON .txt", "COM1 .log", "NUL . x", "lpt9.a.b", "CONIN$", "conout$ .x", "AUX  ",
      "a.", "a ", ".", "..", "a. .", "a\\b", "a/b", "c:x", "a*", "a?", "a|b", "<a>", "\"q\"", "a\x01", "a\x1F",
      "\x83\x5C.txt", "\x95\x5C", "\x83\x41.txt", "x\x83", "\xE3\x82\xBD.txt", "\xE8\xA1\xA8 .txt", "NUL\xE3\x82\xBD"};
  for (const CodePage code_page : {CodePage::kCp932, CodePage::kUtf8}) {
    for (const std::string& name : names) {
      if (code_page == CodePage::kUtf8 && !pack::IsValidUtf8(name)) continue;
      const std::string problem = pack::EntryNameProblem(name, code_page);
      const bool launcher_accepts = payload::IsPlainFileName(name.c_str(), pack::LeadBytesOf(code_page));
      EXPECT_EQ(problem.empty(), launcher_accepts) << name << ": " << problem;
      if (problem.find("device") != std::string::npos) {
        EXPECT_TRUE(payload::IsDeviceName(name.c_str())) << name << ": " << problem;
      }
    }
  }
}

TEST(PackNames, SameFileNameFoldsAsciiLettersButNeverATrailByte) {
  EXPECT_TRUE(pack::SameFileName("README.TX_", "readme.tx_", CodePage::kCp932));
  EXPECT_FALSE(pack::SameFileName("\x82\x61", "\x82\x41", CodePage::kCp932));  // two different characters
  EXPECT_TRUE(pack::SameFileName("\x82\x61", "\x82\x61", CodePage::kCp932));
}

// ---- Entries and layout ----

TEST(PackEntries, RefusesNamesTheLauncherRejectsOrThatCollide) {
  auto check = [](std::vector<PackEntry> entries) { return ErrorOf([&] { pack::CheckEntries(&entries, CodePage::kUtf8); }); };
  EXPECT_THAT(check({Entry("a\\b.txt", {1})}),
              HasSubstr("src/a\\b.txt: the entry name \"a\\b.txt\" has a directory part"));
  EXPECT_THAT(check({Entry("readme.tx_", {1}), Entry("README.TX_", {2})}),
              HasSubstr("also the name of src/readme.tx_"));
  EXPECT_THAT(check({Entry("QMRSETUP.INF", {1})}), HasSubstr("expands a setup file to"));
}

TEST(PackEntries, TheSetTotalStaysWithinTheSigned32BitRange) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::int32_t>::max();
  EXPECT_EQ(pack::CheckSetTotal({kMax - 1, 1}), std::numeric_limits<std::int32_t>::max());
  EXPECT_THROW(pack::CheckSetTotal({kMax, 1}), PackError);
  EXPECT_THROW(pack::CheckSetTotal({kMax + 1}), PackError);
}

TEST(PackEntries, EntriesWithoutDataGoFirstSoEveryVolumeIsRead) {
  std::vector<PackEntry> entries = {Entry("a", {1}), Entry("empty1", {}), Entry("b", {2}), Entry("empty2", {})};
  EXPECT_EQ(pack::CheckEntries(&entries, CodePage::kUtf8), 2);
  std::vector<std::string> names;
  for (const PackEntry& e : entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"empty1", "empty2", "a", "b"}));
}

// Entries named "a" take 15 bytes besides their data.
std::vector<PackEntry> Sized(const std::vector<std::size_t>& data_sizes) {
  std::vector<PackEntry> entries;
  for (std::size_t size : data_sizes) entries.push_back(Entry("a", Bytes(size, 7)));
  return entries;
}

TEST(PackLayout, FillsVolumesInOrderAndNeverSplitsAnEntry) {
  // Volume 1 has 200 - 100 - 4 = 96 bytes of room, each following volume 196.
  const auto volumes = pack::PlanVolumes(100, Sized({60, 6, 1, 165, 1}), 200);
  EXPECT_EQ(volumes, (std::vector<std::vector<std::size_t>>{{0, 1}, {2, 3}, {4}}));
}

TEST(PackLayout, VolumeOneHoldsTheSetTotalAloneWhenTheStubLeavesNoRoom) {
  EXPECT_EQ(pack::PlanVolumes(180, Sized({10, 10}), 200), (std::vector<std::vector<std::size_t>>{{}, {0, 1}}));
  const Bytes stub = ElfStub(400);
  const pack::ComposedSet set = pack::ComposeSet(stub, "1.13a", SoundEntries(), stub.size() + 10);
  EXPECT_EQ(set.launcher.size(), stub.size() + payload::kSetTotalSize);
  ASSERT_EQ(set.disks.size(), 1u);
  Workspace ws;
  pack::WriteSetFiles(set, ws.Path("out"), "qmrsfx", 0755, false);
  EXPECT_EQ(pack::ListFile(ws.Path("out/qmrsfx"), nullptr).entries.size(), 0u);
  EXPECT_EQ(pack::ListFile(ws.Path("out/Disk2"), nullptr).entries.size(), 4u);
}

TEST(PackLayout, RefusesAStubThatFillsTheDiskAndAnEntryLargerThanADisk) {
  EXPECT_THAT(ErrorOf([] { pack::PlanVolumes(197, {}, 200); }), HasSubstr("do not fit a disk of 200 bytes"));
  EXPECT_NO_THROW(pack::PlanVolumes(100, Sized({181}), 200));
  EXPECT_THAT(ErrorOf([] { pack::PlanVolumes(100, Sized({182}), 200); }),
              HasSubstr("src/a: its entry takes 197 bytes"));
}

TEST(PackCompose, TheLauncherIsStampedAndEveryVolumeReadsBackAsWritten) {
  for (const Bytes& stub : {ElfStub(64), PeStub()}) {
    const std::vector<PackEntry> entries = SoundEntries();
    const std::uint64_t disk = stub.size() + 200;
    const pack::ComposedSet set = pack::ComposeSet(stub, "2.0", entries, disk);
    pack::StubInfo info;
    std::string error;
    ASSERT_TRUE(pack::InspectStub(set.launcher, &info, &error)) << error;
    EXPECT_EQ(info.payload_offset, stub.size());
    EXPECT_EQ(info.version, "2.0");
    Workspace ws;
    const std::string launcher = stub == PeStub() ? "qmrsfx.exe" : "qmrsfx";
    const auto files = pack::WriteSetFiles(set, ws.Path("out"), launcher, 0755, false);
    std::vector<const PackEntry*> seen;
    for (std::size_t v = 0; v <= set.disks.size(); ++v) {
      EXPECT_LE((v == 0 ? set.launcher : set.disks[v - 1]).size(), disk);
      const pack::ListedFile listed = pack::ListFile(files[v], nullptr);
      EXPECT_EQ(listed.set_total, set.set_total);
      EXPECT_EQ(listed.damage, "");
      for (const pack::ListedEntry& e : listed.entries) {
        const PackEntry& expected = entries[seen.size()];
        EXPECT_EQ(e.name, expected.name);
        EXPECT_EQ(e.filetime, expected.filetime);
        EXPECT_EQ(static_cast<std::size_t>(e.size), expected.data.size());
        seen.push_back(&expected);
      }
    }
    EXPECT_EQ(seen.size(), entries.size());
    EXPECT_GE(set.disks.size(), 1u);
    // The data, as the engine extracts it: the stored entries byte for byte.
    pack::ExtractSet(files[0], ws.Path("x"));
    EXPECT_EQ(ReadBytes(ws.Path("x/data.bin")), entries[3].data);
    EXPECT_EQ(ReadBytes(ws.Path("x/readme.tx_")), entries[2].data);
  }
}

TEST(PackCompose, RefusesStubsThatAreNotLaunchersOrCarryDataAndLongVersions) {
  Bytes carrying = ElfStub();
  carrying.push_back(0);
  EXPECT_THAT(ErrorOf([&] { pack::ComposeSet(carrying, "1", {}, 1 << 20); }), HasSubstr("already carries 1 bytes"));
  EXPECT_THAT(ErrorOf([] { pack::ComposeSet(Bytes(100, 'x'), "1", {}, 1 << 20); }), HasSubstr("not a"));
  EXPECT_THAT(ErrorOf([] { pack::ComposeSet(PeStub(), std::string(16, 'v'), {}, 1 << 20); }), HasSubstr("at most 15"));
  // Stamping would break a signature: the launcher is signed after building.
  Bytes signed_stub = PeStub();
  SignLikeATool(&signed_stub);
  EXPECT_THAT(ErrorOf([&] { pack::ComposeSet(signed_stub, "1", {}, 1 << 20); }),
              HasSubstr("is signed (a certificate table of 64 bytes at offset 1024); build from the unsigned launcher "
                        "and sign the set's launcher after building"));
}

// ---- Sets on disk ----

class PackFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteBytes(ws_.Path("in/qmrsfx"), ElfStub(1000));
    chmod(ws_.Path("in/qmrsfx").c_str(), 0750);
    WriteBytes(ws_.Path("in/qmrsfx.exe"), PeStub());
    WriteText(ws_.Path("in/setup.inf"), "[Account]\r\nPOP3Server=\r\n");
    WriteText(ws_.Path("in/setup.sh"), "#!/bin/sh\necho setup\n");
    WriteText(ws_.Path("in/readme.txt"), std::string(2000, 'r'));
    WriteBytes(ws_.Path("in/data.bin"), RandomBytes(3000, 2));
    options_.stub = ws_.Path("in/qmrsfx");
    options_.out_dir = ws_.Path("out");
    options_.setup_program = ws_.Path("in/setup.sh");
    options_.setup_info = ws_.Path("in/setup.inf");
    options_.files = {ws_.Path("in/readme.txt"), ws_.Path("in/data.bin")};
    options_.disk_size = kStubSize + 3000;
  }

  const std::size_t kStubSize = ElfStub(1000).size();

  pack::BuildResult Build() { return pack::BuildSet(options_, nullptr); }
  std::vector<std::string> VerifyErrors(const std::string& launcher = "out/qmrsfx") {
    std::vector<std::string> errors;
    for (const pack::Finding& f : pack::VerifySet(ws_.Path(launcher), "").findings)
      if (f.error) errors.push_back(f.text);
    return errors;
  }
  // Rewrites a volume file through a change of its bytes.
  template <typename F>
  void Damage(const std::string& file, F&& change) {
    Bytes bytes = ReadBytes(ws_.Path(file));
    change(&bytes);
    WriteBytes(ws_.Path(file), bytes);
  }

  Workspace ws_;
  pack::BuildOptions options_;
};

TEST_F(PackFiles, BuildWritesExactlyTheLauncherAndItsVolumesWithTheSourcesTimes) {
  const pack::BuildResult result = Build();
  EXPECT_EQ(FileNames(ws_.Path("out")), (std::vector<std::string>{"Disk2", "qmrsfx"}));
  struct stat st;
  ASSERT_EQ(stat(ws_.Path("out/qmrsfx").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  const pack::ListedFile disk2 = pack::ListFile(ws_.Path("out/Disk2"), nullptr);
  ASSERT_FALSE(disk2.entries.empty());
  EXPECT_EQ(disk2.volume, 2);
  EXPECT_EQ(disk2.entries.back().display_name, "data.bi_");
  EXPECT_TRUE(disk2.entries.back().szdd);
  EXPECT_EQ(disk2.entries.back().expanded_size, 3000u);
  EXPECT_EQ(disk2.entries.back().filetime, LastWriteFileTime(ws_.Path("in/data.bin")));
  EXPECT_TRUE(VerifyErrors().empty());

  options_.store = true;
  options_.force = true;
  Build();
  const pack::ListedFile stored = pack::ListFile(ws_.Path("out/Disk2"), nullptr);
  EXPECT_EQ(stored.entries.back().display_name, "data.bin");
  EXPECT_FALSE(stored.entries.back().szdd);
}

TEST_F(PackFiles, AWindowsStubGetsCp932NamesAndRefusesNamesItCannotWrite) {
  options_.stub = ws_.Path("in/qmrsfx.exe");
  options_.disk_size = pack::kFloppyDiskSize;
  WriteText(ws_.Path("in/ソフト.txt"), "soft");
  options_.files = {ws_.Path("in/ソフト.txt")};
  Build();
  const pack::ListedFile launcher = pack::ListFile(ws_.Path("out/qmrsfx.exe"), nullptr);
  ASSERT_EQ(launcher.entries.size(), 3u);
  EXPECT_EQ(launcher.entries[2].name, "\x83\x5C\x83\x74\x83\x67.tx_");
  EXPECT_EQ(launcher.entries[2].display_name, "ソフト.tx_");
  EXPECT_TRUE(VerifyErrors("out/qmrsfx.exe").empty());

  WriteText(ws_.Path("in/한국.txt"), "k");
  options_.files = {ws_.Path("in/한국.txt")};
  options_.out_dir = ws_.Path("other/out");
  EXPECT_THAT(ErrorOf([&] { Build(); }), HasSubstr("cannot be written in code page 932"));
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("other")));
}

TEST_F(PackFiles, ARefusedBuildLeavesNothingBehindAndAnExistingSetUntouched) {
  options_.files.push_back(ws_.Path("in/missing.txt"));
  EXPECT_THAT(ErrorOf([&] { Build(); }), HasSubstr("missing.txt: No such file"));
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("out")));
  options_.files.pop_back();
  // "new" is made, the name under it is too long: the system's reason is told, and "new" goes.
  options_.out_dir = ws_.Path("new/" + std::string(300, 'd') + "/out");
  EXPECT_THAT(ErrorOf([&] { Build(); }), HasSubstr("cannot create the directory: File name too long"));
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("new")));

  options_.out_dir = ws_.Path("out");
  Build();
  const Bytes before = ReadBytes(ws_.Path("out/qmrsfx"));
  options_.version = "9.9";
  EXPECT_THAT(ErrorOf([&] { Build(); }), HasSubstr("already holds a set"));
  EXPECT_EQ(ReadBytes(ws_.Path("out/qmrsfx")), before);
}

TEST_F(PackFiles, ForceReplacesASetAndDeletesVolumesTheNewSetDoesNotHave) {
  // Stored: the 2,000-byte readme fits volume 1, the two 3,000-byte files need a volume each.
  options_.store = true;
  WriteBytes(ws_.Path("in/more.bin"), RandomBytes(3000, 3));
  options_.files.push_back(ws_.Path("in/more.bin"));
  options_.disk_size = kStubSize + 3100;
  Build();
  ASSERT_TRUE(std::filesystem::exists(ws_.Path("out/Disk3")));
  WriteText(ws_.Path("out/disk4"), "stale");
  WriteText(ws_.Path("out/qmrpresets.ini"), "[Account]\r\n");
  options_.disk_size = pack::kFloppyDiskSize;
  options_.force = true;
  Build();
  EXPECT_EQ(FileNames(ws_.Path("out")), (std::vector<std::string>{"qmrpresets.ini", "qmrsfx"}));
}

TEST_F(PackFiles, ForceWarnsOfALauncherOfTheReplacedSetLeftUnderAnotherName) {
  Build();
  std::filesystem::rename(ws_.Path("out/qmrsfx"), ws_.Path("out/old-setup"));
  std::filesystem::copy_file(ws_.Path("in/qmrsfx"), ws_.Path("out/bare-stub"));  // carries no set
  WriteText(ws_.Path("out/notes.txt"), "notes");
  options_.force = true;
  const std::vector<std::string> warnings = Build().warnings;
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], ws_.Path("out/old-setup").string() +
                             ": a launcher of the replaced set, left under another name; it no longer works with the "
                             "volumes beside it: delete it");
  // Into a directory without a set there is nothing replaced to warn of.
  options_.out_dir = ws_.Path("other");
  std::filesystem::create_directories(ws_.Path("other"));
  std::filesystem::copy_file(ws_.Path("out/old-setup"), ws_.Path("other/old-setup"));
  EXPECT_TRUE(Build().warnings.empty());
}

TEST_F(PackFiles, ASetupInformationFileInAnotherCodePageIsRefusedOrConverted) {
  options_.stub = ws_.Path("in/qmrsfx.exe");
  options_.disk_size = pack::kFloppyDiskSize;
  WriteText(ws_.Path("in/setup.inf"), "[Files]\r\nソフト説明.tx_=ソフト説明.txt\r\n\r\n[Account]\r\n");
  EXPECT_THAT(ErrorOf([&] { Build(); }),
              HasSubstr("setup.inf: the setup information file is UTF-8, not code page 932"));
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("out")));

  options_.convert_info = true;
  Build();
  pack::ExtractSet(ws_.Path("out/qmrsfx.exe"), ws_.Path("extracted"));
  const Bytes expanded = ReadBytes(ws_.Path("extracted/qmrsetup.inf"));
  std::string cp932;
  ASSERT_TRUE(pack::FromUtf8("[Files]\r\nソフト説明.tx_=ソフト説明.txt\r\n\r\n[Account]\r\n", CodePage::kCp932, &cp932));
  EXPECT_EQ(expanded, Bytes(cp932.begin(), cp932.end()));
  for (const pack::Finding& f : pack::VerifySet(ws_.Path("out/qmrsfx.exe"), "").findings)
    EXPECT_EQ(f.text.find("setup information file"), std::string::npos) << f.text;
}

TEST_F(PackFiles, VerifyOfAVolumeSaysTheLauncherIsTheFileToGive) {
  Build();
  EXPECT_EQ(VerifyErrors("out/Disk2"),
            (std::vector<std::string>{ws_.Path("out/Disk2").string() +
                                      ": this is volume 2 of a set, not its launcher; give the launcher, the program "
                                      "beside it that carries volume 1"}));
}

TEST_F(PackFiles, AFailedWriteLeavesNoTemporaryFileAndNoLauncher) {
  std::filesystem::create_directories(ws_.Path("out/Disk2"));  // the rename onto it fails
  options_.force = true;
  EXPECT_THAT(ErrorOf([&] { Build(); }), HasSubstr("cannot rename into place"));
  std::vector<std::string> left;
  for (const auto& item : std::filesystem::directory_iterator(ws_.Path("out")))
    left.push_back(item.path().filename().string());
  EXPECT_EQ(left, (std::vector<std::string>{"Disk2"}));
}

TEST_F(PackFiles, ListAndVerifyReadASignedLauncherToItsCertificateTable) {
  options_.stub = ws_.Path("in/qmrsfx.exe");
  options_.disk_size = 1 << 20;
  Build();
  const std::string launcher = "out/qmrsfx.exe";
  const pack::ListedFile before = pack::ListFile(ws_.Path(launcher), nullptr);
  std::size_t table = 0;
  Damage(launcher, [&](Bytes* b) { table = SignLikeATool(b); });
  const pack::ListedFile listed = pack::ListFile(ws_.Path(launcher), nullptr);
  EXPECT_EQ(listed.damage, "");
  EXPECT_EQ(listed.volume_end.kind, payload::VolumeEndKind::kCertificateTable);
  EXPECT_EQ(listed.volume_end.table.offset, table);
  ASSERT_EQ(listed.entries.size(), before.entries.size()) << "the table is not read as entries";
  const pack::Verification v = pack::VerifySet(ws_.Path(launcher), "");
  EXPECT_TRUE(v.sound()) << (v.findings.empty() ? "" : v.findings[0].text);
  EXPECT_EQ(v.facts.at(1), "signed: certificate table at offset " + std::to_string(table) +
                               ", 64 bytes, where volume 1 ends (the signature itself is not checked)");

  // A directory that lies, or bytes before the table that are not its alignment.
  const Bytes signed_file = ReadBytes(ws_.Path(launcher));
  const auto at = static_cast<std::uint32_t>(table);
  const struct {
    std::uint32_t offset, size;
    const char* problem;
  } lies[] = {
      {at, 0, "names a certificate table of 0 bytes at offset"},
      {512, static_cast<std::uint32_t>(signed_file.size() - 512), "starts before volume 1's set total ends (offset 1028)"},
      {at - 4, 68, "does not start on an 8-byte boundary"},
      {at, 72, "runs past the end of the file"},
      {at - 8, 64, "ends before the end of the file"},
  };
  for (const auto& lie : lies) {
    SCOPED_TRACE(lie.problem);
    Bytes f = signed_file;
    SetSecurityDirectory(&f, lie.offset, lie.size);
    WriteBytes(ws_.Path(launcher), f);
    const auto errors = VerifyErrors(launcher);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_THAT(errors[0], HasSubstr(lie.problem));
    EXPECT_THAT(errors[0], HasSubstr("the launcher takes the set for damaged"));
    EXPECT_THAT(pack::ListFile(ws_.Path(launcher), nullptr).damage, HasSubstr(lie.problem));
  }
  Bytes padded(signed_file.begin(), signed_file.begin() + at);
  padded.insert(padded.end(), 8, 0);
  SignLikeATool(&padded);
  WriteBytes(ws_.Path(launcher), padded);
  const auto errors = VerifyErrors(launcher);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_THAT(errors[0], HasSubstr("the volume ends inside the header of entry"));
}

// Writes a composed set of these entries (not checked by the packer) as out/qmrsfx.
void WriteComposed(const Workspace& ws, const std::vector<PackEntry>& entries, std::uint64_t disk_size = 1 << 20) {
  const pack::ComposedSet set = pack::ComposeSet(ElfStub(), "1.13a", entries, disk_size);
  pack::WriteSetFiles(set, ws.Path("out"), "qmrsfx", 0755, true);
}

TEST_F(PackFiles, VerifyFailsWhenPathsOutgrowTheCleanupListOfTheTemporaryDirectory) {
  std::vector<PackEntry> entries = SoundEntries();
  for (int i = 0; i < 100; ++i) entries.push_back(Entry(std::string(80, 'n') + std::to_string(i), {1}));
  WriteComposed(ws_, entries);
  // 104 paths of 8 + name bytes and a NUL each overflow the list at the 94th entry; their
  // names alone take more than the list holds.
  const pack::Verification v = pack::VerifySet(ws_.Path("out/qmrsfx"), "C:\\Temp\\");
  EXPECT_FALSE(v.sound());
  EXPECT_TRUE(v.limited);
  ASSERT_EQ(v.findings.size(), 1u);
  EXPECT_THAT(v.findings[0].text, HasSubstr("entry 94 \"nnnn"));
  EXPECT_THAT(v.findings[0].text, HasSubstr("does not fit the clean-up list"));
  EXPECT_THAT(v.findings[0].text, HasSubstr("its names alone outgrow the launcher's limits"));
}

TEST(PackCleanup, TheLongestTemporaryDirectoryIsBoundByEachLimit) {
  EXPECT_EQ(pack::LongestTempDir({"a", "bb"}), 257);  // a path of 259 bytes with "bb"
  EXPECT_EQ(pack::LongestTempDir({"qmrsetup.in_"}), 127 - 12);  // LZ32's path field
  // 100 names of 10 bytes: 100 * (L + 11) + 1 <= 8192 gives L <= 70.
  EXPECT_EQ(pack::LongestTempDir(std::vector<std::string>(100, "0123456789")), 70);
}

TEST(PackTempDir, OnlyWhatTheLauncherCanBeGivenIsATemporaryDirectory) {
  for (const char* accepted : {"C:\\Temp", "Z:\\tmp\\", "\\\\server\\share\\"}) EXPECT_EQ(pack::TempDirProblem(accepted), "") << accepted;
  for (const char* refused : {"", "/tmp", "tmp\\", "C:Temp", "\\Temp"}) EXPECT_NE(pack::TempDirProblem(refused), "") << refused;
  EXPECT_EQ(pack::TempDirProblem("C:\\" + std::string(255, 't')), "");
  EXPECT_NE(pack::TempDirProblem("C:\\" + std::string(256, 't')), "");
}

// ---- verify is the launcher ----

// Entries after the setup files whose paths in a temporary directory of `temp` bytes make the
// clean-up list take `list_bytes` bytes, its final empty string included.
std::vector<PackEntry> FillingTheCleanupList(std::vector<PackEntry> entries, std::size_t temp, std::size_t list_bytes) {
  std::size_t left = list_bytes - 1;  // the final empty string
  for (const PackEntry& e : entries) left -= temp + e.name.size() + 1;
  for (int i = 0; left > 0; ++i) {
    std::size_t name = left - temp - 1;  // the last one takes what is left
    if (name > 200) name = left - (temp + 1 + 200) < temp + 4 ? 100 : 200;  // leave room for a last name
    entries.push_back(Entry(std::to_string(i) + std::string(name - std::to_string(i).size(), 'f'), {}));
    left -= temp + name + 1;
  }
  return entries;
}

TEST_F(PackFiles, VerifyCallsASetSoundExactlyWhenTheLauncherExtractsIt) {
  const std::size_t temp_size = WindowsPath(ws_.Path("tmp"), true).size();
  const auto sized = [](std::size_t n) { return Entry("data.bin", RandomBytes(n, 5)); };
  // A fresh set: built from the fixture's sources, or composed of these entries.
  const auto built = [&] {
    std::filesystem::remove_all(ws_.Path("out"));
    Build();
  };
  const auto composed = [&](const std::vector<PackEntry>& entries, std::uint64_t disk_size = 1 << 20) {
    std::filesystem::remove_all(ws_.Path("out"));
    WriteComposed(ws_, entries, disk_size);
  };
  const auto stamped = [&](std::uint32_t offset) {
    Damage("out/qmrsfx", [offset](Bytes* b) {
      std::string error;
      pack::StampStub(b, offset, "1.13a", &error);
    });
  };
  std::uint64_t records = 0;  // what the sound entries take on a volume
  for (const PackEntry& e : SoundEntries()) records += pack::EntryRecordSize(e.name.size(), e.data.size());
  const std::string offset = std::to_string(kStubSize + 1);
  struct Case {
    std::string name;
    std::function<void()> make;
    bool sound;
    std::string error;       // part of the first error, or of the first warning of a sound set
    std::size_t count = 0;   // how many errors (warnings of a sound set) there are; 0: not checked
    std::string exactly{};   // the whole of the first one, when it is checked to the letter
    std::string temp_dir = "tmp";  // the temporary directory, in the workspace
  } cases[] = {
      {"a truncated volume", [&] {
         built();
         Damage("out/Disk2", [](Bytes* b) { b->resize(b->size() - 10); });
       }, false, "volume 2 (Disk2): the volume ends inside the data of entry", 1},
      {"a Disk2 of another set", [&] {
         // Only the setup information file on volume 1: the rest, the setup program too, is on Disk2.
         const std::vector<PackEntry> entries = SoundEntries();
         composed(entries, ElfStub().size() + 4 + pack::EntryRecordSize(12, entries[0].data.size()));
         Damage("out/Disk2", [](Bytes* b) { (*b)[0] ^= 1; });
       }, false, "starts with the set total", 1},
      {"a missing Disk2", [&] {
         built();
         std::filesystem::remove(ws_.Path("out/Disk2"));
       }, false, "Disk2 is missing"},
      {"a payload offset past the image", [&] {
         built();
         stamped(static_cast<std::uint32_t>(kStubSize + 1));
       }, false, "", 0, "the payload offset " + offset + " is not where the launcher's executable image ends (" +
                            std::to_string(kStubSize) + "), where volume 1 starts"},
      {"an unstamped launcher", [&] { stamped(payload::kUnstampedOffset); }, false, "not stamped"},
      {"no setup program", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries.erase(entries.begin() + 1);
         composed(entries);
       }, false, "", 1, "the set has no qmrsetup.ex_ (the setup program); the launcher shows its error message"},
      {"a name with a directory part", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries.push_back(Entry("..\\evil.txt", {1, 2, 3}));
         composed(entries);
       }, false, "entry 5 \"..\\evil.txt\": the name has a directory part", 1},
      {"a path past the launcher's texts", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries.push_back(Entry(std::string(200, 'n'), {1}));
         composed(entries);
       }, false, "its path takes", 1, "", "tmp/" + std::string(60, 'd')},
      {"a setup information file that does not expand whole", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries[0].data.resize(entries[0].data.size() - 3);
         composed(entries);
       }, false, "qmrsetup.in_ (the setup information file) does not expand", 1},
      {"a volume the launcher never reads: sound, with the warning", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries.push_back(Entry("late.txt", {}));  // past the set total, on a volume of its own
         composed(entries, ElfStub().size() + 4 + records);
         ASSERT_EQ(pack::ListFile(ws_.Path("out/Disk2"), nullptr).entries.size(), 1u);
       }, true, "Disk2 is never read", 1},
      {"a setup information file in code page 932 for the Linux launcher", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries[0].data = Szdd("[Files]\r\n\x83\x5C\x83\x74\x83\x67.tx_=x\r\n");
         composed(entries);
       }, true, "", 1, "qmrsetup.in_ (the setup information file) is not UTF-8 (code page 932?), but the Linux "
                       "launcher writes its presets into it in UTF-8 and would damage it; build the set again from a "
                       "converted file"},
      {"an entry with a negative size", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries.insert(entries.begin() + 2, Entry("negative.txt", {}));
         WriteComposed(ws_, entries);
         Damage("out/qmrsfx", [](Bytes* b) {
           const auto at = std::search(b->begin(), b->end(), std::begin("negative.txt"), std::end("negative.txt"));
           payload::WriteLE32(&*(at + 13 + 8), static_cast<std::uint32_t>(-5));
         });
       }, true, ""},
      {"one byte over the clean-up list", [&] {
         WriteComposed(ws_, FillingTheCleanupList(SoundEntries(), temp_size, payload::kCleanupListSize + 1));
       }, false, "does not fit the clean-up list"},
      {"a clean-up list filled to its last byte", [&] {
         WriteComposed(ws_, FillingTheCleanupList(SoundEntries(), temp_size, payload::kCleanupListSize));
       }, true, ""},
      {"a set that reads Disk10", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         for (int i = 0; i < 10; ++i) entries.push_back(Entry("part" + std::to_string(i), RandomBytes(1000, i)));
         WriteComposed(ws_, entries, ElfStub().size() + 1100);
         ASSERT_TRUE(std::filesystem::exists(ws_.Path("out/Disk10")));
       }, true, ""},
      {"a set missing Disk10", [&] { std::filesystem::remove(ws_.Path("out/Disk10")); }, false,
       "Disk10 is missing beside the launcher"},
      {"a temporary directory too deep for LZ32's path", [&] { WriteComposed(ws_, SoundEntries()); }, false,
       "qmrsetup.in_ (the setup information file): its path takes", 0, "", "tmp/" + std::string(120, 'd')},
      {"a setup program that does not expand whole", [&] {
         std::vector<PackEntry> entries = SoundEntries();
         entries[1].data.resize(entries[1].data.size() - 2);
         WriteComposed(ws_, entries);
       }, false, "qmrsetup.ex_ (the setup program) does not expand: its data ends after"},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  // A signed launcher whose volume 1 ends 0 to 7 bytes short of the 8-byte boundary: the
  // signer's zero bytes before its table are no entry.
  for (std::size_t pad = 0; pad < 8; ++pad)
    all.push_back({"a signed launcher with " + std::to_string(pad) + " bytes of alignment", [&, pad] {
                     options_.stub = ws_.Path("in/qmrsfx.exe");
                     options_.store = true;
                     options_.force = true;
                     options_.disk_size = 1 << 20;
                     options_.files = {ws_.Path("in/data.bin")};
                     WriteBytes(ws_.Path("in/data.bin"), sized(3000).data);
                     Build();
                     const std::size_t end = std::filesystem::file_size(ws_.Path("out/qmrsfx.exe"));
                     WriteBytes(ws_.Path("in/data.bin"), sized(3000 + ((8 - pad) % 8 + 8 - end % 8) % 8).data);
                     Build();
                     Damage("out/qmrsfx.exe", [&](Bytes* b) {
                       ASSERT_EQ((8 - b->size() % 8) % 8, pad);
                       SignLikeATool(b);
                     });
                   }, true, ""});
  for (const Case& c : all) {
    SCOPED_TRACE(c.name);
    c.make();
    const std::string launcher = std::filesystem::exists(ws_.Path("out/qmrsfx.exe")) ? "out/qmrsfx.exe" : "out/qmrsfx";
    std::filesystem::remove_all(ws_.Path("tmp"));
    std::filesystem::create_directories(ws_.Path(c.temp_dir));
    const std::string temp = WindowsPath(ws_.Path(c.temp_dir), true);
    const pack::Verification v = pack::VerifySet(ws_.Path(launcher), temp);
    EXPECT_EQ(LauncherExtracts(ws_.Path(launcher), ReadBytes(ws_.Path(launcher)), temp), c.sound);
    EXPECT_EQ(v.sound(), c.sound) << (v.findings.empty() ? "" : v.findings[0].text);
    std::vector<std::string> said;  // the errors, or the warnings of a sound set
    for (const pack::Finding& f : v.findings)
      if (f.error != c.sound) said.push_back(f.text);
    if (c.count != 0) {
      EXPECT_EQ(said.size(), c.count);
    }
    if (!c.exactly.empty()) {
      EXPECT_EQ(said.at(0), c.exactly);
    }
    if (!c.error.empty()) {
      EXPECT_THAT(said.at(0), HasSubstr(c.error));
    }
  }
}

// ---- build --force on a file system that ignores case ----

TEST_F(PackFiles, ForceKeepsTheNewVolumeThatAnOldSpellingNames) {
  // Where names ignore case, the old set's DISK2 is the file the new Disk2 has just replaced:
  // one file under two names, as a hard link makes it on any file system.
  WriteText(ws_.Path("out/Disk2"), "the new volume");
  std::filesystem::create_hard_link(ws_.Path("out/Disk2"), ws_.Path("out/DISK2"));
  WriteText(ws_.Path("out/DISK3"), "an old volume");
  pack::RemoveReplacedFiles({ws_.Path("out/DISK2"), ws_.Path("out/DISK3")}, {ws_.Path("out/Disk2")});
  EXPECT_EQ(FileNames(ws_.Path("out")), (std::vector<std::string>{"DISK2", "Disk2"}));
}

TEST_F(PackFiles, ABuildWhoseSetDoesNotReadBackFails) {
  // The launcher's engine cannot open the Disk2 the build has just written.
  testing_platform::TestPlatform platform;
  platform.InjectFault(testing_platform::Op::kCreateFileA, 1, testing_platform::Fault::kFail, "Disk2");
  EXPECT_THAT(ErrorOf([&] { Build(); }),
              HasSubstr("the set written does not read back: Disk2 is missing beside the launcher"));
}

}  // namespace
}  // namespace qmrtest
