// Cross-checks of the SZDD codec against the classic tools mscompress and msexpand, run as child
// processes on real files in a temporary directory.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "szdd/szdd.h"

extern char** environ;

namespace szdd {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

// The tools mangle inputs shorter than this (they emit stray items before the data); only
// agreement between the two expanders is checked for those.
constexpr std::size_t kToolsShortestFaithfulInput = 16;

std::string FindOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    const fs::path candidate = fs::path(dir.empty() ? "." : dir) / name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

// Runs a tool with one file argument; returns its exit status (or -1 if it could not start).
int RunTool(const std::string& tool, const fs::path& file) {
  std::vector<std::string> args = {tool, file.string()};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

struct Input {
  std::string name;
  Bytes data;
  bool text;
};

Bytes CLikeText(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"int ", "return ", "(void)", "{\n", "}\n", "    ", "window", "0x20",
                                       "; ", "struct ", "#define ", "unsigned ", "\n", "const ", "char *",
                                       "/* position */", "length", "++", "if (", ") ", "WINAPI ", "HANDLE"};
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    const char* word = kWords[rng() % std::size(kWords)];
    out.insert(out.end(), word, word + std::strlen(word));
    if (rng() % 5 == 0) out.push_back(static_cast<std::uint8_t>('a' + rng() % 26));
  }
  out.resize(size);
  return out;
}

// Something like an executable: records of small integers, padding, and noise.
Bytes BinaryLike(std::size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  while (out.size() < size) {
    switch (rng() % 3) {
      case 0:
        for (int i = 0; i < 64; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
        break;
      case 1:
        for (std::uint32_t i = 0, base = rng(); i < 32; ++i)
          for (int b = 0; b < 4; ++b) out.push_back(static_cast<std::uint8_t>((base + 8 * i) >> (8 * b)));
        break;
      default:
        out.insert(out.end(), rng() % 300, 0);
    }
  }
  out.resize(size);
  return out;
}

const std::vector<Input>& Corpus() {
  static const std::vector<Input> corpus = [] {
    Bytes runs(200000, 0);
    std::fill(runs.begin() + 50000, runs.begin() + 90000, 'x');
    std::fill(runs.begin() + 120000, runs.end(), ' ');
    Bytes large = CLikeText(900000, 3);
    const Bytes binary = BinaryLike(700000, 4);
    large.insert(large.end(), binary.begin(), binary.end());
    return std::vector<Input>{
        {"empty", {}, false},
        {"one", {'Q'}, false},
        {"short", {'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'}, true},
        {"runs", runs, false},
        {"text", CLikeText(300000, 1), true},
        {"text_small", CLikeText(5000, 2), true},
        {"binary", BinaryLike(400000, 5), false},
        {"large", large, false},
    };
  }();
  return corpus;
}

class SzddCrosscheck : public ::testing::Test {
 protected:
  void SetUp() override {
    mscompress_ = FindOnPath("mscompress");
    msexpand_ = FindOnPath("msexpand");
    if (mscompress_.empty() || msexpand_.empty())
      GTEST_FAIL() << "mscompress/msexpand not found on PATH: scripts/deps installs package `mscompress`";
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = (fs::path(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") / "szdd_crosscheck.XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << std::strerror(errno);
    dir_ = pattern;
  }
  void TearDown() override {
    if (!dir_.empty()) fs::remove_all(dir_);
  }

  // mscompress writes NAME_ beside NAME.
  Bytes ToolCompress(const Input& input) {
    const fs::path plain = dir_ / (input.name + ".tc");
    WriteFile(plain, input.data);
    EXPECT_EQ(RunTool(mscompress_, plain), 0) << input.name;
    return ReadFile(plain.string() + "_");
  }

  // msexpand expands NAME_ into NAME beside it.
  Bytes ToolExpand(const std::string& name, const Bytes& packed) {
    const fs::path plain = dir_ / (name + ".te");
    WriteFile(plain.string() + "_", packed);
    EXPECT_EQ(RunTool(msexpand_, plain.string() + "_"), 0) << name;
    return ReadFile(plain);
  }

  std::string mscompress_;
  std::string msexpand_;
  fs::path dir_;
};

TEST_F(SzddCrosscheck, MsexpandExpandsWhatWeCompress) {
  for (const Input& input : Corpus()) {
    const Bytes packed = CompressBuffer(input.data.data(), input.data.size());
    EXPECT_TRUE(ToolExpand(input.name, packed) == input.data) << input.name;
  }
}

TEST_F(SzddCrosscheck, WeExpandWhatMscompressCompresses) {
  for (const Input& input : Corpus()) {
    const Bytes packed = ToolCompress(input);
    Bytes ours;
    const ExpandResult r = ExpandBuffer(packed.data(), packed.size(), &ours);
    ASSERT_EQ(r.status, Status::kOk) << input.name;
    if (input.data.size() >= kToolsShortestFaithfulInput) {
      EXPECT_TRUE(ours == input.data) << input.name;
    } else {
      // msexpand decodes to the end of the data, ignoring the announced length.
      Bytes theirs = ToolExpand(input.name, packed);
      theirs.resize(std::min(theirs.size(), ours.size()));
      EXPECT_TRUE(ours == theirs) << input.name;
    }
  }
}

TEST_F(SzddCrosscheck, NoLargerThanMscompressOnText) {
  for (const Input& input : Corpus()) {
    if (!input.text) continue;
    const std::size_t theirs = ToolCompress(input).size();
    const std::size_t ours = CompressBuffer(input.data.data(), input.data.size()).size();
    EXPECT_LE(ours, theirs) << input.name;
    std::printf("%s: %zu bytes -> ours %zu, mscompress %zu\n", input.name.c_str(), input.data.size(), ours, theirs);
  }
}

}  // namespace
}  // namespace szdd
