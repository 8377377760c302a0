// qmrpack: makes, lists and checks launcher sets, and compresses and expands SZDD files.
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "format/layout.h"
#include "pack/builder.h"
#include "pack/columns.h"
#include "pack/files.h"
#include "pack/main.h"
#include "pack/paths.h"
#include "pack/reading.h"
#include "szdd/szdd.h"

namespace {

namespace fs = std::filesystem;
using pack::PackError;

// The version of the launcher qmrpack makes sets for: the resource script's product version.
const char kVersion[] = QMR_VERSION;

const char kUsageHead[] =
    "Usage: qmrpack COMMAND [OPTION]... [ARGUMENT]...\n"
    "Makes, lists, checks and extracts sets for the Quillmoor setup launcher.\n"
    "\n";
const char kUsageTail[] =
    "  qmrpack help [COMMAND], qmrpack --help, qmrpack COMMAND --help\n"
    "      Shows this text, or one command's.\n"
    "  qmrpack --version\n"
    "\n"
    "Exit status: 0 on success, 1 on failure or an unsound set, 2 on a usage error.\n";

// A usage error: told in one line with a pointer to the usage text, exit status 2.
struct UsageError {
  std::string text;
};

// `qmrpack COMMAND --help`: the command's usage goes to standard output.
struct HelpRequest {};

// The command line of one command: its options (a flag with an empty value) and its other arguments.
struct Arguments {
  std::map<std::string, std::string> options;
  std::vector<std::string> files;

  bool flag(const std::string& name) const { return options.count(name) != 0; }
  std::optional<std::string> value(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? std::nullopt : std::make_optional(it->second);
  }
  std::string required(const std::string& command, const std::string& name) const {
    const auto v = value(name);
    if (!v) throw UsageError{command + ": --" + name + " is missing"};
    return *v;
  }
};

// Parses the arguments after the command. `known` names its options, a valued one followed by
// '=' ("out="); the others number from files.first to files.second, else `miscount` is told.
Arguments ParseArguments(const std::string& command, int argc, char** argv, const std::vector<std::string>& known,
                         std::pair<std::size_t, std::size_t> files = {0, SIZE_MAX}, const char* miscount = "") {
  const auto knows = [&](const std::string& option) {
    return std::find(known.begin(), known.end(), option) != known.end();
  };
  Arguments args;
  bool options_done = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_done || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      args.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "--help") throw HelpRequest{};
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
    if (knows(name + "=")) {
      if (eq == std::string::npos && i + 1 >= argc) throw UsageError{command + ": --" + name + " needs a value"};
      const std::string value = eq == std::string::npos ? argv[++i] : arg.substr(eq + 1);
      if (!args.options.emplace(name, value).second) throw UsageError{command + ": --" + name + " is given twice"};
    } else if (knows(name) && eq == std::string::npos) {
      args.options[name];
    } else {
      throw UsageError{command + ": unknown option " + arg};
    }
  }
  if (args.files.size() < files.first || args.files.size() > files.second) throw UsageError{command + ": " + miscount};
  return args;
}

std::uint64_t ParseDiskSize(const std::string& text) {
  std::uint64_t value = 0;
  if (text.empty() || text.size() > 12) throw UsageError{"build: --disk-size takes a number of bytes"};
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size())
    throw UsageError{"build: --disk-size takes a number of bytes, not \"" + text + "\""};
  if (value == 0) throw UsageError{"build: --disk-size must be more than 0"};
  return value;
}

