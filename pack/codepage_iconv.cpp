// Code page 932 through glibc's iconv ("CP932", Microsoft's table).
#include <iconv.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "pack/codepage.h"
#include "pack/names.h"

namespace pack {

namespace {

// Converts the whole text through iconv. When `replace` is given, each input byte that does not
// convert is skipped and `replace` written instead; without it such a byte fails the conversion.
bool Convert(const char* to, const char* from, const std::string& in, std::string* out, const char* replace) {
  const iconv_t opened = iconv_open(to, from);
  if (opened == reinterpret_cast<iconv_t>(-1)) throw PackError(std::string("no conversion from ") + from + " to " + to);
  const std::unique_ptr<void, int (*)(iconv_t)> cd(opened, iconv_close);  // closed when it goes
  out->clear();
  std::vector<char> buffer(in.size() * 4 + 16);
  char* source = const_cast<char*>(in.data());
  std::size_t source_left = in.size();
  while (source_left > 0) {
    char* target = buffer.data();
    std::size_t target_left = buffer.size();
    const std::size_t done = iconv(cd.get(), &source, &source_left, &target, &target_left);
    out->append(buffer.data(), static_cast<std::size_t>(target - buffer.data()));
    if (done != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    if (replace == nullptr) return false;
    out->append(replace);
    ++source;
    --source_left;
  }
  return true;
}

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string* out) { return Convert("CP932", "UTF-8", utf8, out, nullptr); }

std::string Cp932ToUtf8(const std::string& text) {
  std::string out;
  Convert("UTF-8", "CP932", text, &out, "\xEF\xBF\xBD");
  return out;
}

}  // namespace pack
