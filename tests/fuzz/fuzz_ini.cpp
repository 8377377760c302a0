// Fuzzes the INI reader and writer with arbitrary files. Checked: a written key reads back
// with its value; writing it again changes nothing; what the write replaced spans at most the
// key's own line; removing the key changes the file.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  std::string value;
  posix::ini::Lookup(content, "Account", "POP3Server", &value);

  const std::string written = posix::ini::Update(content, "Account", "POP3Server", "pop.example.jp");
  std::string read;
  if (!posix::ini::Lookup(written, "account", "pop3server", &read) || read != "pop.example.jp") std::abort();
  if (posix::ini::Update(written, "Account", "POP3Server", "pop.example.jp") != written) std::abort();
  // Only the key's own line changes: everything before the first difference and after the
  // last one is the original text.
  std::size_t front = 0;
  while (front < content.size() && front < written.size() && content[front] == written[front]) ++front;
  std::size_t back = 0;
  while (back < content.size() - front && back < written.size() - front &&
         content[content.size() - 1 - back] == written[written.size() - 1 - back])
    ++back;
  const std::string_view old_part(content.data() + front, content.size() - front - back);
  if (old_part.find('\n') != std::string_view::npos && old_part.find('\n') != old_part.rfind('\n')) std::abort();

  const std::string removed = posix::ini::Update(written, "Account", "POP3Server", nullptr);
  if (removed == written) std::abort();
  return 0;
}
