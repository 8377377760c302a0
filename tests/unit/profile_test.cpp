// INI files as the profile operations read and write them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/posix/profile.h"
#include "platform/system.h"
#include "support/workspace.h"

namespace qmrtest {
namespace {

using posix::ini::Lookup;
using posix::ini::Update;

TEST(Profile, LookupMatchesNamesRegardlessOfCaseAndTrimsValues) {
  const std::string ini =
      "\xEF\xBB\xBF[account]\r\n; a comment\r\n  pop3server =  pop.example.jp  \r\nSMTPServer=\"smtp x\"\r\n"
      "[Other]\r\nPOP3Server=wrong\r\n";
  std::string value;
  ASSERT_TRUE(Lookup(ini, "Account", "POP3Server", &value));
  EXPECT_EQ(value, "pop.example.jp");
  ASSERT_TRUE(Lookup(ini, "ACCOUNT", "smtpserver", &value));
  EXPECT_EQ(value, "smtp x") << "one pair of quotes is removed";
  EXPECT_FALSE(Lookup(ini, "Account", "Missing", &value));
  EXPECT_FALSE(Lookup(ini, "Missing", "POP3Server", &value));
  EXPECT_FALSE(Lookup("", "Account", "POP3Server", &value));
  ASSERT_TRUE(Lookup("[A]\r\n;k=z\r\n", "A", ";k", &value)) << "a comment is a key like any other";
  EXPECT_EQ(value, "z");
  EXPECT_FALSE(Lookup("[A]\r\n[a]\r\nk=1\r\n", "A", "k", &value)) << "only the first section of a name";
}

TEST(Profile, UpdateWritesTheFileAsWindowsWritesAProfileItChanged) {
  struct Case {
    const char* what;
    std::string before;
    const char* key;
    const char* value;
    std::string after;
  };
  const Case cases[] = {
      {"replace, blanks around '=' gone", "[A]\r\nk = old ; c\r\nz=1\r\n", "K", "new", "[A]\r\nk=new\r\nz=1\r\n"},
      {"add at the section's end, blank lines gone", "[A]\r\nx=1\r\n\r\n[B]\r\n", "k", "v", "[A]\r\nx=1\r\nk=v\r\n[B]\r\n"},
      {"LF lines and no final line ending become CR LF", "[A]\nx=1", "k", "v", "[A]\r\nx=1\r\nk=v\r\n"},
      {"append a missing section", "[B]\nx=1\n", "k", "v", "[B]\r\nx=1\r\n[A]\r\nk=v\r\n"},
      {"create the file", "", "k", "v", "[A]\r\nk=v\r\n"},
      {"remove a key", "[A]\r\nk=1\r\nj=2\r\n", "k", nullptr, "[A]\r\nj=2\r\n"},
      {"remove a section", "[A]\nk=1\n[B]\nj=2\n", nullptr, nullptr, "[B]\r\nj=2\r\n"},
      {"opaque bytes survive", "[A]\r\n\x83\x5C=\x95\x5C\r\nk=\r\n", "k", "v", "[A]\r\n\x83\x5C=\x95\x5C\r\nk=v\r\n"},
      {"comments are kept as lines", "; top\r\n[A]\r\n;k=1\r\n# note\r\n", "k", "v", "; top\r\n[A]\r\n;k=1\r\n# note\r\nk=v\r\n"},
      {"the first of duplicate keys", "[A]\r\nk=1\r\nk=2\r\n", "k", "3", "[A]\r\nk=3\r\nk=2\r\n"},
      {"the byte-order mark stays", "\xEF\xBB\xBF[A]\nk=1\n", "k", "2", "\xEF\xBB\xBF[A]\r\nk=2\r\n"},
      {"the same value changes nothing", "[A]\n\n k = v\n", "k", " v", "[A]\n\n k = v\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Update(c.before, "A", c.key, c.value), c.after) << c.what;
}

TEST(Profile, ProfileOperationsReadAndWriteRealFiles) {
  Workspace ws;
  const std::string path = WindowsPath(ws.Path("setup.inf"));
  char buffer[260];
  EXPECT_EQ(NativeSystem().GetPrivateProfileStringA("Account", "POP3Server", "", buffer, sizeof buffer, path.c_str()),
            0u);
  EXPECT_STREQ(buffer, "") << "a missing file gives the default";
  EXPECT_TRUE(NativeSystem().WritePrivateProfileStringA("Account", "POP3Server", "pop.example.jp", path.c_str()));
  EXPECT_EQ(ReadText(ws.Path("setup.inf")), "[Account]\r\nPOP3Server=pop.example.jp\r\n");
  EXPECT_EQ(NativeSystem().GetPrivateProfileStringA("ACCOUNT", "pop3server", "", buffer, 5, path.c_str()), 4u);
  EXPECT_STREQ(buffer, "pop.") << "cut to the buffer";
  EXPECT_EQ(FileNames(ws.root()), std::vector<std::string>{"setup.inf"}) << "no temporary file is left";

  // A value is cut before a character that does not fit whole: 258 bytes, then a 3-byte one.
  const std::string long_value = std::string(258, 'v') + "あ";
  EXPECT_TRUE(NativeSystem().WritePrivateProfileStringA("Account", "SMTPServer", long_value.c_str(), path.c_str()));
  EXPECT_EQ(NativeSystem().GetPrivateProfileStringA("Account", "SMTPServer", "", buffer, sizeof buffer, path.c_str()),
            258u);
  EXPECT_EQ(std::string(buffer), std::string(258, 'v'));
}

TEST(Profile, WriterKeepsReadOnlyFilesAndTheModesOfFilesAndTheUmask) {
  Workspace ws;
  const mode_t saved_umask = umask(027);
  const std::string fresh = WindowsPath(ws.Path("fresh.inf")), kept = WindowsPath(ws.Path("kept.inf"));
  EXPECT_TRUE(NativeSystem().WritePrivateProfileStringA("A", "k", "v", fresh.c_str()));
  EXPECT_EQ(std::filesystem::status(ws.Path("fresh.inf")).permissions(), std::filesystem::perms(0640))
      << "a new file has the bits the umask leaves";
  WriteText(ws.Path("kept.inf"), "[A]\r\nk=1\r\n");
  chmod(ws.Path("kept.inf").c_str(), 0604);
  EXPECT_TRUE(NativeSystem().WritePrivateProfileStringA("A", "k", "2", kept.c_str()));
  EXPECT_EQ(std::filesystem::status(ws.Path("kept.inf")).permissions(), std::filesystem::perms(0604));
  umask(saved_umask);

  // A read-only file is neither replaced nor written, even by root; in any spelling of its name.
  WriteText(ws.Path("ro.inf"), "[A]\r\nk=1\r\n");
  chmod(ws.Path("ro.inf").c_str(), 0444);
  EXPECT_FALSE(NativeSystem().WritePrivateProfileStringA("A", "k", "2", WindowsPath(ws.Path("RO.INF")).c_str()));
  EXPECT_EQ(NativeSystem().GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadText(ws.Path("ro.inf")), "[A]\r\nk=1\r\n");
  EXPECT_EQ(FileNames(ws.root()), (std::vector<std::string>{"fresh.inf", "kept.inf", "ro.inf"}));
  chmod(ws.Path("ro.inf").c_str(), 0644);
}

}  // namespace
}  // namespace qmrtest
