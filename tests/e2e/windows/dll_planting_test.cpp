// DLLs planted beside the Windows launcher, as anyone can drop them into a downloads folder,
// under Wine told to prefer such a DLL to its own (WINEDLLOVERRIDES n,b, native then builtin).
// Each planted DLL records every process that loads it (planted_library.cpp). A program beside
// them that imports LZ32 and COMCTL32 loads the planted ones, which shows that the test sees a
// load; the launcher, which loads both from the system directory only, loads neither and runs
// to the hand-off as usual.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "launcher_fixture.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

namespace fs = std::filesystem;

const char* const kPlanted[] = {"lz32.dll", "comctl32.dll"};
// Wine's own overrides, and the planted DLLs first.
const Environment kPreferPlanted = {{"WINEDLLOVERRIDES", "mscoree,mshtml=;lz32,comctl32=n,b"}};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

// The markers the planted DLLs wrote anywhere under `root`: the DLL's name (lower case, Wine
// names a module as it was asked for) and the programs that loaded it, one line each.
std::map<std::string, std::string> Markers(const fs::path& root) {
  std::map<std::string, std::string> markers;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    const std::string name = Lower(item.path().filename().string());
    const std::string suffix = ".loaded";
    if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
      markers[name.substr(0, name.size() - suffix.size())] += ReadText(item.path());
  }
  return markers;
}

class DllPlantingTest : public WineLauncherTest {
 protected:
  // Puts the planted DLLs and the program that imports them beside the launcher.
  void Plant() {
    const fs::path directory = launcher_.parent_path();
    for (const char* name : kPlanted)
      fs::copy_file(MingwProgram(std::string("tests/e2e/windows/planted/") + name), directory / name);
    fs::copy_file(MingwProgram("tests/e2e/windows/qmrdllcontrol.exe"), control());
  }
  fs::path control() const { return launcher_.parent_path() / "qmrdllcontrol.exe"; }
};

TEST_F(DllPlantingTest, PlantedLz32AndComctl32BesideTheLauncherAreNotLoaded) {
  WriteWholeSet();
  Plant();
  const fs::path directory = launcher_.parent_path();

  // The control, in the same directory with the same settings: it loads both planted DLLs, and
  // works with the planted LZ32 (which forwards to the system's).
  auto run = session_->Start(control(), directory, kPreferPlanted);
  ASSERT_EQ(run->Wait(seconds(60)), 0) << "the control program failed";
  const std::string loader = WindowsPath(control()) + "\n";
  ASSERT_EQ(Markers(ws_.root()), (std::map<std::string, std::string>{{"comctl32.dll", loader}, {"lz32.dll", loader}}))
      << "a program that imports LZ32 and COMCTL32 loads the planted DLLs beside it";
  for (const auto& item : fs::directory_iterator(directory))
    if (Lower(item.path().extension().string()) == ".loaded") fs::remove(item.path());

  // The launcher, started from that directory: the planted DLLs are beside it and in its
  // working directory, and it loads neither.
  StartLauncher(directory, kPreferPlanted);
  session_->PressKeys(ExpectConfirmation().x11, {"Return"});
  ExpectHandedOver(directory);
  const auto loaded = Markers(ws_.root());
  for (const auto& [dll, programs] : loaded) ADD_FAILURE() << "the planted " << dll << " was loaded by " << programs;
}

}  // namespace
}  // namespace qmrtest
