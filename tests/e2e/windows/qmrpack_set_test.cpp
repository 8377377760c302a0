// A set made by qmrpack from the Windows launcher, as a distributor makes one: built onto disks
// too small for it, called sound by qmrpack verify, then run under Wine, where the launcher
// follows it across its volumes and hands it to the setup program, and qmrpack extract, on both
// systems, leaves the same files as the launcher. qmrpack.exe under Wine
// writes the same sets and prints the same as qmrpack, and the Windows kit (the zip) makes a
// set with the stub it carries.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "format/filetime.h"
#include "launcher_fixture.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;

const std::string kPack = QMR_QMRPACK_PATH;
const fs::path kZip = QMR_ZIP;
// 2024-05-06 07:08:09 UTC, the sources' last-write time: as POSIX seconds and as a FILETIME.
constexpr std::int64_t kSourceTime = 1714979289;
constexpr std::uint64_t kSourceFileTime = payload::FileTimeFromUnix(kSourceTime);

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

  // qmrpack extract, on Linux and under Wine, leaves what the launcher left: the same names and
  // bytes, the entries' times; the setup information file without the presets.
  for (const bool windows : {false, true}) {
    const fs::path out = ws_.Path(windows ? "extract-windows" : "extract-linux");
    const CommandResult extracted =
        windows ? session_->Run(MingwProgram("qmrpack.exe"), {"extract", "--to", WindowsPath(out), WindowsPath(launcher_)},
                                ws_.root())
                : Pack({"extract", "--to", out.string(), launcher_.string()});
    ASSERT_EQ(extracted.status, 0) << extracted.output << extracted.errors;
    EXPECT_EQ(FileNames(out), FileNames(temp_));
    for (const std::string& name : FileNames(temp_)) {
      SCOPED_TRACE(name + (windows ? " (qmrpack.exe)" : " (qmrpack)"));
      if (name == "qmrsetup.inf") {
        EXPECT_EQ(ReadText(out / name), kSetupInfo);
        continue;
      }
      EXPECT_EQ(ReadBytes(out / name), ReadBytes(temp_ / name));
      if (name != "qmrsetup.exe") {
        EXPECT_EQ(LastWriteFileTime(out / name), LastWriteFileTime(temp_ / name));
      }
    }
  }
}

// Output with the two systems' conventions made one: qmrpack.exe ends its lines in CR LF and
// joins paths with a backslash.
std::string Unixish(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i] == '\\' ? '/' : text[i];
  }
  return out;
}