// Shows each step of a pack that takes more than a second in place on a terminal; prints
// nothing elsewhere, nor when asked to be quiet.
class TerminalProgress : public pack::Progress {
 public:
  explicit TerminalProgress(bool quiet) : on_terminal_(!quiet && isatty(STDERR_FILENO) == 1) {}
  ~TerminalProgress() override {
    if (shown_) std::fprintf(stderr, "\r\033[K");
  }
  void Step(std::size_t done, std::size_t total, const std::string& what) override {
    if (!on_terminal_ || std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", done + 1 > total ? total : done + 1, total, what.c_str());
    std::fflush(stderr);
    shown_ = true;
  }
 private:
  bool on_terminal_;
  bool shown_ = false;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

int Build(int argc, char** argv) {
  const Arguments args = ParseArguments("build", argc, argv,
                                        {"stub=", "out=", "setup=", "setup-info=", "version=", "disk-size=", "store",
                                         "force", "quiet", "convert-inf"});
  pack::BuildOptions options;
  const bool quiet = args.flag("quiet");
  options.stub = pack::StubOption(args.value("stub"));
  options.out_dir = pack::PathFromUtf8(args.required("build", "out"));
  options.setup_program = pack::PathFromUtf8(args.required("build", "setup"));
  options.setup_info = pack::PathFromUtf8(args.required("build", "setup-info"));
  options.version = args.value("version");
  if (const auto size = args.value("disk-size")) options.disk_size = ParseDiskSize(*size);
  options.store = args.flag("store");
  options.force = args.flag("force");
  options.convert_info = args.flag("convert-inf");
  for (const std::string& file : args.files) options.files.push_back(pack::PathFromUtf8(file));

  // The progress line is cleared before anything else is printed.
  const pack::BuildResult result = [&] {
    TerminalProgress progress(quiet);
    return pack::BuildSet(options, &progress);
  }();
  // Told only once the build has gone ahead: a refusal stays one line.
  if (!args.value("stub") && !quiet)
    std::fprintf(stderr, "qmrpack: using the installed Windows launcher stub %s\n", pack::PathText(options.stub).c_str());
  const pack::CodePage code_page = pack::CodePageOf(result.stub_kind);
  int width = 0;
  for (const fs::path& file : result.files) width = std::max(width, static_cast<int>(pack::PathText(file).size()));
  for (std::size_t v = 0; v < result.layout.volumes.size(); ++v) {
    const fs::path& file = result.files[v];
    std::string names;
    for (std::size_t index : result.layout.volumes[v]) names += " " + pack::ToUtf8(result.entries[index].name, code_page);
    if (names.empty()) names = " (the set total alone)";
    // cppcheck-suppress invalidPrintfArgType_uint ; file_sizes holds std::uintmax_t, which %ju takes
    std::printf("%-*s  volume %zu  %9ju bytes %s\n", width, pack::PathText(file).c_str(), v + 1, result.file_sizes[v],
                names.c_str());
  }
  std::printf("set total %d bytes in %zu entries on %zu volume%s\n", result.layout.set_total, result.entries.size(),
              result.layout.volumes.size(), result.layout.volumes.size() == 1 ? "" : "s");
  for (const std::string& warning : result.warnings) std::fprintf(stderr, "qmrpack: warning: %s\n", warning.c_str());
  return 0;
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    // A control character as \u00XX, a quote or backslash after a backslash, any other byte as it is.
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, c < 0x20 ? "\\u%04x" : c == '"' || c == '\\' ? "\\%c" : "%c", c);
    out += escaped;
  }
  return out + "\"";
}

std::string ListJson(const std::vector<pack::ListedFile>& listed) {
  std::string out = "{\"files\": [";
  for (std::size_t f = 0; f < listed.size(); ++f) {
    const pack::ListedFile& item = listed[f];
    out += f ? ",\n  " : "\n  ";
    out += "{\"file\": " + JsonString(pack::PathText(item.path));
    out += ", \"kind\": " + std::string(item.is_launcher ? "\"launcher\"" : "\"volume\"");
    if (item.is_launcher) {
      out += ", \"stub\": " + std::string(item.stub.kind == pack::StubKind::kWindows ? "\"windows\"" : "\"linux\"");
      out += ", \"version\": " + JsonString(pack::ToUtf8(item.stub.version, pack::CodePageOf(item.stub.kind)));
      out += ", \"payload_offset\": " + std::to_string(item.stub.payload_offset);
      const payload::SecurityDirectory& table = item.volume_end.table;
      out += ", \"certificate_table\": " +
             (item.volume_end.kind == payload::VolumeEndKind::kCertificateTable
                  ? "{\"offset\": " + std::to_string(table.offset) + ", \"size\": " + std::to_string(table.size) + "}"
                  : std::string("null"));
    }
    out += ", \"volume\": " + (item.volume ? std::to_string(item.volume) : "null");
    out += ", \"set_total\": " + (item.has_set_total ? std::to_string(item.set_total) : "null");
    out += ", \"damage\": " + (item.damage.empty() ? "null" : JsonString(item.damage));
    out += ", \"entries\": [";
    for (std::size_t e = 0; e < item.entries.size(); ++e) {
      const pack::ListedEntry& entry = item.entries[e];
      out += e ? ",\n    " : "\n    ";
      out += "{\"volume\": " + (item.volume ? std::to_string(item.volume) : "null");
      out += ", \"name\": " + JsonString(entry.display_name);
      out += ", \"size\": " + std::to_string(entry.size);
      out += ", \"time\": " + JsonString(pack::IsoTime(entry.filetime));
      out += ", \"filetime\": " + std::to_string(entry.filetime);
      out += ", \"szdd\": " + std::string(entry.szdd ? "true" : "false");
      out += ", \"expanded_size\": " + (entry.szdd ? std::to_string(entry.expanded_size) : "null") + "}";
    }
    out += item.entries.empty() ? "]}" : "\n  ]}";
  }
  return out + "\n]}\n";
}

