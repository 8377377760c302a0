// The files of a set in a directory as a distributor meets them: the volume files' names, a
// volume given where the launcher is asked for, and launchers of other sets left beside a new one.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pack/names.h"

namespace pack {

// The file name of volume `number` (2 and up), as the launcher formats it: "Disk2".
std::string VolumeFileName(int number);

// The number of a "Disk<n>" file name (any letter case, n from 2 to 9999), or 0.
int VolumeNumberOf(const std::string& name);

// True for the name of one of the two setup files in any letter case: compressed, as the set
// carries them ("qmrsetup.ex_"), or with `expanded`, as the launcher expands them ("qmrsetup.exe").
bool IsSetupFileName(const std::string& name, CodePage code_page, bool expanded = false);

// What to tell of a file given as the launcher that is not one: for a volume file (Disk<n>),
// that it is volume n and the launcher is the file to give; else `reason` as it is.
std::string NotALauncherProblem(const std::filesystem::path& path, const std::string& reason);

// The launchers in `directory` other than `launcher_name` that carry a set (a stamped payload
// offset with data after it): what a rebuild leaves behind under another name. Unreadable
// files are passed over.
std::vector<std::filesystem::path> OtherLaunchers(const std::filesystem::path& directory,
                                                  const std::string& launcher_name);

}  // namespace pack