// The sample set as the demo builds it (its UTF-8 information file converted into code page
// 932), extracted by the launcher and handed to the sample setup program, which reads the
// Japanese name its [Files] lists and finds the file under it.
TEST_F(QmrpackSetTest, AJapaneseNameInFilesReachesTheSampleSetupProgramIntact) {
  const fs::path samples = QMR_SAMPLES_DIR;
  const CommandResult built =
      Pack({"build", "--stub", MingwProgram("qmrsfx.exe").string(), "--out", launcher_.parent_path().string(),
            "--setup", MingwProgram("samples/samplesetup.exe").string(), "--setup-info",
            (samples / "qmrsetup.inf").string(), "--convert-inf", (samples / "readme.txt").string(),
            (samples / "folders.dat").string(), (samples / "ソフト説明.txt").string()});
  ASSERT_EQ(built.status, 0) << built.output << built.errors;
  WriteText(launcher_.parent_path() / "qmrpresets.ini", kPresets);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  // The report's box, read by the window probe (the launcher has ended by then).
  std::string text;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (text.empty() && std::chrono::steady_clock::now() < end) {
    for (const Window& window : session_->ReadWindows())
      if (window.text == "Quillmoor セットアップ (サンプル)" && window.IsMessageBox()) text = window.MessageText();
    if (text.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  session_->Screenshot("sample-setup-report");
  ASSERT_FALSE(text.empty()) << "the sample setup program's report never showed";
  EXPECT_NE(text.find("ソフト説明.tx_ → ソフト説明.txt " + std::to_string(fs::file_size(samples / "ソフト説明.txt")) +
                      " バイト OK"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("POP3Server = pop.example.jp"), std::string::npos) << text;
  EXPECT_NE(text.find("引き継ぎは正常です。"), std::string::npos) << text;
  EXPECT_TRUE(fs::exists(temp_ / "ソフト説明.tx_"));
}

TEST_F(QmrpackSetTest, WindowsQmrpackWritesTheSameSetsAndPrintsTheSameAsLinux) {
  // Inputs in a directory whose name code page 932 cannot write, one of them named in Japanese.
  const std::string src = "src-ü한";
  for (const char* dir : {"in", "src-ü한", "linux", "windows"}) fs::create_directories(ws_.Path(dir));
  fs::copy_file(MingwProgram("qmrsfx.exe"), ws_.Path("in/qmrsfx.exe"));
  fs::copy_file(MingwProgram("tests/e2e/windows/qmrtestsetup.exe"), ws_.Path("in/qmrtestsetup.exe"));
  WriteText(ws_.Path(src + "/qmrsetup.inf"), kSetupInfo);
  WriteText(ws_.Path(src + "/ソフト.txt"), "ソフトウェアの説明\r\n");
  WriteText(ws_.Path(src + "/readme.txt"), "Quillmoor readme\r\n");
  WriteText(ws_.Path(src + "/ü.txt"), "a name code page 932 cannot write");
  // Names that glibc's table writes one way only (as 81 60 and 81 5C, which read back as
  // other characters) beside one that reads back as itself.
  for (const char* name : {"wave〜.txt", "dash—.txt", "wave～.txt"}) WriteText(ws_.Path(src + "/" + name), name);
  WriteBytes(ws_.Path(src + "/data.bin"), RandomBytes(12000, 5));
  for (const char* name : {"qmrsetup.inf", "ソフト.txt", "readme.txt", "data.bin", "wave～.txt"})
    SetLastWriteTime(ws_.Path(src + "/" + name), kSourceTime);
  const std::string disk_size = std::to_string(fs::file_size(ws_.Path("in/qmrsfx.exe")) + 2000);
  const std::string in = "../" + src + "/";

  // Each command run by both from a directory of its own, with the same relative paths; the
  // Windows one in a locale whose code page is not 932.
  const auto both = [&](const std::vector<std::string>& arguments) {
    CommandResult linux_run = RunCommand([&] {
      std::vector<std::string> argv = {kPack};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      return argv;
    }(), {}, ws_.Path("linux"));
    CommandResult windows_run = session_->Run(MingwProgram("qmrpack.exe"), arguments, ws_.Path("windows"),
                                              {{"LANG", "C.UTF-8"}, {"LC_ALL", "C.UTF-8"}});
    EXPECT_EQ(windows_run.status, linux_run.status) << arguments[0] << ": " << windows_run.errors;
    EXPECT_EQ(Unixish(windows_run.output), Unixish(linux_run.output)) << arguments[0];
    EXPECT_EQ(Unixish(windows_run.errors), Unixish(linux_run.errors)) << arguments[0];
    return linux_run;
  };
  const std::vector<std::string> build = {"build", "--stub", "../in/qmrsfx.exe", "--out", "set", "--setup",
                                          "../in/qmrtestsetup.exe", "--setup-info", in + "qmrsetup.inf",
                                          "--disk-size", disk_size, in + "ソフト.txt", in + "readme.txt",
                                          in + "wave～.txt", in + "data.bin"};
  ASSERT_EQ(both(build).status, 0);
  const std::vector<std::string> files = FileNames(ws_.Path("linux/set"));
  ASSERT_EQ(FileNames(ws_.Path("windows/set")), files);
  EXPECT_GE(files.size(), 2u) << "the set spans volumes";
  for (const std::string& name : files)
    EXPECT_EQ(ReadBytes(ws_.Path("windows/set/" + name)), ReadBytes(ws_.Path("linux/set/" + name))) << name;

  std::vector<std::string> volumes;
  for (const std::string& name : files) volumes.push_back("set/" + name);
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{"list"}, std::vector<std::string>{"list", "--json"}}) {
    std::vector<std::string> arguments = command;
    arguments.insert(arguments.end(), volumes.begin(), volumes.end());
    const std::string listed = both(arguments).output;
    EXPECT_NE(listed.find("ソフト.tx_"), std::string::npos);
    EXPECT_NE(listed.find("wave～.tx_"), std::string::npos);
  }
  EXPECT_EQ(both({"verify", "set/qmrsfx.exe"}).status, 0);
  both({"compress", in + "ソフト.txt", "ソフト.tx_"});
  both({"expand", "ソフト.tx_", "ソフト.txt"});
  EXPECT_EQ(ReadText(ws_.Path("windows/ソフト.txt")), ReadText(ws_.Path(src + "/ソフト.txt")));

  // Refusals: the same one line.
  for (const std::string& file : {in + "ü.txt", in + "wave〜.txt", in + "dash—.txt", in + "missing.txt"}) {
    std::vector<std::string> refused = build;
    refused[4] = "refused";
    refused.push_back(file);
    EXPECT_EQ(both(refused).status, 1) << file;
  }
}

TEST_F(QmrpackSetTest, ZipKitBuildsWithTheStubBesideItAndTheLauncherExtractsTheSet) {
  ASSERT_TRUE(fs::exists(kZip)) << kZip << " is missing: cpack --preset mingw makes it";
  fs::create_directories(ws_.Path("kit"));
  const CommandResult unzipped = RunCommand({"cmake", "-E", "tar", "xf", kZip.string()}, {}, ws_.Path("kit"));
  ASSERT_EQ(unzipped.status, 0) << unzipped.errors;
  const fs::path kit = ws_.Path("kit") / kZip.stem();
  EXPECT_EQ(FileNames(kit), (std::vector<std::string>{"README.md", "qmrpack.exe", "qmrsfx.exe"}));

  const fs::path sources = ws_.Path("sources");
  fs::create_directories(sources);
  WriteText(sources / "qmrsetup.inf", kSetupInfo);
  WriteText(sources / "ソフト.txt", "ソフトウェアの説明\r\n");
  const CommandResult built = session_->Run(
      kit / "qmrpack.exe",
      {"build", "--out", WindowsPath(launcher_.parent_path()), "--setup",
       WindowsPath(MingwProgram("tests/e2e/windows/qmrtestsetup.exe")), "--setup-info",
       WindowsPath(sources / "qmrsetup.inf"), WindowsPath(sources / "ソフト.txt")},
      ws_.root());
  ASSERT_EQ(built.status, 0) << built.output << built.errors;
  EXPECT_EQ(built.errors, "qmrpack: using the installed Windows launcher stub " + WindowsPath(kit / "qmrsfx.exe") + "\r\n");
  EXPECT_EQ(FileNames(launcher_.parent_path()), (std::vector<std::string>{"qmrsfx.exe"}));

  WriteText(launcher_.parent_path() / "qmrpresets.ini", kPresets);
  StartLauncher();
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectSetupStarted(launcher_.parent_path());
  if (HasFatalFailure()) return;
  EXPECT_EQ(FileNames(temp_), (std::vector<std::string>{"qmrsetup.exe", "qmrsetup.inf", "ソフト.tx_"}));
  EXPECT_EQ(Expanded(temp_ / "ソフト.tx_"), ToBytes("ソフトウェアの説明\r\n"));
}

}  // namespace
}  // namespace qmrtest
