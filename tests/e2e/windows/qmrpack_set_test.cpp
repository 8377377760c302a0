// A set made by qmrpack from the Windows launcher, as a distributor makes one: built onto disks
// too small for it, called sound by qmrpack verify, then run under Wine, where the launcher
// follows it across its volumes and hands it to the setup program.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "launcher_fixture.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;

const std::string kPack = QMR_QMRPACK_PATH;
// 2024-05-06 07:08:09 UTC, the sources' last-write time: as POSIX seconds and as a FILETIME.
constexpr std::int64_t kSourceTime = 1714979289;
constexpr std::uint64_t kSourceFileTime = (kSourceTime + 11644473600ULL) * 10000000ULL;

void SetLastWriteTime(const fs::path& path, std::int64_t seconds) {
  const timespec times[2] = {{seconds, 0}, {seconds, 0}};
  if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
    throw std::runtime_error("cannot set the time of " + path.string());
}

Bytes Expanded(const fs::path& compressed) {
  const Bytes data = ReadBytes(compressed);
  Bytes out;
  const szdd::ExpandResult result = szdd::ExpandBuffer(data.data(), data.size(), &out);
  if (result.status != szdd::Status::kOk) ADD_FAILURE() << compressed << " does not expand";
  return out;
}

CommandResult Pack(const std::vector<std::string>& arguments) {
  std::vector<std::string> argv = {kPack};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return RunCommand(argv, {}, fs::current_path());
}

class QmrpackSetTest : public WineLauncherTest {};

TEST_F(QmrpackSetTest, BuiltOnSmallDisksVerifiedSoundThenExtractedAcrossItsVolumes) {
  const fs::path stub = MingwProgram("qmrsfx.exe");
  const fs::path setup = MingwProgram("tests/e2e/windows/qmrtestsetup.exe");
  const fs::path sources = ws_.Path("sources");
  fs::create_directories(sources);
  WriteText(sources / "qmrsetup.inf", kSetupInfo);
  std::string readme;
  for (int i = 0; i < 40; ++i) readme += "Quillmoor readme, line " + std::to_string(i) + "\r\n";
  WriteText(sources / "readme.txt", readme);

  // Disks 4 KiB larger than the launcher or the compressed setup program, whichever is
  // larger (as the demo makes them), and data.bin compressed to nearly a disk: volume 1 holds
  // the setup information file, Disk2 the setup program and readme, Disk3 data.bin.
  const Bytes setup_bytes = ReadBytes(setup);
  const std::uint64_t setup_compressed = szdd::CompressBuffer(setup_bytes.data(), setup_bytes.size()).size();
  const std::uint64_t stub_size = fs::file_size(stub);
  ASSERT_GT(std::min(stub_size, setup_compressed), 4096u) << "the layout below needs both larger than 4 KiB";
  const std::uint64_t disk_size = std::max(stub_size, setup_compressed) + 4096;
  // Random bytes grow by an eighth when compressed.
  const Bytes data = RandomBytes(static_cast<std::size_t>((disk_size - 600) * 8 / 9), 11);
  WriteBytes(sources / "data.bin", data);
  for (const char* name : {"qmrsetup.inf", "readme.txt", "data.bin"}) SetLastWriteTime(sources / name, kSourceTime);

  const CommandResult built =
      Pack({"build", "--stub", stub.string(), "--out", launcher_.parent_path().string(), "--setup", setup.string(),
            "--setup-info", (sources / "qmrsetup.inf").string(), "--disk-size", std::to_string(disk_size),
            (sources / "readme.txt").string(), (sources / "data.bin").string()});
  ASSERT_EQ(built.status, 0) << built.output << built.errors;
  EXPECT_EQ(FileNames(launcher_.parent_path()), (std::vector<std::string>{"Disk2", "Disk3", "qmrsfx.exe"}))
      << built.output;

  const CommandResult verified = Pack({"verify", launcher_.string()});
  ASSERT_EQ(verified.status, 0) << verified.output << verified.errors;
  EXPECT_NE(verified.output.find("in 4 entries on 3 volumes"), std::string::npos) << verified.output;
  EXPECT_NE(verified.output.find("\nsound: "), std::string::npos) << verified.output;

  WriteText(launcher_.parent_path() / "qmrpresets.ini", kPresets);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectSetupStarted(launcher_.parent_path());
  if (HasFatalFailure()) return;
  // The other files as qmrpack shipped them, compressed, with their sources' times.
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"data.bi_", "qmrsetup.exe", "qmrsetup.inf", "readme.tx_"}));
  EXPECT_EQ(Expanded(temp_ / "readme.tx_"), ToBytes(readme));
  EXPECT_EQ(Expanded(temp_ / "data.bi_"), data);
  EXPECT_EQ(LastWriteFileTime(temp_ / "readme.tx_"), kSourceFileTime);
  EXPECT_EQ(LastWriteFileTime(temp_ / "data.bi_"), kSourceFileTime);
}

}  // namespace
}  // namespace qmrtest
