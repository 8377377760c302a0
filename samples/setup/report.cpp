// The sample setup program's report, the same on Windows and Linux.
#include "report.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "format/layout.h"
#include "format/names.h"
#include "szdd/szdd.h"

namespace sample {

namespace {

using payload::EqualIgnoringAsciiCase;
constexpr const char* kInfoFile = payload::kSetupInfoExpanded;

std::string Trim(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The keys and values of one section of an INI text, in order; section names match
// regardless of case, as the profile functions match them.
std::vector<std::pair<std::string, std::string>> Section(const std::string& ini, const std::string& section) {
  std::vector<std::pair<std::string, std::string>> values;
  bool inside = false;
  std::size_t start = 0;
  while (start < ini.size()) {
    std::size_t end = ini.find('\n', start);
    if (end == std::string::npos) end = ini.size();
    const std::string line = Trim(ini.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      inside = close != std::string::npos && EqualIgnoringAsciiCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    const std::size_t equals = line.find('=');
    if (inside && equals != std::string::npos)
      values.emplace_back(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
  }
  return values;
}

std::string ValueOf(const std::vector<std::pair<std::string, std::string>>& values, const std::string& key) {
  for (const auto& [name, value] : values)
    if (EqualIgnoringAsciiCase(name, key)) return value;
  return "";
}

// The text and at least one space, padded to `width` bytes.
std::string Padded(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

// One line about a file of the set: found, and expanding to the whole length its header
// announces when it is compressed.
bool DescribeFile(const std::string& shipped, const std::string& expanded, const ReadBeside& read,
                  const ShowText& show, std::string* line) {
  *line = "  " + Padded(show(shipped), 12) + "→ " + Padded(show(expanded), 12);
  const std::optional<std::string> data = read(shipped);
  if (!data) {
    *line += "見つかりません\n";
    return false;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(data->data());
  szdd::Header header;
  if (!szdd::ParseHeader(bytes, data->size(), &header)) {
    *line += std::to_string(data->size()) + " バイト (圧縮なし) OK\n";
    return true;
  }
  std::vector<std::uint8_t> out;
  const szdd::ExpandResult result = szdd::ExpandBuffer(bytes, data->size(), &out);
  if (result.status != szdd::Status::kOk) {
    *line += "展開できません (" + std::to_string(out.size()) + " / " + std::to_string(header.expanded_length) +
             " バイト)\n";
    return false;
  }
  *line += std::to_string(out.size()) + " バイト OK\n";
  return true;
}

}  // namespace

Report MakeReport(const std::string& program, const ReadBeside& read, const ShowText& show) {
  Report report;
  report.title = "Quillmoor セットアップ (サンプル)";
  std::string& text = report.text;
  text += "起動されたプログラム: " + program + "\n";
  const std::optional<std::string> info = read(kInfoFile);
  if (!info) {
    text += "セットアップ情報ファイル " + std::string(kInfoFile) + " が見つかりません。\n";
    return report;
  }
  text += "セットアップ情報ファイル: " + std::string(kInfoFile) + " (" + std::to_string(info->size()) + " バイト)\n";

  const auto account = Section(*info, payload::kPresetsSection);
  text += "\nアカウントの初期設定 [" + std::string(payload::kPresetsSection) + "]:\n";
  for (const char* key : {payload::kPop3Key, payload::kSmtpKey}) {
    const std::string value = ValueOf(account, key);
    text += "  " + Padded(key, 11) + "= " + (value.empty() ? "(未設定)" : show(value)) + "\n";
  }

  const auto files = Section(*info, "Files");
  text += "\n受け取ったファイル [Files]:\n";
  bool all_found = true;
  for (const auto& [shipped, expanded] : files) {
    std::string line;
    all_found = DescribeFile(shipped, expanded, read, show, &line) && all_found;
    text += line;
  }
  if (files.empty()) text += "  (一覧がありません)\n";

  report.ok = all_found && !files.empty();
  text += report.ok ? "\n引き継ぎは正常です。\n" : "\n引き継ぎに問題があります。\n";
  text += "(サンプルのため、インストールは行いません。)\n";
  return report;
}

}  // namespace sample
