// POSIX layer, texts: the lstr functions, wsprintfA and the code page (UTF-8, so no byte opens
// a double-byte character).
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/posix/layer.h"

namespace posix {

namespace {

constexpr int kFormatLimit = 1024;  // wsprintfA writes at most this many bytes, the NUL included

LPSTR WINAPI lstrcpyA(LPSTR destination, LPCSTR source) { return std::strcpy(destination, source); }
int WINAPI lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }

class Output {
 public:
  explicit Output(char* buffer) : buffer_(buffer) {}
  void Put(char c) {
    if (length_ < kFormatLimit - 1) buffer_[length_++] = c;
  }
  void Pad(int count, char c) {
    for (int i = 0; i < count; ++i) Put(c);
  }
  int Finish() {
    buffer_[length_] = '\0';
    return length_;
  }

 private:
  char* buffer_;
  int length_ = 0;
};

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  Output out(buffer);
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f != '%') {
      out.Put(*f);
      continue;
    }
    ++f;
    bool left = false, zero = false;
    for (; *f == '-' || *f == '0'; ++f) (*f == '-' ? left : zero) = true;
    int width = 0, precision = -1;
    for (; *f >= '0' && *f <= '9'; ++f) width = width * 10 + (*f - '0');
    if (*f == '.') {
      precision = 0;
      for (++f; *f >= '0' && *f <= '9'; ++f) precision = precision * 10 + (*f - '0');
    }
    while (*f == 'l' || *f == 'h') ++f;
    char digits[24];
    const char* text = digits;
    int length = 0;
    switch (*f) {
      case 's': {
        text = va_arg(args, const char*);
        if (text == nullptr) text = "(null)";
        length = static_cast<int>(std::strlen(text));
        if (precision >= 0 && length > precision) length = precision;
        break;
      }
      case 'c':
        digits[0] = static_cast<char>(va_arg(args, int));
        length = 1;
        break;
      case 'd': case 'i': case 'u': case 'x': case 'X': {
        // The 32-bit argument in the C library's own conversion; at most 11 characters.
        const unsigned value = va_arg(args, unsigned);
        if (*f == 'd' || *f == 'i') {
          length = std::snprintf(digits, sizeof digits, "%d", static_cast<int>(value));
        } else {
          length = std::snprintf(digits, sizeof digits, *f == 'u' ? "%u" : *f == 'x' ? "%x" : "%X", value);
        }
        break;
      }
      case '\0':
        --f;  // a lone '%' at the end
        continue;
      default:  // "%%" and any other character stand for themselves
        digits[0] = *f;
        length = 1;
        break;
    }
    if (!left) out.Pad(width - length, zero ? '0' : ' ');
    for (int i = 0; i < length; ++i) out.Put(text[i]);
    if (left) out.Pad(width - length, ' ');
  }
  va_end(args);
  return out.Finish();
}

BOOL WINAPI IsDBCSLeadByte(BYTE) { return FALSE; }

}  // namespace

std::size_t CopyWholeCharacters(const char* text, std::size_t length, char* buffer, std::size_t size) {
  std::size_t n = length < size ? length : size - 1;
  // Cut before a UTF-8 continuation byte: the character it belongs to does not fit whole.
  while (n < length && n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  std::memcpy(buffer, text, n);
  buffer[n] = '\0';
  return n;
}

void FillTextOps(SystemOps& ops) {
  ops.lstrcpyA = lstrcpyA;
  ops.lstrlenA = lstrlenA;
  ops.wsprintfA = wsprintfA;
  ops.IsDBCSLeadByte = IsDBCSLeadByte;
}

}  // namespace posix
