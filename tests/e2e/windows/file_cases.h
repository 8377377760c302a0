// The file-system cases run through both platform layers, the Windows one under Wine and the
// POSIX one, whose outcomes must agree: one table, read by the case runner (built for both) and
// by the test that compares them. Names are UTF-8 here; the Windows runner passes them in the
// ANSI code page (932 in the tests' Japanese prefix).
#pragma once

#include <cstdint>

namespace filecases {

enum class Op {
  kCreate,        // CreateFileA(GENERIC_WRITE, 0, CREATE_ALWAYS), then `text` written and closed
  kCreateNew,     // CreateFileA(GENERIC_WRITE, 0, CREATE_NEW), then closed
  kRead,          // CreateFileA(GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), read whole, closed
  kExists,        // CreateFileA(0, FILE_SHARE_READ, OPEN_EXISTING), as the hand-off tests a file
  kDelete,        // DeleteFileA
  kSetTime,       // created as kCreate, then SetFileTime(last write = `time`)
  kGetProfile,    // GetPrivateProfileStringA(section, key, text as the default, 260 bytes)
  kWriteProfile,  // WritePrivateProfileStringA(section, key, text)
};

// A file (or, with a null text, a directory) made in the case's fresh directory before its
// steps run.
struct Setup {
  const char* name = nullptr;
  const char* text = nullptr;
  bool read_only = false;
};

// The name "@259" or "@260" stands for a name that makes the whole path that many bytes.
struct Step {
  Op op = Op::kExists;
  const char* name = nullptr;
  const char* text = nullptr;
  const char* section = nullptr;
  const char* key = nullptr;
  std::uint64_t time = 0;
};

struct Case {
  const char* id;
  Setup setup[3];
  Step steps[4];
  // Why the two layers may answer the steps differently; null when they must agree.
  const char* results_differ = nullptr;
  // The files left on disk must agree unless this says why not.
  const char* disk_differs = nullptr;
};

inline constexpr std::uint64_t kTopBit = 0x8000000000000000ULL;
inline constexpr const char* kSerialPortDiffers =
    "Windows opens a serial port the machine has (Wine maps COM1, and AUX with it, to the first "
    "one); the POSIX layer has no ports. Neither writes a file, and the launcher refuses device "
    "names before it opens anything.";
inline constexpr const char* kWineAsRootDiffers =
    "Wine run by root writes a read-only file (the file system lets root); Windows, Wine run "
    "by anyone else, and the POSIX layer refuse it with ERROR_ACCESS_DENIED.";

inline constexpr const char* kTwoSpellingsDiffer =
    "Windows cannot hold two spellings of one name; Wine, given them by a case-sensitive file "
    "system, takes the exact spelling asked for, while the POSIX layer takes the one least in "
    "byte order whatever the spelling, so that every spelling the launcher uses reaches one file.";

inline constexpr const char* kCodePageDiffers =
    "the same lines are written, but Wine reads the file in code page 932, where the bytes EF BB "
    "are no character, and writes 81 45 (U+30FB) in their place; in the POSIX layer's UTF-8 "
    "they are one, and are written back as they were.";

constexpr Step Create(const char* name, const char* text = "data") { return {Op::kCreate, name, text}; }
constexpr Step CreateNew(const char* name) { return {Op::kCreateNew, name}; }
constexpr Step Read(const char* name) { return {Op::kRead, name}; }
constexpr Step Exists(const char* name) { return {Op::kExists, name}; }
constexpr Step Delete(const char* name) { return {Op::kDelete, name}; }
constexpr Step SetTime(std::uint64_t time) { return {Op::kSetTime, "t", "data", nullptr, nullptr, time}; }
constexpr Step Get(const char* section, const char* key, const char* fallback = "none") {
  return {Op::kGetProfile, "p.ini", fallback, section, key};
}
constexpr Step Put(const char* section, const char* key, const char* value, const char* file = "p.ini") {
  return {Op::kWriteProfile, file, value, section, key};
}
constexpr Setup Ini(const char* text) { return {"p.ini", text}; }

// clang-format off
inline const Case kCases[] = {
    // Letter case: one file per name whatever its case, keeping the spelling it was made with.
    {"create-replaces-other-case", {{"qmrsetup.ex_", "stale"}}, {Create("QmrSetup.Ex_", "fresh"), Read("qmrsetup.ex_")}},
    {"two-creates-differing-in-case", {}, {Create("Readme.txt", "first"), Create("README.TXT", "second")}},
    {"create-new-over-other-case", {{"a.txt", "old"}}, {CreateNew("A.TXT")}},
    {"open-exists-delete-other-case", {{"QmrSetup.Inf", "inf"}},
     {Read("QMRSETUP.INF"), Exists("qmrsetup.inf"), Delete("qmrsetup.INF"), Delete("qmrsetup.inf")}},
    {"spellings-reach-one-file", {}, {Create("QmrSetup.Ex_", "set"), Read("qmrsetup.ex_"), Delete("QMRSETUP.EX_"),
     Exists("QmrSetup.Ex_")}},
    {"two-spellings-on-disk", {{"qmrsetup.ex_", "lower"}, {"QMRSETUP.EX_", "upper"}},
     {Read("qmrsetup.ex_"), Read("QmrSetup.Ex_")}, kTwoSpellingsDiffer},
    {"missing-file", {}, {Read("missing"), Exists("missing"), Delete("missing")}},
    {"missing-directory", {}, {Create("nodir\\a"), Read("nodir\\a"), Delete("nodir\\a")}},
    // Trailing dots and spaces are stripped from the last component.
    {"create-trailing-dot", {}, {Create("name."), Exists("name")}},
    {"create-trailing-space", {}, {Create("name "), Exists("name")}},
    {"create-trailing-dots-and-spaces", {}, {Create("name. . ")}},
    {"open-and-delete-with-trailing-dot", {{"b.txt", "b"}}, {Read("b.txt."), Exists("B.TXT "), Delete("b.txt. ")}},
    // Device names, in every form.
    {"device-con", {}, {Create("CON"), Exists("con")}},
    {"device-con-extension", {}, {Create("con.txt"), Exists("CON.log"), Delete("con.txt")}},
    {"device-con-space-extension", {}, {Create("CON .txt"), Exists("CON .txt"), Delete("COM3 .txt"), Delete("lpt1")}},
    {"device-nul", {}, {Create("NUL . x"), Exists("nul"), Read("nul.txt"), Delete("NUL")}},
    {"device-serial", {}, {Exists("AUX"), Exists("COM1"), Exists("COM1 .log")}, kSerialPortDiffers},
    {"device-ports", {}, {Exists("prn.txt"), Exists("com5.txt"), Exists("COM9"), Create("COM2 .log")}},
    {"device-lpt", {}, {Exists("LPT1"), Exists("lpt5.txt"), Exists("LPT9"), Create("LPT2 .a")}},
    {"console-names", {}, {Create("CONIN$"), Create("CONOUT$")}},
    {"not-devices", {}, {Create("COM10"), Create("CONSOLE"), Create("NULL.txt"), Create("LPT0")}},
    // Code page 932: a trail byte 0x5C is no backslash, and trail bytes are not letters.
    {"cp932-names", {}, {Create("ソフト.txt", "so"), Create("表.txt", "hyo"), Read("表.txt"), Exists("ソフト.TXT")}},
    {"cp932-trail-byte-is-no-letter", {{"ア.txt", "a"}}, {Exists("ャ.txt"), Read("ア.TXT")}},
    // Paths of 259 bytes fit a Windows path; 260 do not.
    {"path-259-bytes", {}, {Create("@259"), Read("@259")}},
    {"path-260-bytes", {}, {Create("@260"), Exists("@260")}},
    // An existing read-only file, a directory where a file is expected.
    {"read-only-file", {{"ro.txt", "ro", true}}, {Read("ro.txt"), Exists("RO.TXT"), Delete("ro.txt"), Read("RO.txt")}},
    {"read-only-file-replaced", {{"ro.txt", "ro", true}}, {Create("RO.TXT")}, kWineAsRootDiffers, kWineAsRootDiffers},
    {"read-only-profile-written", {{"p.ini", "[A]\r\nk=1\r\n", true}}, {Put("A", "k", "2", "P.INI"), Get("A", "k")},
     kWineAsRootDiffers, kWineAsRootDiffers},
    {"directory-for-a-file", {{"sub", nullptr}}, {Create("sub"), Read("SUB"), Exists("sub"), Delete("sub")}},
    {"create-new-over-directory", {{"sub", nullptr}}, {CreateNew("sub")}},
    // Last-write times: 0 leaves the time; a FILETIME with its top bit set is no time.
    {"time-normal", {}, {SetTime(126254943067891234ULL)}},
    {"time-zero", {}, {SetTime(0)}},
    {"time-1601", {}, {SetTime(1)}},
    {"time-before-1970", {}, {SetTime(116444735999999999ULL)}},
    {"time-largest", {}, {SetTime(0x7FFFFFFFFFFFFFFFULL)}},
    {"time-top-bit", {}, {SetTime(kTopBit)}},
    {"time-top-bit-fuzzed", {}, {SetTime(0x817DD9F3B0E5D481ULL)}},
    {"time-all-bits", {}, {SetTime(0xFFFFFFFFFFFFFFFFULL)}},
    {"time-all-bits-but-one", {}, {SetTime(0xFFFFFFFFFFFFFFFEULL)}},
    // Profile files: what is read, and the file written, byte for byte.
    {"profile-case-of-names", {Ini("[Account]\r\nPOP3Server=a\r\n")},
     {Get("ACCOUNT", "pop3server"), Put("account", "POP3SERVER", "b"), Get("Account", "POP3Server")}},
    {"profile-spaces-around-equals", {Ini("[A]\r\n k = v \r\n  k2=  v2\r\nk3 =\r\n")},
     {Get("A", "k"), Get("A", "k2"), Get("A", "k3"), Put("A", "k", "x")}},
    {"profile-comments", {Ini("; head\r\n[A]\r\n;k=z\r\nk=v ; tail\r\n# hash\r\n")},
     {Get("A", "k"), Get("A", ";k"), Put("A", "k", "w"), Put("A", "n", "m")}},
    {"profile-duplicate-keys", {Ini("[A]\r\nk=1\r\nk=2\r\n")}, {Get("A", "k"), Put("A", "k", "3")}},
    {"profile-duplicate-sections", {Ini("[A]\r\nk=1\r\n[B]\r\nb=0\r\n[a]\r\nj=2\r\n")},
     {Get("A", "j"), Put("A", "j", "3"), Put("A", "n", "4")}},
    {"profile-no-final-newline", {Ini("[A]\r\nk=v")}, {Get("A", "k"), Put("A", "n", "w")}},
    {"profile-lf-lines", {Ini("[A]\nk=v\n\n[B]\nx=1\n")}, {Get("B", "x"), Put("A", "k", "w"), Put("C", "c", "y")}},
    {"profile-utf8-mark", {Ini("\xEF\xBB\xBF[A]\r\nk=v\r\n")}, {Get("A", "k"), Put("A", "k", "w")}},
    {"profile-quotes-and-blank-lines", {Ini("[S]\r\nName=Q\r\n\r\nq=\"quoted\"\r\n\r\n[Account]\r\nPOP3Server=\r\n")},
     {Get("S", "q"), Put("Account", "POP3Server", "pop.example.jp"), Put("Account", "SMTPServer", "smtp.example.jp")}},
    {"profile-mark-bytes-not-first", {Ini("\r\n\xEF\xBB\xBF[B]\r\nx=1\r\n")}, {Get("B", "x"), Put("B", "x", "2")}, nullptr,
     kCodePageDiffers},
    {"profile-section-without-a-name", {Ini("[A]\r\na=1\r\n[]\r\nb=2\r\n")}, {Get("A", "b"), Put("A", "n", "3")}},
    {"profile-new-file", {}, {Get("A", "k", "fallback"), Put("Account", "POP3Server", "pop", "new.ini")}},
    {"profile-value-cut-to-the-buffer", {Ini("[A]\r\nk=" "0123456789012345678901234567890123456789012345678901234567890123"
                                             "0123456789012345678901234567890123456789012345678901234567890123"
                                             "0123456789012345678901234567890123456789012345678901234567890123"
                                             "0123456789012345678901234567890123456789012345678901234567890123xyz and more\r\n")},
     {Get("A", "k")}},
    // Names that convert only with '?': the '?' of the conversion (like the other wildcard and
    // the characters the shell reserves) is no character of a name, so the name is refused,
    // even where a POSIX file of that very name exists.
    {"question-mark-in-a-name", {{"q?.txt", "posix"}},
     {Read("q?.txt"), Exists("Q?.TXT"), Create("q?.txt"), Delete("q?.txt")}},
    {"question-mark-in-a-directory", {{"d?", nullptr}}, {Create("d?\\a"), Exists("d?\\a"), CreateNew("?"), Delete("?")}},
    {"wildcard-and-reserved-characters", {}, {Create("a*b"), Create("a<b>"), Create("a|b"), Create("a\"b")}},
    {"question-mark-in-a-profile-name", {}, {Put("A", "k", "v", "?.ini"), Put("A", "k", "v", "p?.ini")}},
};
// clang-format on

}  // namespace filecases
