// Fuzzes the INI reader and writer with arbitrary files. Checked: a written key reads back
// with its value; writing it again changes nothing; removing the key changes the file. (Other
// keys need not read as they did: Windows writes a section named "[]" without its header, so
// its keys join the section before it when the file is read again.)
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/posix/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  std::string value;
  posix::ini::Lookup(content, "Account", "POP3Server", &value);

  const std::string written = posix::ini::Update(content, "Account", "POP3Server", "pop.example.jp");
  // A first key whose name begins with the bytes of a UTF-8 byte-order mark is written back
  // first in the file, where reading it again takes them for the mark, as Windows does: such a
  // file reads back otherwise. It must still be written whole, and stay as written.
  if (written.rfind("\xEF\xBB\xBF", 0) == 0 && content.rfind("\xEF\xBB\xBF", 0) != 0) {
    if (posix::ini::Update(written, "Account", "POP3Server", "pop.example.jp").empty()) std::abort();
    return 0;
  }
  std::string read;
  if (!posix::ini::Lookup(written, "account", "pop3server", &read) || read != "pop.example.jp") std::abort();
  if (posix::ini::Update(written, "Account", "POP3Server", "pop.example.jp") != written) std::abort();

  const std::string removed = posix::ini::Update(written, "Account", "POP3Server", nullptr);
  if (removed == written) std::abort();
  return 0;
}