void PrintListed(const pack::ListedFile& item) {
  std::string head = pack::PathText(item.path) + ": ";
  if (item.is_launcher) {
    head += std::string("launcher (") + (item.stub.kind == pack::StubKind::kWindows ? "Windows" : "Linux") +
            "), version " + pack::ToUtf8(item.stub.version, pack::CodePageOf(item.stub.kind)) +
            ", volume 1 at offset " + std::to_string(item.stub.payload_offset);
  } else {
    head += item.volume ? "volume " + std::to_string(item.volume) : std::string("volume file");
  }
  if (item.has_set_total) head += ", set total " + std::to_string(item.set_total);
  if (item.volume_end.kind == payload::VolumeEndKind::kCertificateTable)
    head += ", signed (certificate table at offset " + std::to_string(item.volume_end.table.offset) + ", " +
            std::to_string(item.volume_end.table.size) + " bytes)";
  std::printf("%s\n", head.c_str());
  // The name column is padded by display width: a Japanese name keeps the columns in line.
  std::size_t width = 4;
  for (const pack::ListedEntry& entry : item.entries) width = std::max(width, pack::DisplayWidth(entry.display_name));
  std::printf("  %-6s  %s  %10s  %-20s  %s\n", "volume", pack::PadToWidth("name", width).c_str(), "size", "time (UTC)",
              "data");
  for (const pack::ListedEntry& entry : item.entries) {
    const std::string volume = item.volume ? std::to_string(item.volume) : "?";
    const std::string data = entry.szdd ? "SZDD, expands to " + std::to_string(entry.expanded_size) : "stored";
    std::printf("  %-6s  %s  %10d  %-20s  %s\n", volume.c_str(), pack::PadToWidth(entry.display_name, width).c_str(),
                entry.size, pack::IsoTime(entry.filetime).c_str(), data.c_str());
  }
  if (!item.damage.empty()) std::printf("  damaged: %s\n", item.damage.c_str());
}

int List(int argc, char** argv) {
  const Arguments args = ParseArguments("list", argc, argv, {"json"}, {1, SIZE_MAX}, "no file given");
  std::vector<pack::ListedFile> listed;
  std::optional<pack::CodePage> code_page;
  // A launcher among the files tells the code page of every volume's names.
  for (const std::string& file : args.files) {
    listed.push_back(pack::ListFile(pack::PathFromUtf8(file), nullptr));
    if (listed.back().is_launcher && !code_page) code_page = pack::CodePageOf(listed.back().stub.kind);
  }
  for (pack::ListedFile& item : listed)
    if (code_page && !item.is_launcher) item = pack::ListFile(item.path, &*code_page);
  const bool damaged = std::any_of(listed.begin(), listed.end(), [](const auto& item) { return !item.damage.empty(); });
  if (args.flag("json")) {
    std::fputs(ListJson(listed).c_str(), stdout);
  } else {
    for (const pack::ListedFile& item : listed) PrintListed(item);
  }
  return damaged ? 1 : 0;
}

int Verify(int argc, char** argv) {
  const Arguments args = ParseArguments("verify", argc, argv, {"temp-dir="}, {1, 1}, "give one launcher");
  std::string temp_dir;
  if (const auto given = args.value("temp-dir")) {
    if (const std::string problem = pack::TempDirProblem(*given); !problem.empty())
      throw UsageError{"verify: --temp-dir: " + problem};
    temp_dir = *given;
    if (temp_dir.back() != '\\') temp_dir += '\\';
  }
  const pack::Verification v = pack::VerifySet(pack::PathFromUtf8(args.files.front()), temp_dir);
  for (const std::string& fact : v.facts) std::printf("%s\n", fact.c_str());
  int errors = 0, warnings = 0;
  for (const pack::Finding& finding : v.findings) {
    std::printf("%s: %s\n", finding.error ? "error" : "warning", finding.text.c_str());
    ++(finding.error ? errors : warnings);
  }
  const std::string warned = warnings ? " (" + std::to_string(warnings) + " warning" + (warnings > 1 ? "s" : "") + ")" : "";
  if (errors == 0)
    std::printf("sound: the launcher can extract this set%s\n", warned.c_str());
  else
    std::printf("unsound: %d error%s%s\n", errors, errors > 1 ? "s" : "", warned.c_str());
  return errors == 0 ? 0 : 1;
}

