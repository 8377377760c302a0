// Code page 932 through glibc's iconv ("CP932", Microsoft's table).
#include <iconv.h>

#include <cerrno>
#include <vector>

#include "pack/codepage.h"
#include "pack/names.h"

namespace pack {

namespace {

// An iconv conversion descriptor, closed when it goes.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw PackError(std::string("no conversion from ") + from + " to " + to);
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts the whole text. When `replace` is given, each input byte that does not convert
  // is skipped and `replace` written instead; without it such a byte fails the conversion.
  bool Convert(const std::string& in, std::string* out, const char* replace) {
    out->clear();
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> buffer(in.size() * 4 + 16);
    char* source = const_cast<char*>(in.data());
    std::size_t source_left = in.size();
    while (source_left > 0) {
      char* target = buffer.data();
      std::size_t target_left = buffer.size();
      const std::size_t done = iconv(cd_, &source, &source_left, &target, &target_left);
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

 private:
  iconv_t cd_;
};

}  // namespace

bool Utf8ToCp932(const std::string& utf8, std::string* out) {
  Converter converter("CP932", "UTF-8");
  return converter.Convert(utf8, out, nullptr);
}

std::string Cp932ToUtf8(const std::string& text) {
  std::string out;
  Converter converter("UTF-8", "CP932");
  converter.Convert(text, &out, "\xEF\xBF\xBD");
  return out;
}

}  // namespace pack
