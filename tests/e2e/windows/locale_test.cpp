// The Windows launcher on a system whose locale is not Japanese (en_US, code page 1252): its
// windows read in Japanese, Japanese entry names land as they are, and a profile folder whose
// name no code page of the launcher holds (josé, under either locale) still extracts. Then the
// Windows layer's own conversions where the system ignores the launcher's code page, and the
// dialog at 150 % (144 DPI).
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "launcher_fixture.h"
#include "pack/names.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;

const std::string kEnglish = "en_US.UTF-8";

std::string Cp932(const std::string& utf8) {
  std::string bytes;
  if (!pack::FromUtf8(utf8, pack::CodePage::kCp932, &bytes)) throw std::runtime_error("not in code page 932: " + utf8);
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : bytes) hex += {kDigits[b >> 4], kDigits[b & 15]};
  return hex;
}

class EnglishLocaleTest : public WineLauncherTest {
 protected:
  std::string Locale() const override { return kEnglish; }
};

// The progress dialog shows its template's texts, whole.
void ExpectDialogTexts(const Window& dialog) {
  EXPECT_EQ(dialog.text, kCaption);
  const Control* text = dialog.FindControl(1001);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->text, kWaitText);
  EXPECT_GT(text->text_height, 0);
  EXPECT_LE(text->text_width, text->rect.width()) << "the wait text is clipped";
  EXPECT_LE(text->text_height, text->rect.height()) << "the wait text is clipped";
}

TEST_F(EnglishLocaleTest, EveryWindowReadsInJapanese) {
  WriteLauncher();
  std::unique_ptr<SlowVolume> disk2;
  const Window dialog = StartAndWaitOnSlowDisk2(&disk2);
  ExpectDialogTexts(dialog);
  EXPECT_EQ(session_->XWindowName(dialog.x11), kCaption);
  session_->Screenshot("progress");

  // Disk3 is missing: asked for; then it is there but cut short: the error.
  disk2->Finish();
  const Window prompt = ExpectOwnedBox(dialog, DiskPrompt('Z', 3), {kIdOk, kIdCancel}, "disk-prompt");
  disk3_.resize(disk3_.size() - notes_.size() / 2);
  WriteDisk(3, disk3_);
  session_->PressKeys(prompt.x11, {"Return"});
  const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "error");
  session_->PressKeys(error.x11, {"Return"});
  ExpectNothingLeft();
}

// Under either locale: the launcher and the temporary directory in folders named josé, which
// code page 932 cannot hold, and an entry named in Japanese with a 0x5C trail byte (表).
class AccentedFolderTest : public WineLauncherTest, public ::testing::WithParamInterface<std::string> {
 protected:
  std::string Locale() const override { return GetParam(); }
};

TEST_P(AccentedFolderTest, ExtractsAndHandsOverWithAJapaneseEntryName) {
  const std::string japanese_name = "ソフト表.txt";
  const Bytes table = ToBytes("Quillmoor table\r\n");
  volume1_ = VolumeBuilder(total_ + static_cast<std::int32_t>(table.size()))
                 .Entry(Cp932(japanese_name), table, kSampleTime)
                 .Entry("readme.txt", readme_, kSampleTime)
                 .Entry("qmrsetup.in_", info_)
                 .bytes();
  total_ += static_cast<std::int32_t>(table.size());
  disk2_ = VolumeBuilder(total_).Entry("data.bin", data_, kSampleTime + 20000000).bytes();
  disk3_ = VolumeBuilder(total_).Entry("qmrsetup.ex_", program_).Entry("notes.txt", notes_, kSampleTime + 3).bytes();
  launcher_ = ws_.Path("set/josé/qmrsfx.exe");
  temp_ = ws_.Path("josé");
  fs::create_directories(launcher_.parent_path());
  fs::create_directories(temp_);
  temp_seen_ = session_->ShortPath(temp_) + "\\";
  EXPECT_EQ(temp_seen_.find("jos"), std::string::npos) << "the short form is not the long one: " << temp_seen_;
  WriteWholeSet();
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectSetupStarted(launcher_.parent_path());
  if (HasFatalFailure()) return;
  // Under its exact name, as the POSIX side of the prefix spells it in UTF-8.
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"data.bin", "notes.txt", "qmrsetup.exe", "qmrsetup.inf",
                                                        "readme.txt", japanese_name}));
  EXPECT_EQ(ReadBytes(temp_ / japanese_name), table);
  EXPECT_EQ(LastWriteFileTime(temp_ / japanese_name), kSampleTime);
  EXPECT_EQ(ReadBytes(temp_ / "data.bin"), data_);
}