int Extract(int argc, char** argv) {
  const Arguments args = ParseArguments("extract", argc, argv, {"to="}, {1, 1}, "give one launcher");
  const fs::path directory = pack::PathFromUtf8(args.value("to").value_or("."));
  const engine_run::RunRecord record = pack::ExtractSet(pack::PathFromUtf8(args.files.front()), directory);
  std::printf("%s: %zu entries of %d bytes extracted; %s and %s expanded\n", pack::PathText(directory).c_str(),
              record.files.size(), record.set_total, payload::kSetupInfoExpanded, payload::kSetupProgramExpanded);
  return 0;
}

// The command line of compress and expand: IN and, optionally, OUT.
Arguments InAndOut(const std::string& command, int argc, char** argv) {
  return ParseArguments(command, argc, argv, {"force"}, {1, 2}, "give IN and, optionally, OUT");
}

// The output path of compress and expand: OUT when given, else `derived` beside IN (refused with
// `underived` when empty). Refuses an existing file without --force.
fs::path OutputPath(const Arguments& args, const std::string& derived, const std::string& underived) {
  const fs::path in = pack::PathFromUtf8(args.files[0]);
  if (args.files.size() == 1 && derived.empty()) throw PackError(pack::PathText(in) + ": " + underived);
  fs::path out =
      args.files.size() == 2 ? pack::PathFromUtf8(args.files[1]) : in.parent_path() / pack::PathFromUtf8(derived);
  std::error_code ec;
  if (!args.flag("force") && fs::exists(fs::symlink_status(out, ec)))
    throw PackError(pack::PathText(out) + ": already exists; use --force to replace it");
  return out;
}

int Compress(int argc, char** argv) {
  const Arguments args = InAndOut("compress", argc, argv);
  const fs::path in = pack::PathFromUtf8(args.files[0]);
  std::uint8_t missing_char = 0;
  const std::string derived = szdd::CompressedName(pack::PathText(in.filename()), &missing_char);
  const fs::path out = OutputPath(args, derived, "its name already ends in '_'; give OUT");
  // Under its shipped name ("setup.ex_"), the header records the character the '_' stands for.
  const pack::CompressedName shipped = pack::ShippedCompressedName(pack::PathText(in.filename()), pack::CodePage::kUtf8);
  if (pack::PathText(out.filename()) == shipped.name) missing_char = shipped.missing_char;
  pack::WriteFileWhole(out, pack::Compress(pack::ReadWholeFile(in), missing_char));
  return 0;
}

int Expand(int argc, char** argv) {
  const Arguments args = InAndOut("expand", argc, argv);
  const fs::path in = pack::PathFromUtf8(args.files[0]);
  const pack::Bytes data = pack::ReadWholeFile(in);
  szdd::Header header;
  if (!szdd::ParseHeader(data.data(), data.size(), &header)) throw PackError(pack::PathText(in) + ": not an SZDD file");
  const fs::path out = OutputPath(args, pack::ExpandedFileName(pack::PathText(in.filename()), header.missing_char),
                                  "its name does not end in '_', so it does not tell the expanded name; give OUT");
  pack::Bytes expanded;
  const szdd::ExpandResult result = szdd::ExpandBuffer(data.data(), data.size(), &expanded);
  if (result.status == szdd::Status::kNotSzdd) throw PackError(pack::PathText(in) + ": unknown SZDD compression mode");
  if (result.status != szdd::Status::kOk)
    throw PackError(pack::PathText(in) + ": truncated: its data ends after " + std::to_string(result.written) + " of the " +
                    std::to_string(header.expanded_length) + " bytes its header announces");
  pack::WriteFileWhole(out, expanded);
  return 0;
}

int Help(int argc, char** argv);

// qmrpack's commands: each one's name, its lines of the usage text, and what runs it.
struct Command {
  const char* name;
  const char* usage;
  int (*run)(int argc, char** argv);
};

