// qmrpack as a distributor runs it: a set built from the real Linux launcher and the sample
// setup program, extracted by the real launcher; the command's answers to bad input; the
// release .deb installed into a throwaway root and used as installed.
#include <unistd.h>

#include <algorithm>
#include <gtest/gtest.h>

#include "command.h"
#include "support/minimal_stubs.h"
#include "support/signing.h"
#include "support/workspace.h"
#include "szdd/szdd.h"

namespace qmrtest {
namespace {

const std::string kPack = QMR_QMRPACK_PATH;
const std::filesystem::path kSamples = QMR_SAMPLES_DIR;

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

class PackEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::create_directories(ws_.Path("tmp")); }

  // qmrpack build of the sample set from the Linux launcher, in volumes too small to hold
  // the whole set, so it goes on to Disk2.
  CommandResult Build(std::vector<std::string> extra = {}) {
    // Each disk holds the larger of the launcher and the compressed setup program, and 2000
    // bytes more: volume 1 then has room for the setup information file only.
    const std::string compressed = ws_.Path("setup.ex_").string();
    RunCommand({kPack, "compress", "--force", QMR_SAMPLE_SETUP_PATH, compressed});
    const auto stub_size = std::max(std::filesystem::file_size(QMR_LAUNCHER_PATH), std::filesystem::file_size(compressed));
    std::vector<std::string> argv = {kPack, "build", "--stub", QMR_LAUNCHER_PATH, "--out", ws_.Path("set").string(),
                                     "--setup", QMR_SAMPLE_SETUP_PATH, "--setup-info",
                                     (kSamples / "qmrsetup.inf").string(), "--disk-size",
                                     std::to_string(stub_size + 2000)};
    argv.insert(argv.end(), extra.begin(), extra.end());
    for (const char* file : {"readme.txt", "folders.dat", "ソフト説明.txt"}) argv.push_back((kSamples / file).string());
    return RunCommand(argv);
  }

  Workspace ws_;
};

TEST_F(PackEndToEnd, BuiltSetIsVerifiedExtractedAndHandedToTheSampleSetupProgram) {
  const CommandResult build = Build();
  ASSERT_EQ(build.exit_code, 0) << build.err;
  EXPECT_EQ(FileNames(ws_.Path("set")), (std::vector<std::string>{"Disk2", "qmrsfx"}));
  const CommandResult verify = RunCommand({kPack, "verify", ws_.Path("set/qmrsfx").string()});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_NE(verify.out.find("sound: the launcher can extract this set"), std::string::npos) << verify.out;

  WriteText(ws_.Path("set/qmrpresets.ini"), "[Account]\r\nPOP3Server=pop.example.jp\r\nSMTPServer=smtp.example.jp\r\n");
  // Standard output is the sample setup program's: the launcher exits, the program reports.
  const CommandResult run =
      RunCommand({ws_.Path("set/qmrsfx").string()}, "y\n", {{"TMPDIR", ws_.Path("tmp").string()}}, ws_.root());
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.err.find("[error]"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("100%"), std::string::npos) << run.err;
  const std::string& report = run.out;
  EXPECT_NE(report.find("起動されたプログラム: " + ws_.Path("tmp/qmrsetup.exe").string()), std::string::npos) << report;
  EXPECT_NE(report.find("POP3Server = pop.example.jp\n  SMTPServer = smtp.example.jp\n"), std::string::npos) << report;
  EXPECT_NE(report.find("readme.tx_  → readme.txt  " + std::to_string(std::filesystem::file_size(kSamples / "readme.txt")) +
                        " バイト OK"),
            std::string::npos)
      << report;
  // A Japanese name in [Files] reaches the setup program as the set holds it.
  EXPECT_NE(report.find("ソフト説明.tx_ → ソフト説明.txt " +
                        std::to_string(std::filesystem::file_size(kSamples / "ソフト説明.txt")) + " バイト OK"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("引き継ぎは正常です。"), std::string::npos) << report;

  EXPECT_EQ(FileNames(ws_.Path("tmp")), (std::vector<std::string>{"folders.da_", "qmrsetup.exe", "qmrsetup.inf",
                                                                  "readme.tx_", "ソフト説明.tx_"}));
  const Bytes shipped = ReadBytes(ws_.Path("tmp/folders.da_"));
  Bytes expanded;
  ASSERT_EQ(szdd::ExpandBuffer(shipped.data(), shipped.size(), &expanded).status, szdd::Status::kOk);
  EXPECT_EQ(expanded, ReadBytes(kSamples / "folders.dat"));
  EXPECT_EQ(shipped[9], 't');  // the header restores "folders.dat"
  EXPECT_EQ(LastWriteFileTime(ws_.Path("tmp/folders.da_")), LastWriteFileTime(kSamples / "folders.dat"));
  EXPECT_EQ(ReadBytes(ws_.Path("tmp/qmrsetup.exe")), ReadBytes(QMR_SAMPLE_SETUP_PATH));

  // qmrpack extract leaves what the launcher left: the same names and bytes, the entries'
  // times; the setup information file without the presets, which extract does not write.
  const CommandResult extract =
      RunCommand({kPack, "extract", "--to", ws_.Path("x").string(), ws_.Path("set/qmrsfx").string()});
  ASSERT_EQ(extract.exit_code, 0) << extract.err;
  EXPECT_EQ(FileNames(ws_.Path("x")), FileNames(ws_.Path("tmp")));
  for (const std::string& name : FileNames(ws_.Path("tmp"))) {
    if (name == "qmrsetup.inf") {
      EXPECT_EQ(ReadBytes(ws_.Path("x/qmrsetup.inf")), ReadBytes(kSamples / "qmrsetup.inf"));
      continue;
    }
    EXPECT_EQ(ReadBytes(ws_.Path("x/" + name)), ReadBytes(ws_.Path("tmp/" + name))) << name;
    if (name != "qmrsetup.exe") {
      EXPECT_EQ(LastWriteFileTime(ws_.Path("x/" + name)), LastWriteFileTime(ws_.Path("tmp/" + name))) << name;
    }
  }

  // A missing volume is an error that names it, with no prompt; what was extracted goes again.
  std::filesystem::remove(ws_.Path("set/Disk2"));
  const CommandResult missing =
      RunCommand({kPack, "extract", "--to", ws_.Path("y").string(), ws_.Path("set/qmrsfx").string()});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.err.find("qmrsfx: Disk2 is missing beside the launcher"), std::string::npos) << missing.err;
  EXPECT_EQ(FileNames(ws_.Path("y")), std::vector<std::string>{});
}

