// Test support: the launcher's own verdict on a set, to hold qmrpack verify to it. The engine
// runs over the testing platform and extracts into a real temporary directory.
#pragma once

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "format/layout.h"
#include "format/little_endian.h"
#include "pack/paths.h"
#include "pack/stub.h"
#include "platform/testing/test_platform.h"

namespace qmrtest {

// True when the launcher extracts the set `launcher` carries into `temp` (an existing
// directory, in the launcher's form with its backslash) and starts its setup program.
inline bool LauncherExtracts(const std::filesystem::path& launcher, const std::vector<std::uint8_t>& bytes,
                             const std::string& temp) {
  pack::StubInfo info;
  std::string error;
  if (!pack::InspectStub(bytes, &info, &error)) return false;
  testing_platform::TestPlatform platform;
  std::vector<std::uint8_t> offset(payload::kOffsetResourceSize), version(payload::kVersionResourceSize, 0);
  payload::WriteLE32(offset.data(), info.payload_offset);
  std::copy_n(info.version.begin(), std::min<std::size_t>(info.version.size(), version.size() - 1), version.begin());
  platform.SetCustomResource(payload::kOffsetResourceId, offset);
  platform.SetCustomResource(payload::kVersionResourceId, version);
  if (info.kind == pack::StubKind::kWindows)
    platform.SetLeadBytePredicate([](BYTE b) -> BOOL { return payload::IsLeadByteCp932(b); });
  ResetExtractionState();
  std::strcpy(g_run.module_path, pack::WindowsForm(launcher).c_str());
  std::strcpy(g_run.temp_dir, temp.c_str());
  return ExtractAndLaunch() == 1;
}

}  // namespace qmrtest
