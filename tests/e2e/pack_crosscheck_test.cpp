// qmrpack compress and expand against the classic tools from Debian's mscompress package:
// each side expands what the other compressed, byte for byte.
#include <gtest/gtest.h>

#include "command.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

const std::string kPack = QMR_QMRPACK_PATH;

// Inputs that exercise the codec's edges: nothing, a few bytes, the window's space fill, long
// runs, text, data that does not compress, and more than one window of each.
std::vector<std::pair<std::string, Bytes>> Inputs() {
  std::string text;
  for (int i = 0; text.size() < 200000; ++i) text += "Quillmoor account " + std::to_string(i % 977) + " pop.example.jp\r\n";
  return {{"empty", {}},
          {"one", {'x'}},
          {"fifteen", ToBytes("Quillmoor 1.13a")},
          {"sixteen", ToBytes("Quillmoor 1.13a\n")},
          {"spaces", Bytes(10000, ' ')},
          {"run", Bytes(70000, 0)},
          {"text", ToBytes(text)},
          {"random", RandomBytes(100000, 9)},
          {"mixed", [] {
             Bytes b = RandomBytes(5000, 3);
             for (int i = 0; i < 50; ++i) b.insert(b.end(), b.begin() + i * 7, b.begin() + i * 7 + 300);
             return b;
           }()}};
}

std::string Tool(const std::string& name) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
    if (std::filesystem::exists(std::string(dir) + name)) return std::string(dir) + name;
  return "";
}

TEST(PackCrosscheck, MsexpandExpandsWhatQmrpackCompresses) {
  const std::string msexpand = Tool("msexpand");
  ASSERT_NE(msexpand, "") << "msexpand is missing: scripts/deps installs the mscompress package";
  Workspace ws;
  for (const auto& [name, data] : Inputs()) {
    WriteBytes(ws.Path(name), data);
    ASSERT_EQ(RunCommand({kPack, "compress", ws.Path(name).string()}).exit_code, 0) << name;
    const CommandResult expanded = RunCommand({msexpand}, ReadText(ws.Path(name + "_")));
    EXPECT_EQ(expanded.exit_code, 0) << name;
    EXPECT_EQ(ToBytes(expanded.out), data) << name;
  }
}

TEST(PackCrosscheck, QmrpackExpandsWhatMscompressCompresses) {
  const std::string mscompress = Tool("mscompress"), msexpand = Tool("msexpand");
  ASSERT_NE(mscompress, "") << "mscompress is missing: scripts/deps installs the mscompress package";
  Workspace ws;
  for (const auto& [name, data] : Inputs()) {
    WriteBytes(ws.Path(name), data);
    ASSERT_EQ(RunCommand({mscompress, ws.Path(name).string()}).exit_code, 0) << name;
    // The name mscompress gives ("name_") tells qmrpack the expanded name.
    std::filesystem::rename(ws.Path(name), ws.Path(name + ".orig"));
    ASSERT_EQ(RunCommand({kPack, "expand", ws.Path(name + "_").string()}).exit_code, 0) << name;
    // mscompress 0.4 writes data that does not expand to its input for inputs under 16 bytes
    // (its header's length is right); there qmrpack must read what msexpand reads, up to the
    // announced length, which msexpand overruns.
    Bytes expected = data;
    if (data.size() < 16) {
      expected = ToBytes(RunCommand({msexpand}, ReadText(ws.Path(name + "_"))).out);
      expected.resize(data.size());
    }
    EXPECT_EQ(ReadBytes(ws.Path(name)), expected) << name;
  }
}

}  // namespace
}  // namespace qmrtest