TEST_F(PackEndToEnd, ListShowsEveryVolumeAndVerifyNamesDamage) {
  ASSERT_EQ(Build().exit_code, 0);
  const CommandResult json =
      RunCommand({kPack, "list", "--json", ws_.Path("set/qmrsfx").string(), ws_.Path("set/Disk2").string()});
  EXPECT_EQ(json.exit_code, 0);
  const std::string info_size = std::to_string(std::filesystem::file_size(kSamples / "qmrsetup.inf"));
  for (const std::string& part : {std::string("\"kind\": \"launcher\""), std::string("\"stub\": \"linux\""),
                                  std::string("\"volume\": 2, \"name\": \"readme.tx_\""),
                                  "\"szdd\": true, \"expanded_size\": " + info_size + "}"})
    EXPECT_NE(json.out.find(part), std::string::npos) << part << "\n" << json.out;

  // The name column is as wide as "ソフト説明.tx_" shows (14 columns), not as its 19 bytes.
  const CommandResult list = RunCommand({kPack, "list", ws_.Path("set/Disk2").string()});
  EXPECT_NE(list.out.find("  volume  name" + std::string(10, ' ') + "        size"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("  2       qmrsetup.ex_    "), std::string::npos) << list.out;

  Bytes disk2 = ReadBytes(ws_.Path("set/Disk2"));
  disk2.resize(disk2.size() - 1);
  WriteBytes(ws_.Path("set/Disk2"), disk2);
  const CommandResult verify = RunCommand({kPack, "verify", ws_.Path("set/qmrsfx").string()});
  EXPECT_EQ(verify.exit_code, 1);
  EXPECT_NE(verify.out.find("error: volume 2 (Disk2): the volume ends inside the data of entry 4"), std::string::npos)
      << verify.out;
  EXPECT_NE(verify.out.find("unsound: 1 error"), std::string::npos) << verify.out;
  EXPECT_EQ(RunCommand({kPack, "list", ws_.Path("set/Disk2").string()}).exit_code, 1);
}

TEST_F(PackEndToEnd, BadInputGetsOneLineAndLeavesNoOutput) {
  const std::string readme = (kSamples / "readme.txt").string();
  WriteText(ws_.Path("con.txt"), "device");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{ws_.Path("missing.txt").string()}, "missing.txt: No such file or directory"},
      {{ws_.Path("con.txt").string()}, "\"con.tx_\" is a device name; the launcher would refuse it"},
      {{"--disk-size", "1000"}, "do not fit a disk of 1000 bytes"},
      {{"--version", "far-too-long-version"}, "the launcher holds at most 15"},
  };
  for (const auto& [arguments, message] : cases) {
    std::vector<std::string> argv = {kPack,   "build", "--stub", QMR_LAUNCHER_PATH, "--out", ws_.Path("out/set").string(),
                                     "--setup", readme, "--setup-info", readme};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const CommandResult result = RunCommand(argv);
    EXPECT_EQ(result.exit_code, 1) << message;
    EXPECT_EQ(Lines(result.err), 1u) << result.err;
    EXPECT_EQ(result.err.rfind("qmrpack: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
    EXPECT_FALSE(std::filesystem::exists(ws_.Path("out"))) << message;
  }
  const CommandResult usage = RunCommand({kPack, "build", "--stub"});
  EXPECT_EQ(usage.exit_code, 2);
  EXPECT_EQ(usage.err, "qmrpack: build: --stub needs a value (qmrpack help shows the usage)\n");

  ASSERT_EQ(Build().exit_code, 0);
  const CommandResult again = Build({"--version", "2.0"});
  EXPECT_EQ(again.exit_code, 1);
  EXPECT_NE(again.err.find("already holds a set (Disk2); use --force to replace it"), std::string::npos) << again.err;
  EXPECT_EQ(Build({"--version", "2.0", "--force"}).exit_code, 0);
  EXPECT_NE(RunCommand({kPack, "list", ws_.Path("set/qmrsfx").string()}).out.find("version 2.0"), std::string::npos);
}

// dpkg -i of the release .deb into a root of its own: an empty package database, the package's
// files under <root>/usr. Dependencies are the host's (--force-depends: the root holds no libc).
std::filesystem::path InstallPackage(const Workspace& ws) {
  const std::filesystem::path root = ws.Path("root");
  for (const char* dir : {"var/lib/dpkg/info", "var/lib/dpkg/updates", "var/lib/dpkg/triggers"})
    std::filesystem::create_directories(root / dir);
  WriteText(root / "var/lib/dpkg/status", "");
  WriteText(root / "var/lib/dpkg/available", "");
  std::vector<std::string> argv = {"/usr/bin/dpkg", "--root=" + root.string(), "--log=/dev/null", "--force-depends", "-i", QMR_DEB};
  if (geteuid() != 0) argv.insert(argv.begin() + 1, "--force-not-root");
  const CommandResult installed = RunCommand(argv);
  if (installed.exit_code != 0) throw std::runtime_error("dpkg -i failed: " + installed.out + installed.err);
  return root;
}

TEST_F(PackEndToEnd, InstalledPackageBuildsWithItsOwnWindowsStubAndDocumentsEveryCommand) {
  ASSERT_TRUE(std::filesystem::exists(QMR_DEB)) << QMR_DEB << " is missing: cpack --preset release makes it";
  const std::filesystem::path root = InstallPackage(ws_);
  const std::string qmrpack = (root / "usr/bin/qmrpack").string();
  const std::filesystem::path stubs = root / "usr/share/qmrpack";
  EXPECT_EQ(FileNames(stubs), (std::vector<std::string>{"qmrsfx.exe"}));
  // The Linux stub is of this architecture: under lib/, where Debian keeps such files.
  const std::filesystem::path linux_stub = root / "usr/lib/qmrpack/qmrsfx";
  // Optimised and stripped: a fraction of the debug build's size.
  EXPECT_LT(std::filesystem::file_size(qmrpack), std::filesystem::file_size(kPack) / 2);

  const std::string readme = (kSamples / "readme.txt").string();
  const std::string info = (kSamples / "qmrsetup.inf").string();
  // The sample information file is UTF-8: refused for the Windows stub in one line (the
  // installed stub is named only when a build goes ahead), converted with --convert-inf.
  const CommandResult refused = RunCommand({qmrpack, "build", "--out", ws_.Path("set").string(), "--setup", readme,
                                            "--setup-info", info, readme});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(Lines(refused.err), 1u) << refused.err;
  EXPECT_NE(refused.err.find("is UTF-8, not code page 932"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("or give --convert-inf"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("set")));
  const CommandResult built = RunCommand({qmrpack, "build", "--convert-inf", "--out", ws_.Path("set").string(),
                                          "--setup", readme, "--setup-info", info, readme});
  ASSERT_EQ(built.exit_code, 0) << built.err;
  EXPECT_EQ(built.err, "qmrpack: using the installed Windows launcher stub " + (stubs / "qmrsfx.exe").string() + "\n");
  const CommandResult quiet = RunCommand({qmrpack, "build", "--quiet", "--force", "--convert-inf", "--out",
                                          ws_.Path("set").string(), "--setup", readme, "--setup-info", info, readme});
  EXPECT_EQ(quiet.exit_code, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, built.out);
  const CommandResult verified = RunCommand({qmrpack, "verify", ws_.Path("set/qmrsfx.exe").string()});
  EXPECT_EQ(verified.exit_code, 0) << verified.out;
  EXPECT_NE(verified.out.find("(Windows), version \"1.13a\", names in code page 932"), std::string::npos) << verified.out;
  EXPECT_EQ(verified.out.find("(the setup information file) is"), std::string::npos) << verified.out;

  // The installed Linux stub is a launcher too: a set of it extracts.
  const CommandResult linux_set = RunCommand({qmrpack, "build", "--stub", linux_stub.string(), "--out",
                                              ws_.Path("linux").string(), "--setup", QMR_SAMPLE_SETUP_PATH,
                                              "--setup-info", info, "--disk-size", "10000000", readme});
  ASSERT_EQ(linux_set.exit_code, 0) << linux_set.err;
  EXPECT_EQ(linux_set.err, "");
  const CommandResult run =
      RunCommand({ws_.Path("linux/qmrsfx").string()}, "y\n", {{"TMPDIR", ws_.Path("tmp").string()}}, ws_.root());
  EXPECT_NE(run.out.find("起動されたプログラム: " + ws_.Path("tmp/qmrsetup.exe").string()), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("readme.tx_  → readme.txt  " + std::to_string(std::filesystem::file_size(readme)) + " バイト OK"),
            std::string::npos)
      << run.out;

  // Without an installed stub, build says where it looked, and the usage says --stub.
  std::filesystem::remove(stubs / "qmrsfx.exe");
  const CommandResult unstubbed = RunCommand({qmrpack, "build", "--out", ws_.Path("none").string(), "--setup", readme,
                                              "--setup-info", info});
  EXPECT_EQ(unstubbed.exit_code, 1);
  EXPECT_EQ(unstubbed.err, "qmrpack: build: no --stub given, and no installed launcher stub at " +
                               (stubs / "qmrsfx.exe").string() + "\n");

  // The manual page is the usage text: every command of `qmrpack help` is in it.
  const std::string page = RunCommand({"/bin/gzip", "-dc", (root / "usr/share/man/man1/qmrpack.1.gz").string()}).out;
  EXPECT_EQ(page.rfind(".TH QMRPACK 1 ", 0), 0u) << page;
  const std::string usage = RunCommand({qmrpack, "help"}).out;
  for (const char* command : {"build", "list", "verify", "compress", "expand"}) {
    EXPECT_NE(usage.find(std::string("  qmrpack ") + command), std::string::npos) << command;
    EXPECT_NE(page.find(std::string(".B qmrpack ") + command), std::string::npos) << command << "\n" << page;
  }
  EXPECT_NE(page.find("\\-\\-disk\\-size"), std::string::npos) << page;
  EXPECT_EQ(FileNames(root / "usr/share/doc/qmrpack"), (std::vector<std::string>{"README.md", "changelog.gz", "copyright"}));
}

// Sets built from the Windows launcher and signed after building, as a distributor signs them.
class SignedSetEndToEnd : public PackEndToEnd {
 protected:
  void SetUp() override {
    PackEndToEnd::SetUp();
    ASSERT_EQ(RunCommand(MakeCertificateCommand(ws_.root())).exit_code, 0) << "openssl could not make a certificate";
    WriteText(ws_.Path("qmrsetup.inf"), "[Account]\r\nPOP3Server=\r\n");
  }

  // Builds a set from the Windows launcher (which serves as its setup program too) into `dir`,
  // with `filler` stored random bytes after the setup files.
  CommandResult BuildWindows(const std::string& dir, std::size_t filler, std::uint64_t disk_size = 1 << 20) {
    WriteBytes(ws_.Path("filler.bin"), RandomBytes(filler, 5));
    return RunCommand({kPack, "build", "--stub", kWindowsLauncher, "--out", ws_.Path(dir).string(), "--setup",
                       kWindowsLauncher, "--setup-info", ws_.Path("qmrsetup.inf").string(), "--disk-size",
                       std::to_string(disk_size), "--store", ws_.Path("filler.bin").string()});
  }

  // Signs a launcher in place; returns osslsigncode's exit code.
  int Sign(const std::filesystem::path& launcher, const std::string& digest = "sha256", bool nest = false) {
    const std::filesystem::path out = launcher.string() + ".signed";
    const int status = RunCommand(SignCommand(ws_.root(), launcher, out, digest, nest)).exit_code;
    std::filesystem::rename(out, launcher);
    return status;
  }

  const std::string kWindowsLauncher = QMR_WINDOWS_LAUNCHER_PATH;
};

TEST_F(SignedSetEndToEnd, ListAndVerifyReadASignedLauncherAsTheLauncherDoes) {
  // A setup program that does not fit beside the stub: the set goes on to Disk2.
  const auto stub_size = std::filesystem::file_size(kWindowsLauncher);
  ASSERT_EQ(BuildWindows("set", 3000, stub_size + 4000).exit_code, 0);
  ASSERT_TRUE(std::filesystem::exists(ws_.Path("set/Disk2")));
  const std::filesystem::path launcher = ws_.Path("set/qmrsfx.exe");
  const auto unsigned_size = std::filesystem::file_size(launcher);
  const CommandResult unsigned_list = RunCommand({kPack, "list", launcher.string()});
  ASSERT_EQ(Sign(launcher), 0);
  const CommandResult checked = RunCommand(VerifySignatureCommand(ws_.root(), launcher));
  EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;
  EXPECT_NE(checked.out.find("Signature verification: ok"), std::string::npos) << checked.out;

  const auto [table, table_size] = SecurityDirectoryOf(ReadBytes(launcher));
  EXPECT_EQ(table, (unsigned_size + 7) / 8 * 8) << "the table follows volume 1 on the 8-byte boundary";
  const std::string located = "certificate table at offset " + std::to_string(table) + ", " +
                              std::to_string(table_size) + " bytes";
  const CommandResult verify = RunCommand({kPack, "verify", launcher.string()});
  EXPECT_EQ(verify.exit_code, 0) << verify.out;
  EXPECT_NE(verify.out.find("\nsigned: " + located + ", where volume 1 ends"), std::string::npos) << verify.out;
  const CommandResult list = RunCommand({kPack, "list", launcher.string()});
  EXPECT_EQ(list.exit_code, 0) << list.out;
  const std::size_t head_end = unsigned_list.out.find('\n');
  EXPECT_EQ(list.out, unsigned_list.out.substr(0, head_end) + ", signed (" + located + ")" +
                          unsigned_list.out.substr(head_end))
      << "the same entries, the table not among them";
  EXPECT_NE(RunCommand({kPack, "list", "--json", launcher.string()})
                .out.find("\"certificate_table\": {\"offset\": " + std::to_string(table) + ", \"size\": "),
            std::string::npos);

  // A second signature nested in the first: both verify, and the set still reads whole.
  ASSERT_EQ(BuildWindows("nested", 3000, stub_size + 4000).exit_code, 0);
  const std::filesystem::path nested = ws_.Path("nested/qmrsfx.exe");
  ASSERT_EQ(Sign(nested, "sha1"), 0);
  ASSERT_EQ(Sign(nested, "sha256", true), 0);
  const CommandResult both = RunCommand(VerifySignatureCommand(ws_.root(), nested));
  EXPECT_EQ(both.exit_code, 0) << both.out << both.err;
  EXPECT_NE(both.out.find("Number of verified signatures: 2"), std::string::npos) << both.out;
  EXPECT_EQ(RunCommand({kPack, "verify", nested.string()}).exit_code, 0);

  // A signed launcher is no stub: stamping it would break its signature.
  const CommandResult refused = RunCommand({kPack, "build", "--stub", launcher.string(), "--out",
                                            ws_.Path("again").string(), "--setup", kWindowsLauncher, "--setup-info",
                                            ws_.Path("qmrsetup.inf").string()});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("is signed"), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("sign the set's launcher after building"), std::string::npos) << refused.err;
  EXPECT_FALSE(std::filesystem::exists(ws_.Path("again")));

  // A directory that lies: the launcher would fail, and both commands say so.
  Bytes lying = ReadBytes(launcher);
  SetSecurityDirectory(&lying, table, table_size + 8);
  WriteBytes(launcher, lying);
  const CommandResult damaged = RunCommand({kPack, "verify", launcher.string()});
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.out.find("error: the security directory's certificate table (offset " + std::to_string(table) +
                             ", " + std::to_string(table_size + 8) + " bytes) runs past the end of the file"),
            std::string::npos)
      << damaged.out;
  const CommandResult listed = RunCommand({kPack, "list", launcher.string()});
  EXPECT_EQ(listed.exit_code, 1);
  EXPECT_NE(listed.out.find("  damaged: the security directory's"), std::string::npos) << listed.out;
}

