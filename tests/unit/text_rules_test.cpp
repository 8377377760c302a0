// Path and text rules, table-driven, for Windows inputs in code page 932 and for UTF-8.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "extract/text.h"
#include "format/filetime.h"
#include "format/names.h"

using payload::IsLeadByteCp932;
using payload::IsLeadByteNone;
using payload::IsPlainFileName;

namespace {

// "ソ" is 83 5C and "表" is 95 5C in code page 932: their trail byte is a backslash's value.
const std::string kSo = "\x83\x5C";
const std::string kHyo = "\x95\x5C";

// A path or directory, the code page it is read in, and what it becomes.
struct TextCase {
  std::string text;
  LeadBytePredicate code_page;
  std::string expected;
};

TEST(TextRules, ReplaceFileNameWalksByCharactersOfTheCodePage) {
  const TextCase cases[] = {
      {"C:\\dl\\qmrsfx.exe", IsLeadByteCp932, "C:\\dl\\Disk2"},
      {"C:\\dl\\" + kSo + "\x83\x74\x83\x67.exe", IsLeadByteCp932, "C:\\dl\\Disk2"},
      {"C:\\" + kHyo + "\\setup.exe", IsLeadByteCp932, "C:\\" + kHyo + "\\Disk2"},
      {"C:\\dl\\" + kSo, IsLeadByteNone, "C:\\dl\\\x83\\Disk2"},  // UTF-8 rules: 0x5C is a backslash
      {"C:\\a\\\x81\x81\\x", IsLeadByteCp932, "C:\\a\\\x81\x81\\Disk2"},  // a trail byte in the lead range
      {"C:\\a\\ends\x81", IsLeadByteCp932, "C:\\a\\Disk2"},               // a lead byte at the very end
      {"qmrsfx.exe", IsLeadByteCp932, "Disk2"},
      {"C:/dl/qmrsfx.exe", IsLeadByteCp932, "Disk2"},  // neither a slash nor a colon separates
      {"C:qmrsfx.exe", IsLeadByteCp932, "Disk2"},
      {"\\\\server\\share\\q.exe", IsLeadByteCp932, "\\\\server\\share\\Disk2"},
      {"", IsLeadByteCp932, ""},
  };
  for (const TextCase& c : cases) {
    char path[260] = {};
    c.text.copy(path, sizeof path - 1);
    EXPECT_TRUE(ReplaceFileName(path, sizeof path, "Disk2", c.code_page)) << c.text;
    EXPECT_EQ(std::string(path), c.expected) << c.text;
  }
}

TEST(TextRules, ReplaceFileNameNeverWritesBeyondItsText) {
  char path[260];
  const std::string long_dir = "C:\\" + std::string(250, 'd') + "\\";  // 254 bytes
  for (const auto& [name, fits] : {std::pair<std::string, bool>{"Disk2", true}, {"Disk10", false}}) {
    (void)std::snprintf(path, sizeof path, "%sq", long_dir.c_str());
    EXPECT_EQ(ReplaceFileName(path, sizeof path, name.c_str(), IsLeadByteNone), fits) << name;
    EXPECT_EQ(std::string(path), fits ? long_dir + name : long_dir + "q");
  }
}

TEST(TextRules, TemporaryDirectoryGetsOneTrailingBackslash) {
  const TextCase cases[] = {
      {"C:\\TEMP", IsLeadByteCp932, "C:\\TEMP\\"},
      {"C:\\TEMP\\", IsLeadByteCp932, "C:\\TEMP\\"},
      {"", IsLeadByteCp932, "\\"},
      {"C:\\" + kSo, IsLeadByteCp932, "C:\\" + kSo + "\\"},  // ends in a character, not a backslash
      {"C:\\" + kSo, IsLeadByteNone, "C:\\" + kSo},
  };
  for (const TextCase& c : cases) {
    char dir[260] = {};
    c.text.copy(dir, sizeof dir - 1);
    EXPECT_TRUE(AppendBackslashIfMissing(dir, sizeof dir, c.code_page)) << c.text;
    EXPECT_EQ(std::string(dir), c.expected) << c.text;
  }
  char full[260];
  std::string text(259, 't');
  text.copy(full, sizeof full);
  full[259] = '\0';
  EXPECT_FALSE(AppendBackslashIfMissing(full, sizeof full, IsLeadByteNone));
  EXPECT_EQ(std::string(full), text);
}

TEST(TextRules, EntryNamesMustBePlainFileNames) {
  const std::string sofuto = kSo + "\x83\x74\x83\x67.txt";
  for (const std::string& name : {std::string("qmrsetup.ex_"), std::string("readme"), std::string(".profile"),
                                  std::string("a..b"), std::string("CONFIG.SYS"), std::string("com10"), sofuto,
                                  std::string(" CON.txt"), std::string("CON_.txt"), std::string("LPT0")}) {
    EXPECT_TRUE(IsPlainFileName(name.c_str(), IsLeadByteCp932)) << name;
  }
  for (const std::string& name :
       {std::string(""), std::string("."), std::string(".."), std::string("..\\x"), std::string("a/b"),
        std::string("a\\b"), std::string("C:x"), std::string("x:"), std::string("a."), std::string("a "),
        std::string("CON"), std::string("con.txt"), std::string("Lpt1"), std::string("NUL.tar.gz"),
        std::string("CON .txt"), std::string("COM1 .log"), std::string("NUL . x"), std::string("aux  .c"),
        std::string("conout$ .x"),
        std::string("a*"), std::string("a?"), std::string("a|b"), std::string("a\x01"), std::string("\"q\"")}) {
    EXPECT_FALSE(IsPlainFileName(name.c_str(), IsLeadByteCp932)) << name;
  }
  // The same bytes are a path under UTF-8 rules, where 0x5C is always a backslash.
  EXPECT_FALSE(IsPlainFileName(sofuto.c_str(), IsLeadByteNone));
  // The device a name opens, which the POSIX layer acts on.
  const std::pair<const char*, const char*> devices[] = {
      {"nul . x", "NUL"}, {"Con.txt", "CON"}, {"conout$ .x", "CONOUT$"}, {"lpt9", "LPT9"},
      {"CONOUT", nullptr}, {" CON", nullptr}, {"COM10", nullptr}, {"", nullptr}};
  for (const auto& [name, device] : devices) EXPECT_STREQ(payload::DeviceOf(name), device) << name;
}

TEST(TextRules, NamesDifferingOnlyInAsciiLetterCaseAreOneName) {
  EXPECT_TRUE(payload::SameFileName("QmrSetup.Ex_", "qmrsetup.EX_", IsLeadByteCp932));
  EXPECT_TRUE(payload::SameFileName((kSo + ".Txt").c_str(), (kSo + ".tXT").c_str(), IsLeadByteCp932));
  EXPECT_FALSE(payload::SameFileName("qmrsetup.ex_", "qmrsetup.ex", IsLeadByteCp932));
  EXPECT_FALSE(payload::SameFileName("a_", "a\x7F", IsLeadByteCp932));
  // Trail bytes are no letters: "\x83\x61" and "\x83\x41" are two characters of code page 932.
  EXPECT_FALSE(payload::SameFileName("\x83\x61.txt", "\x83\x41.TXT", IsLeadByteCp932));
  EXPECT_TRUE(payload::SameFileName("\x83\x61.txt", "\x83\x41.TXT", IsLeadByteNone));
  // Without a code page: section and key names, resource types. Only letters fold: '@' and '`',
  // '[' and '{' differ by the case bit too.
  EXPECT_TRUE(payload::EqualIgnoringAsciiCase("CustomData", "CUSTOMDATA"));
  EXPECT_TRUE(payload::EqualIgnoringAsciiCase(std::string_view("ab\0c", 4), std::string_view("AB\0C", 4)));
  for (const auto& [a, b] : {std::pair{"@", "`"}, {"[", "{"}, {"\xE1", "\xC1"}, {"key", "keys"}, {"", "k"}})
    EXPECT_FALSE(payload::EqualIgnoringAsciiCase(a, b)) << a << " " << b;
}

TEST(TextRules, FileTimesAndUnixTimesConvertBothWaysOnEitherSideOf1970) {
  const std::tuple<std::int64_t, std::int64_t, std::uint64_t> cases[] = {
      {0, 0, 116444736000000000ULL},
      {-1, 999999900, 116444735999999999ULL},
      {-11644473600, 0, 0},
      {1714979289, 123456700, 133594528891234567ULL},
  };
  for (const auto& [seconds, nanoseconds, filetime] : cases) {
    EXPECT_EQ(payload::FileTimeFromUnix(seconds, nanoseconds), filetime) << seconds;
    EXPECT_EQ(payload::UnixFromFileTime(filetime).seconds, seconds) << seconds;
    EXPECT_EQ(payload::UnixFromFileTime(filetime).nanoseconds, nanoseconds) << seconds;
  }
  EXPECT_EQ(payload::FileTimeFromUnix(-11644473601), 0u) << "before 1601 is no time";
}

TEST(TextRules, JoinTextsRefusesWhatDoesNotFit) {
  char out[8];
  EXPECT_TRUE(JoinTexts(out, sizeof out, "abc", "defg"));
  EXPECT_STREQ(out, "abcdefg");
  EXPECT_FALSE(JoinTexts(out, sizeof out, "abcd", "efgh"));
  EXPECT_STREQ(out, "");
}

}  // namespace