INSTANTIATE_TEST_SUITE_P(Locales, AccentedFolderTest, ::testing::Values("ja_JP.UTF-8", kEnglish),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return info.param.substr(0, info.param.find('.'));
                         });

// The layer's conversions alone, in a program that asks for no code page (so 1252 here): the
// launcher's strings come out in code page 932, and the box and the dialog show them right.
TEST_F(EnglishLocaleTest, LayerConvertsTextsWhereTheSystemIgnoresTheCodePage) {
  const fs::path out = ws_.Path("strings.txt");
  auto run = session_->Start(MingwProgram("tests/e2e/windows/qmrtextcheck.exe"), ws_.root(), {},
                             {WindowsPath(MingwProgram("qmrsfx.exe")), WindowsPath(out)});
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  ExpectDialogTexts(dialog);
  session_->PressKeys(dialog.x11, {"Escape"});
  ASSERT_EQ(run->Wait(seconds(60)), 0);

  std::map<std::string, std::string> seen;
  std::istringstream lines(ReadText(out));
  std::string line;
  while (std::getline(lines, line)) {
    const auto space = line.rfind(' ');
    if (space != std::string::npos) seen[line.substr(0, space)] = line.substr(space + 1);
  }
  EXPECT_EQ(seen["acp"], "1252") << "the program runs in the system's code page";
  const std::map<std::string, std::string> strings = {
      {"string 1", "Quillmoor Version%s のインストール、または\nバージョンアップを行います。続行しますか？\n"},
      {"string 2", kCaption},
      {"string 3", "ドライブ %c: に 「Quillmoor Version%s Disk%d」を挿入し、\n[OK] ボタンを押してください"},
      {"string 5", kError},
      // 12 bytes hold "Quillmoor " and its NUL, and not half of 自.
      {"string 2/12", "Quillmoor "}};
  for (const auto& [id, text] : strings) EXPECT_EQ(seen[id], Hex(Cp932(text))) << id;
}

TEST_F(WineLauncherTest, AtOneHundredFiftyPercentTheDialogIsDrawnLargerAndNoTextIsClipped) {
  const auto [ux96, uy96] = session_->DialogUnits("ＭＳ Ｐゴシック", 9);
  session_->SetLogPixels(144);
  WriteLauncher();
  WriteDisk(3, disk3_);
  std::unique_ptr<SlowVolume> disk2;
  const Window dialog = StartAndWaitOnSlowDisk2(&disk2);
  session_->Screenshot("progress-144-dpi");

  // DPI aware: the template's units at the screen's 144 DPI, half as large again as at 96.
  const auto [ux, uy] = session_->DialogUnits("ＭＳ Ｐゴシック", 9);
  EXPECT_EQ(dialog.client_width, MulDiv(187, ux, 4));
  EXPECT_EQ(dialog.client_height, MulDiv(53, uy, 8));
  EXPECT_GE(ux * 4, ux96 * 5) << "the units at 144 DPI, " << ux << " x " << uy << ", against " << ux96 << " x " << uy96;
  EXPECT_GE(uy * 4, uy96 * 5);
  ExpectDialogTexts(dialog);
  disk2->Finish();
  ExpectHandedOver(launcher_.parent_path());
}

}  // namespace
}  // namespace qmrtest