TEST_F(SignedSetEndToEnd, TheSignersAlignmentOfZeroToSevenBytesIsNoEntry) {
  // Volume 1 alone; its filler sized so that the signer pads 0 and then 7 bytes.
  ASSERT_EQ(BuildWindows("probe", 100).exit_code, 0);
  const auto probe = std::filesystem::file_size(ws_.Path("probe/qmrsfx.exe"));
  for (const std::size_t padding : {0, 7}) {
    SCOPED_TRACE(padding);
    const std::size_t size_mod_8 = (8 - padding) % 8;  // what the launcher's size leaves over 8-byte units
    const std::size_t filler = 100 + (size_mod_8 + 8 - probe % 8) % 8;
    const std::string dir = "pad" + std::to_string(padding);
    ASSERT_EQ(BuildWindows(dir, filler).exit_code, 0);
    const std::filesystem::path launcher = ws_.Path(dir + "/qmrsfx.exe");
    const auto unsigned_size = std::filesystem::file_size(launcher);
    ASSERT_EQ(Sign(launcher), 0);
    EXPECT_EQ(SecurityDirectoryOf(ReadBytes(launcher)).first - unsigned_size, padding);
    const CommandResult verify = RunCommand({kPack, "verify", launcher.string()});
    EXPECT_EQ(verify.exit_code, 0) << verify.out;
    EXPECT_NE(verify.out.find("3 entries on 1 volume"), std::string::npos) << verify.out;
  }
}

