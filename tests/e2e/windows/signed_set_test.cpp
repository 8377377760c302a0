// Signed launchers under Wine: sets signed after building, as a distributor signs them, with a
// certificate made at test time. The launcher reads volume 1 up to the certificate table and no
// further, whatever alignment the signer added and however many signatures the table holds.
#include <gtest/gtest.h>

#include "launcher_fixture.h"
#include "support/minimal_stubs.h"
#include "support/signing.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;

class WineSignedSetTest : public WineLauncherTest {
 protected:
  void SetUp() override {
    WineLauncherTest::SetUp();
    const CommandResult made = Run(MakeCertificateCommand(ws_.root()));
    ASSERT_EQ(made.status, 0) << made.errors;
  }

  CommandResult Run(const std::vector<std::string>& argv) { return RunCommand(argv, {}, ws_.root()); }

  // Signs the launcher in place; with `nest`, beside the signature it already carries.
  void SignLauncher(const std::string& digest = "sha256", bool nest = false) {
    const fs::path out = ws_.Path("signed.exe");
    const CommandResult signed_by = Run(SignCommand(ws_.root(), launcher_, out, digest, nest));
    ASSERT_EQ(signed_by.status, 0) << signed_by.output << signed_by.errors;
    fs::rename(out, launcher_);
  }

  // The whole set in volume 1, its last entry sized so that the signer pads `padding` bytes to
  // the table's boundary, signed and extracted. (One run per test: a second launcher's windows
  // may reuse the first one's X window ids.)
  void ExpectSetInVolumeOneExtracted(std::size_t padding) {
    auto volume = [&](std::size_t fill) {
      const auto total = static_cast<std::int32_t>(readme_.size() + info_.size() + program_.size() + fill);
      return VolumeBuilder(total)
          .Entry("readme.txt", readme_)
          .Entry("qmrsetup.in_", info_)
          .Entry("qmrsetup.ex_", program_)
          .Entry("fill.bin", Bytes(fill, 0x5A))
          .bytes();
    };
    const std::uint64_t stub = fs::file_size(MingwProgram("qmrsfx.exe"));
    const std::size_t size_mod_8 = (8 - padding) % 8;  // what the launcher's size leaves over 8-byte units
    const std::size_t fill = (size_mod_8 + 8 - (stub + volume(0).size()) % 8) % 8;
    volume1_ = volume(fill);
    WriteLauncher();
    const std::uint64_t unsigned_size = fs::file_size(launcher_);
    SignLauncher();
    ASSERT_EQ(SecurityDirectoryOf(ReadBytes(launcher_)).first - unsigned_size, padding);
    StartLauncher();
    session_->PressKeys(ExpectConfirmation().x11, {"Return"});
    ExpectSetupStarted(launcher_.parent_path());
    EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"fill.bin", "qmrsetup.exe", "qmrsetup.inf", "readme.txt"}));
    EXPECT_EQ(ReadBytes(temp_ / "fill.bin").size(), fill);
  }

  // osslsigncode finds `count` signatures and every one of them sound.
  void ExpectSignaturesVerify(int count) {
    const CommandResult checked = Run(VerifySignatureCommand(ws_.root(), launcher_));
    EXPECT_EQ(checked.status, 0) << checked.output << checked.errors;
    EXPECT_NE(checked.output.find("Number of verified signatures: " + std::to_string(count)), std::string::npos)
        << checked.output;
  }
};

TEST_F(WineSignedSetTest, SignedThreeVolumeSetIsExtractedAndAsksForAMissingDisk) {
  WriteLauncher();
  SignLauncher();
  ExpectSignaturesVerify(1);
  WriteDisk(3, disk3_);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  // Volume 1 ends at the table: Disk2 is asked for, no error comes.
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window prompt = ExpectOwnedBox(dialog, DiskPrompt('Z', 2), {kIdOk, kIdCancel}, "signed-disk-prompt");
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"qmrsetup.in_", "readme.txt"}));
  WriteDisk(2, disk2_);
  session_->PressKeys(prompt.x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineSignedSetTest, NestedSha1AndSha256SignaturesLeaveTheSetWhole) {
  WriteWholeSet();
  SignLauncher("sha1");
  SignLauncher("sha256", true);
  ExpectSignaturesVerify(2);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectHandedOver(launcher_.parent_path());
}

TEST_F(WineSignedSetTest, SetHeldInVolumeOneIsExtractedWhenTheSignerAddsNoAlignment) { ExpectSetInVolumeOneExtracted(0); }

TEST_F(WineSignedSetTest, SetHeldInVolumeOneIsExtractedAfterSevenBytesOfAlignment) { ExpectSetInVolumeOneExtracted(7); }

TEST_F(WineSignedSetTest, LyingSecurityDirectoryShowsTheErrorAndLeavesNothing) {
  WriteWholeSet();
  SignLauncher();
  // The directory points into volume 1's last entry, as if the table began there.
  Bytes file = ReadBytes(launcher_);
  const auto [table, size] = SecurityDirectoryOf(file);
  SetSecurityDirectory(&file, table - 16, size);
  WriteBytes(launcher_, file);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  const Window dialog = session_->WaitForWindow(kCaption, IsProgressDialog);
  const Window error = ExpectOwnedBox(dialog, kError, {kIdOk}, "signed-error");
  session_->PressKeys(error.x11, {"Return"});
  ExpectNothingLeft();
}

}  // namespace
}  // namespace qmrtest
