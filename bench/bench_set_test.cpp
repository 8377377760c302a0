// The benchmark's set: what the extraction figures rely on about it.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "bench/bench_set.h"
#include "szdd/szdd.h"

namespace qmrbench {
namespace {

std::vector<std::uint64_t> DataSizes(const std::vector<SetFile>& files) {
  std::vector<std::uint64_t> sizes;
  for (const SetFile& file : files)
    if (file.generated()) sizes.push_back(file.size);
  return sizes;
}

TEST(BenchSet, FortyFilesFromOneToSixtyFourMebibytesMakeExactlyTheTotal) {
  const std::vector<SetFile> files = SetFiles(kDefaultSeed);
  ASSERT_EQ(files.size(), 2u + kDataFiles);
  EXPECT_EQ(files[0].name, "qmrsetup.in_");
  EXPECT_EQ(files[1].name, "qmrsetup.ex_");
  const std::vector<std::uint64_t> sizes = DataSizes(files);
  ASSERT_EQ(sizes.size(), static_cast<std::size_t>(kDataFiles));
  std::uint64_t total = 0;
  for (std::uint64_t size : sizes) total += size;
  EXPECT_EQ(total, kDataTotal);
  EXPECT_EQ(*std::min_element(sizes.begin(), sizes.end()), kSmallestFile);
  EXPECT_EQ(*std::max_element(sizes.begin(), sizes.end()), kLargestFile);
  std::set<std::string> names;
  for (const SetFile& file : files) names.insert(file.name);
  EXPECT_EQ(names.size(), files.size()) << "every name once";
}

TEST(BenchSet, SmallFilesSetHoldsThatManyFilesOfSmallSizesOverThreeVolumes) {
  const std::vector<SetFile> files = SetFiles(kDefaultSeed, {}, 300);
  ASSERT_EQ(files.size(), 2u + 300);
  const std::vector<std::uint64_t> sizes = DataSizes(files);
  EXPECT_GE(*std::min_element(sizes.begin(), sizes.end()), kSmallFileMin);
  EXPECT_LE(*std::max_element(sizes.begin(), sizes.end()), kSmallFileMax);
  EXPECT_EQ(files[2].name, "s0001.bin") << "the name length the harness counts on for the clean-up list";
  const std::vector<int> volumes = VolumeOfFiles(files);
  EXPECT_EQ(volumes.back(), kVolumes - 1);
}

TEST(BenchSet, TheSeedAloneDecidesTheSet) {
  const std::vector<SetFile> a = SetFiles(kDefaultSeed), b = SetFiles(kDefaultSeed), c = SetFiles(kDefaultSeed + 1);
  EXPECT_EQ(DataSizes(a), DataSizes(b));
  EXPECT_NE(DataSizes(a), DataSizes(c));
  std::vector<std::uint8_t> first(a[2].size + 8), again(b[2].size + 8);
  FillFile(a[2], first.data());
  FillFile(b[2], again.data());
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(a[2].size), again.begin()));
}

TEST(BenchSet, FilesAreIncompressibleAndSplitOverThreeVolumesInOrder) {
  const std::vector<SetFile> files = SetFiles(kDefaultSeed);
  SetFile sample = files[2];
  sample.size = 1 << 20;
  std::vector<std::uint8_t> bytes(sample.size + 8);
  FillFile(sample, bytes.data());
  EXPECT_GT(szdd::CompressBuffer(bytes.data(), sample.size).size(), sample.size) << "nothing to find";

  const std::vector<int> volumes = VolumeOfFiles(files);
  ASSERT_EQ(volumes.size(), files.size());
  EXPECT_TRUE(std::is_sorted(volumes.begin(), volumes.end()));
  for (int v = 0; v < kVolumes; ++v)
    EXPECT_NE(std::find(volumes.begin(), volumes.end(), v), volumes.end()) << "volume " << v + 1 << " is empty";
}

TEST(BenchSet, AnotherSetupProgramLeavesTheDataFilesAsTheyAre) {
  const std::vector<std::uint8_t> program = {'M', 'Z', 0x90, 0, 3, 0, 0, 0, 4, 0, 0, 0, 0xFF, 0xFF};
  const std::vector<SetFile> plain = SetFiles(kDefaultSeed), windows = SetFiles(kDefaultSeed, program);
  ASSERT_EQ(windows.size(), plain.size());
  EXPECT_EQ(windows[1].name, "qmrsetup.ex_");
  std::vector<std::uint8_t> expanded;
  ASSERT_EQ(szdd::ExpandBuffer(windows[1].contents.data(), windows[1].contents.size(), &expanded).status,
            szdd::Status::kOk);
  EXPECT_EQ(expanded, program);
  EXPECT_EQ(windows[0].contents, plain[0].contents);
  EXPECT_EQ(DataSizes(windows), DataSizes(plain));
  for (std::size_t i = 2; i < plain.size(); ++i) {
    EXPECT_EQ(windows[i].name, plain[i].name);
    EXPECT_EQ(windows[i].seed, plain[i].seed);
    EXPECT_EQ(windows[i].last_write, plain[i].last_write);
  }
}

TEST(BenchSet, OptionsArePairsOfKnownFlagsAndValuesWithAnOutput) {
  const auto parse = [](std::vector<std::string> args, Options* options) {
    std::vector<char*> argv = {nullptr};
    for (std::string& arg : args) argv.push_back(arg.data());
    return ParseOptions(static_cast<int>(argv.size()), argv.data(), options);
  };
  Options options, refused;
  ASSERT_TRUE(parse({"--out", "d", "--seed", "7", "--small-files", "30", "--stub", "s", "--setup", "p"}, &options));
  EXPECT_EQ(std::tie(options.out, options.seed, options.small_files, options.stub, options.setup),
            std::make_tuple("d", 7ull, 30, "s", "p"));
  EXPECT_FALSE(parse({"--seed", "7"}, &refused)) << "no output directory";
  EXPECT_FALSE(parse({"--out", "d", "--seed"}, &refused)) << "a flag without its value";
  EXPECT_FALSE(parse({"--out", "d", "--size", "1"}, &refused)) << "a flag of no program of the set";
}

}  // namespace
}  // namespace qmrbench
