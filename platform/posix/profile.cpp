// POSIX layer, profile files: INI lookups and in-place updates, and the two profile operations.
#include "platform/posix/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "format/names.h"
#include "platform/posix/layer.h"
#include "platform/posix/paths.h"
#include "platform/posix/retry.h"

namespace posix::ini {

namespace {

// A profile file as Windows holds it while it works on one: its sections in file order, the
// first one nameless (the lines before any section header), each with its keys in order. A
// line without '=' is a key without a value; a comment is such a line, or a key whose name
// starts with ';'.
struct Key {
  std::string name;
  bool has_value = false;
  std::string value;
};

struct Section {
  std::string name;
  std::vector<Key> keys;
};

struct Profile {
  bool utf8_mark = false;
  std::vector<Section> sections;
};

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The next line of `text` from `pos`: lines end at '\n'; only where no '\n' follows do they
// end at '\r'. Advances `pos` past the line's end.
std::string_view NextLine(std::string_view text, std::size_t* pos) {
  std::size_t end = text.find('\n', *pos);
  if (end == std::string_view::npos) end = text.find('\r', *pos);
  const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
  const std::string_view line = text.substr(*pos, next - *pos);
  *pos = next;
  return line;
}

// Reads a line, without its surrounding blanks, into the profile: a section header ("[name]",
// the name as it stands up to the last ']') or a key.
void AddLine(std::string_view line, Profile* profile) {
  Section& section = profile->sections.back();
  if (line.front() == '[') {
    const std::size_t close = line.rfind(']');
    if (close != std::string_view::npos && close > 0) {
      profile->sections.push_back({std::string(line.substr(1, close - 1)), {}});
      return;
    }
  }
  Key key;
  const std::size_t equals = line.find('=');
  key.name = Trim(line.substr(0, equals));
  if (equals != std::string_view::npos) {
    key.has_value = true;
    key.value = Trim(line.substr(equals + 1));
  }
  // A run of keys without a name keeps only its first.
  if (!key.name.empty() || section.keys.empty() || !section.keys.back().name.empty())
    section.keys.push_back(std::move(key));
}

Profile Parse(std::string_view content) {
  Profile profile;
  profile.sections.push_back({});
  if (content.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    profile.utf8_mark = true;
    content.remove_prefix(kUtf8Mark.size());
  }
  for (std::size_t pos = 0; pos < content.size();) {
    const std::string_view line = Trim(NextLine(content, &pos));
    if (!line.empty()) AddLine(line, &profile);
  }
  return profile;
}

// Every section, then every key, on a line of its own ending in "\r\n"; no blank lines.
std::string Serialize(const Profile& profile) {
  std::string out = profile.utf8_mark ? std::string(kUtf8Mark) : std::string();
  for (const Section& section : profile.sections) {
    if (!section.name.empty()) out.append("[").append(section.name).append("]\r\n");
    for (const Key& key : section.keys) {
      out.append(key.name);
      if (key.has_value) out.append("=").append(key.value);
      out.append("\r\n");
    }
  }
  return out;
}

// The first section or key of this name, or null: a key is looked for in the first section
// of its name alone.
template <typename Named>
Named* FindNamed(std::vector<Named>& items, std::string_view name) {
  for (Named& item : items)
    if (payload::EqualIgnoringAsciiCase(item.name, Trim(name))) return &item;
  return nullptr;
}

// The first section or key of this name, added at the end when there is none.
template <typename Named>
Named& FindOrAdd(std::vector<Named>& items, std::string_view name) {
  if (Named* found = FindNamed(items, name)) return *found;
  items.emplace_back().name = Trim(name);
  return items.back();
}

// Removes the first key of this name in any section of that name. False when there is none.
bool RemoveKey(Profile& profile, std::string_view section_name, std::string_view key_name) {
  for (Section& section : profile.sections) {
    if (!payload::EqualIgnoringAsciiCase(section.name, section_name)) continue;
    for (auto key = section.keys.begin(); key != section.keys.end(); ++key) {
      if (!payload::EqualIgnoringAsciiCase(key->name, key_name)) continue;
      section.keys.erase(key);
      return true;
    }
  }
  return false;
}

// Removes every section of this name. False when there is none.
bool RemoveSections(Profile& profile, std::string_view name) {
  const std::size_t before = profile.sections.size();
  for (auto section = profile.sections.begin() + 1; section != profile.sections.end();)
    section = payload::EqualIgnoringAsciiCase(section->name, name) ? profile.sections.erase(section) : section + 1;
  return profile.sections.size() != before;
}

// Sets the key; false when it already had this value (leading blanks of the new value aside).
bool SetKey(Profile& profile, std::string_view section_name, std::string_view key_name, std::string_view value) {
  Key& key = FindOrAdd(FindOrAdd(profile.sections, section_name).keys, key_name);
  if (key.has_value) {
    while (!value.empty() && IsSpace(value.front())) value.remove_prefix(1);
    if (key.value == value) return false;
  }
  key.has_value = true;
  key.value = value;
  return true;
}

}  // namespace

bool Lookup(std::string_view content, std::string_view section, std::string_view key, std::string* value) {
  Profile profile = Parse(content);
  Section* found_section = FindNamed(profile.sections, section);
  const Key* found = found_section != nullptr ? FindNamed(found_section->keys, key) : nullptr;
  if (found == nullptr || !found->has_value) return false;
  std::string_view v = found->value;
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) v = v.substr(1, v.size() - 2);
  value->assign(v);
  return true;
}