const Command kCommands[] = {
    {"build",
     "  qmrpack build [--stub STUB] --out DIR --setup PROGRAM --setup-info INF\n"
     "                [--version TEXT] [--disk-size BYTES] [--store] [--force] [--quiet]\n"
     "                [--convert-inf] [FILE]...\n"
     "      Makes a set: DIR/<STUB's name>, the launcher carrying volume 1, then DIR/Disk2,\n"
     "      DIR/Disk3, ... as the volumes fill. PROGRAM and INF go in compressed as\n"
     "      qmrsetup.ex_ and qmrsetup.in_; each FILE compressed under its shipped name\n"
     "      (readme.txt -> readme.tx_), or as it is with --store. --disk-size bounds the\n"
     "      launcher file and each volume (default 1457664, a 1.44 MB floppy). --version\n"
     "      sets the version text the prompts show (default: the stub's). --force replaces\n"
     "      a set already in DIR. STUB is unsigned: sign the launcher after building.\n"
     "      INF must be text in the launcher's code page (932 for the Windows launcher,\n"
     "      UTF-8 for the Linux one), which the launcher writes its presets in;\n"
     "      --convert-inf converts a UTF-8 INF into it.\n"
     "      Without --stub, the Windows launcher stub installed with qmrpack. A build that\n"
     "      takes more than a second shows its steps on a terminal; --quiet hides them and\n"
     "      the name of the installed stub.\n",
     Build},
    {"list",
     "  qmrpack list [--json] FILE...\n"
     "      Lists the entries of launchers and volume files: volume, name, size, time\n"
     "      (UTC) and, for SZDD data, the expanded size; for a signed launcher, where its\n"
     "      certificate table lies.\n",
     List},
    {"verify",
     "  qmrpack verify [--temp-dir PATH] LAUNCHER\n"
     "      Runs the launcher's own extraction over the set (with Disk2, Disk3, ... beside\n"
     "      it) without writing anything, and tells where it would fail. Exits 0 only for\n"
     "      a set the launcher extracts. PATH is the temporary directory as the launcher\n"
     "      sees it (C:\\..., or Z:\\... for the Linux launcher). A signature is located,\n"
     "      not checked.\n",
     Verify},
    {"extract",
     "  qmrpack extract [--to DIR] LAUNCHER\n"
     "      Extracts the set into DIR (default: the current directory) as the launcher\n"
     "      does into its temporary directory: the same files, names and times, with\n"
     "      qmrsetup.inf and qmrsetup.exe expanded. Disk2, Disk3, ... are read beside\n"
     "      LAUNCHER; a missing one is an error. Writes no presets and starts nothing.\n",
     Extract},
    {"compress",
     "  qmrpack compress [--force] IN [OUT]\n"
     "      Compresses IN into SZDD (OUT defaults to IN with '_' appended).\n",
     Compress},
    {"expand",
     "  qmrpack expand [--force] IN [OUT]\n"
     "      Expands an SZDD file (OUT defaults to the name its header restores).\n",
     Expand},
    {"help", "", Help},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands)
    if (name == command.name) return &command;
  return nullptr;
}

// `qmrpack help` shows the whole usage text; `qmrpack help COMMAND` that command's part of it.
int Help(int argc, char** argv) {
  std::string text = kUsageHead;
  for (const Command& command : kCommands) text += command.usage;
  text += kUsageTail;
  if (argc > 2 && std::string(argv[1]) == "help") {
    const Command* command = FindCommand(argv[2]);
    if (command == nullptr || *command->usage == '\0')
      throw UsageError{"help: unknown command \"" + std::string(argv[2]) + "\""};
    text = command->usage;
  }
  std::fputs(text.c_str(), stdout);
  return 0;
}

}  // namespace

int QmrpackMain(int argc, char** argv) {
  const std::string name = argc > 1 ? argv[1] : "";
  const Command* command = FindCommand(name);
  try {
    if (name == "--help" || name == "-h") return Help(argc, argv);
    if (name == "--version") {
      std::printf("qmrpack %s\n", kVersion);
      return 0;
    }
    if (command == nullptr) throw UsageError{name.empty() ? "no command given" : "unknown command \"" + name + "\""};
    try {
      return command->run(argc, argv);
    } catch (const HelpRequest&) {
      // A command's --help shows its usage instead.
      std::fputs(command->usage, stdout);
      return 0;
    }
  } catch (const UsageError& e) {
    std::fprintf(stderr, "qmrpack: %s (qmrpack help shows the usage)\n", e.text.c_str());
    return 2;
  } catch (const std::exception& e) {  // PackError and the system's errors
    std::fprintf(stderr, "qmrpack: %s\n", e.what());
    return 1;
  }
}