TEST_F(PackEndToEnd, HelpAndVersionGoToStandardOutputAndExitZero) {
  const std::vector<std::string> commands = {"build", "list", "verify", "compress", "expand"};
  for (const char* help : {"help", "--help", "-h"}) {
    SCOPED_TRACE(help);
    const CommandResult result = RunCommand({kPack, help});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("Usage: qmrpack COMMAND", 0), 0u) << result.out;
    for (const std::string& command : commands)
      EXPECT_NE(result.out.find("\n  qmrpack " + command + " "), std::string::npos) << command;
  }
  // A command's own --help shows its usage alone, whatever else is on the line.
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const CommandResult result = RunCommand({kPack, command, "--help", "--no-such-option"});
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out.rfind("  qmrpack " + command + " ", 0), 0u) << result.out;
    EXPECT_EQ(result.out.find("Usage:"), std::string::npos) << result.out;
    EXPECT_EQ(RunCommand({kPack, "help", command}).out, result.out) << "help COMMAND shows the same";
  }
  EXPECT_EQ(RunCommand({kPack, "help", "nosuch"}).exit_code, 2);

  // The version is the launcher's own, as its version resource carries it.
  ASSERT_EQ(Build().exit_code, 0);
  const std::string listed = RunCommand({kPack, "list", "--json", ws_.Path("set/qmrsfx").string()}).out;
  const std::size_t at = listed.find("\"version\": \"");
  ASSERT_NE(at, std::string::npos) << listed;
  const std::string version = listed.substr(at + 12, listed.find('"', at + 12) - at - 12);
  const CommandResult shown = RunCommand({kPack, "--version"});
  EXPECT_EQ(shown.exit_code, 0);
  EXPECT_EQ(shown.out, "qmrpack " + version + "\n");
  EXPECT_EQ(shown.err, "");

  for (const std::vector<std::string>& wrong : {std::vector<std::string>{kPack}, {kPack, "bogus"}, {kPack, "-x"}}) {
    const CommandResult result = RunCommand(wrong);
    EXPECT_EQ(result.exit_code, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(Lines(result.err), 1u) << result.err;
  }
}

}  // namespace
}  // namespace qmrtest