std::string Update(std::string_view content, std::string_view section, const char* key, const char* value) {
  Profile profile = Parse(content);
  bool changed;
  if (key == nullptr) {
    changed = RemoveSections(profile, section);
  } else if (value == nullptr) {
    changed = RemoveKey(profile, section, key);
  } else {
    changed = SetKey(profile, section, key, value);
  }
  return changed ? Serialize(profile) : std::string(content);
}

}  // namespace posix::ini

namespace posix {

namespace {

// Reads the whole profile file a Windows path names, opened with `access` by the rule every
// named file is opened by (a write access refuses a read-only file). Its POSIX path goes into
// `mapped` (kPathMax bytes) and its permission bits into *mode. The Windows error, or
// ERROR_SUCCESS; ERROR_FILE_NOT_FOUND for a missing file.
DWORD ReadProfileFile(const char* path, DWORD access, char* mapped, std::string* content, mode_t* mode) {
  DWORD error;
  const int fd = OpenNamedFile(path, access, OPEN_EXISTING, mapped, nullptr, &error);
  if (fd < 0) return error;
  struct stat st;
  *mode = fstat(fd, &st) == 0 ? st.st_mode & 07777 : 0600;
  char buffer[16384];
  for (;;) {
    const ssize_t n = RobustRead(fd, buffer, sizeof buffer);
    if (n < 0) {
      error = ErrorFromErrno(errno);
      break;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return error;
}

// Replaces the file with `content`: written whole to a new temporary name beside it, then
// renamed over it, so a failure never leaves a half-written file. The file keeps `mode`; a
// new one (null `mode`) has the bits the umask leaves. False with errno set on failure.
bool ReplaceWholeFile(const char* path, const std::string& content, const mode_t* mode) {
  char temp[kPathMax];
  if (std::snprintf(temp, sizeof temp, "%s.%ld.tmp", path, static_cast<long>(getpid())) >= static_cast<int>(sizeof temp)) {
    errno = ENAMETOOLONG;
    return false;
  }
  const int fd = RobustOpen(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  bool ok = WriteFull(fd, content.data(), content.size());
  if (ok && mode != nullptr && fchmod(fd, *mode) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (!ok || rename(temp, path) != 0) {
    const int saved = errno;
    unlink(temp);
    errno = saved;
    return false;
  }
  return true;
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR default_value, LPSTR buffer, DWORD size,
                                      LPCSTR path) {
  if (buffer == nullptr || size == 0) return 0;
  std::string value = default_value != nullptr ? default_value : "";
  char mapped[kPathMax];
  std::string content;
  mode_t mode;
  if (section != nullptr && key != nullptr && ReadProfileFile(path, GENERIC_READ, mapped, &content, &mode) == ERROR_SUCCESS) {
    std::string found;
    if (ini::Lookup(content, section, key, &found)) value = found;
  }
  return static_cast<DWORD>(CopyWholeCharacters(value.data(), value.size(), buffer, size));
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR path) {
  if (section == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  // Opened for writing, though only read, so that a read-only file is refused as Windows refuses it.
  char mapped[kPathMax];
  std::string content;
  mode_t mode;
  const DWORD error = ReadProfileFile(path, GENERIC_READ | GENERIC_WRITE, mapped, &content, &mode);
  if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) return Fail(error, FALSE);
  if (!ReplaceWholeFile(mapped, ini::Update(content, section, key, value), error == ERROR_SUCCESS ? &mode : nullptr))
    return Fail(ErrorFromErrno(errno), FALSE);
  return TRUE;
}

}  // namespace

void FillProfileOps(SystemOps& ops) {
  ops.GetPrivateProfileStringA = GetPrivateProfileStringA;
  ops.WritePrivateProfileStringA = WritePrivateProfileStringA;
}

}  // namespace posix
