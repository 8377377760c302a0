// POSIX layer, profile files: INI lookups and in-place updates, and the two profile operations.
#include "platform/posix/profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/posix/layer.h"
#include "platform/posix/paths.h"

namespace posix::ini {

namespace {

struct Line {
  std::size_t begin;    // first byte of the line
  std::size_t end;      // end of its text, before the line ending
  std::size_t next;     // first byte after its line ending
};

// Lines end at "\r\n", "\n" or a lone "\r".
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find_first_of("\r\n", pos);
    std::size_t next;
    if (end == std::string_view::npos) {
      end = next = text.size();
    } else if (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') {
      next = end + 2;
    } else {
      next = end + 1;
    }
    lines.push_back({pos, end, next});
    pos = next;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The section name of a "[name]" line, or false for any other line.
bool SectionName(std::string_view line, std::string_view* name) {
  line = Trim(line);
  if (line.size() < 2 || line.front() != '[') return false;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return false;
  *name = Trim(line.substr(1, close - 1));
  return true;
}

// The key of a "key=value" line (or of a line with no '=', whose value is empty), or false
// for a blank line or a comment.
bool KeyOf(std::string_view line, std::string_view* key, std::string_view* value) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed.front() == ';') return false;
  const std::size_t eq = line.find('=');
  *key = Trim(eq == std::string_view::npos ? line : line.substr(0, eq));
  *value = eq == std::string_view::npos ? std::string_view() : Trim(line.substr(eq + 1));
  return true;
}

std::string_view LineText(std::string_view content, const Line& line) {
  return content.substr(line.begin, line.end - line.begin);
}

// A UTF-8 byte-order mark at the start of the file is not part of the first line's text.
std::size_t BomLength(std::string_view content) {
  return content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
}

// Lines of the first section named `section`: [first, last) indexes, first being the header.
bool FindSection(std::string_view content, const std::vector<Line>& lines, std::string_view section,
                 std::size_t* first, std::size_t* last) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view text = LineText(content, lines[i]);
    if (i == 0) text.remove_prefix(BomLength(content));
    std::string_view name;
    if (!SectionName(text, &name) || !SameName(name, section)) continue;
    std::size_t j = i + 1;
    while (j < lines.size() && !SectionName(LineText(content, lines[j]), &name)) ++j;
    *first = i;
    *last = j;
    return true;
  }
  return false;
}

}  // namespace

bool Lookup(std::string_view content, std::string_view section, std::string_view key, std::string* value) {
  const std::vector<Line> lines = SplitLines(content);
  std::size_t first, last;
  if (!FindSection(content, lines, section, &first, &last)) return false;
  for (std::size_t i = first + 1; i < last; ++i) {
    std::string_view k, v;
    if (!KeyOf(LineText(content, lines[i]), &k, &v) || !SameName(k, key)) continue;
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
      v = v.substr(1, v.size() - 2);
    value->assign(v);
    return true;
  }
  return false;
}

std::string Update(std::string_view content, std::string_view section, const char* key, const char* value) {
  const std::vector<Line> lines = SplitLines(content);
  std::string eol = "\r\n";
  if (!lines.empty() && lines[0].next > lines[0].end)
    eol.assign(content.substr(lines[0].end, lines[0].next - lines[0].end));

  std::size_t first, last;
  if (!FindSection(content, lines, section, &first, &last)) {
    if (key == nullptr || value == nullptr) return std::string(content);
    std::string out(content);
    if (!out.empty() && out.back() != '\n') out += eol;
    out.append("[").append(section).append("]").append(eol);
    out.append(key).append("=").append(value).append(eol);
    return out;
  }
  if (key == nullptr) {  // remove the whole section
    std::string out(content.substr(0, lines[first].begin));
    if (last < lines.size()) out.append(content.substr(lines[last].begin));
    return out;
  }
  std::size_t last_content = first;
  for (std::size_t i = first + 1; i < last; ++i) {
    std::string_view k, v;
    const std::string_view text = LineText(content, lines[i]);
    if (!Trim(text).empty()) last_content = i;
    if (!KeyOf(text, &k, &v) || !SameName(k, key)) continue;
    std::string out(content.substr(0, lines[i].begin));
    if (value != nullptr) {
      const std::size_t eq = text.find('=');
      if (eq == std::string_view::npos) {
        out.append(text).append("=");
      } else {
        std::size_t value_start = eq + 1;  // the blanks before the old value stay too
        while (value_start < text.size() && (text[value_start] == ' ' || text[value_start] == '\t')) ++value_start;
        out.append(text.substr(0, value_start));
      }
      out.append(value);
      out.append(content.substr(lines[i].end, lines[i].next - lines[i].end));
      if (lines[i].next == lines[i].end) out += eol;  // the last line had no line ending
    }
    out.append(content.substr(lines[i].next));
    return out;
  }
  if (value == nullptr) return std::string(content);
  const Line& anchor = lines[last_content];
  std::string out(content.substr(0, anchor.next));
  if (anchor.next == anchor.end) out += eol;
  out.append(key).append("=").append(value).append(eol);
  out.append(content.substr(anchor.next));
  return out;
}

}  // namespace posix::ini

namespace posix {

namespace {

// Reads a whole file. False when it cannot be read (a missing file gives ENOENT in errno).
bool ReadWholeFile(const char* path, std::string* content) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char buffer[16384];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      close(fd);
      return false;
    }
    if (n == 0) break;
    content->append(buffer, static_cast<std::size_t>(n));
  }
  close(fd);
  return true;
}

// Replaces the file with `content`: written whole to a temporary name beside it, then
// renamed over it, so a failure never leaves a half-written file.
bool ReplaceWholeFile(const char* path, const std::string& content) {
  struct stat st;
  const mode_t mode = stat(path, &st) == 0 ? (st.st_mode & 07777) : 0666;
  char temp[kPathMax];
  if (std::snprintf(temp, sizeof temp, "%s.%ld.tmp", path, static_cast<long>(getpid())) >= static_cast<int>(sizeof temp))
    return false;
  const int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
  if (fd < 0) return false;
  std::size_t done = 0;
  bool ok = true;
  while (done < content.size()) {
    const ssize_t n = write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = false;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (close(fd) != 0) ok = false;
  if (ok) fchmodat(AT_FDCWD, temp, mode, 0);
  if (!ok || rename(temp, path) != 0) {
    unlink(temp);
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
  if (section != nullptr && key != nullptr && ResolvePath(path, mapped, sizeof mapped) == ERROR_SUCCESS &&
      ReadWholeFile(mapped, &content)) {
    std::string found;
    if (ini::Lookup(content, section, key, &found)) value = found;
  }
  const std::size_t n = value.size() < size - 1 ? value.size() : size - 1;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR path) {
  char mapped[kPathMax];
  DWORD error = ResolvePath(path, mapped, sizeof mapped);
  if (error != ERROR_SUCCESS || section == nullptr) {
    SetError(error != ERROR_SUCCESS ? error : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string content;
  if (!ReadWholeFile(mapped, &content) && errno != ENOENT) {
    SetError(ErrorFromErrno(errno));
    return FALSE;
  }
  if (!ReplaceWholeFile(mapped, ini::Update(content, section, key, value))) {
    SetError(ErrorFromErrno(errno));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

void FillProfileOps(SystemOps& ops) {
  ops.GetPrivateProfileStringA = GetPrivateProfileStringA;
  ops.WritePrivateProfileStringA = WritePrivateProfileStringA;
}

}  // namespace posix
