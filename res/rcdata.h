// The launcher's texts and dialog layout as the POSIX layer sees them, generated at build time
// from the resource script (the single source of every user-visible text).
#pragma once

namespace rcdata {

struct String {
  unsigned id;
  const char* text;  // UTF-8
};

struct Control {
  int id;
  const char* class_name;  // "Static", "msctls_progress32", ...
  const char* text;        // the text, or the resource id of an icon as "#106"
  int x, y, width, height; // dialog units
};

struct Dialog {
  unsigned id;
  const char* caption;
  const char* font_face;
  int font_size;
  int x, y, width, height;
  const Control* controls;
  int control_count;
};

extern const String kStrings[];
extern const int kStringCount;
extern const Dialog kDialogs[];
extern const int kDialogCount;
// The version text of the resource script, NUL-padded to 16 bytes.
extern const char kDefaultVersion[16];

// The custom resources of the Linux launcher, kept in their own ELF section where the packer
// finds and stamps them: the tag "QMRRSRC1", the payload offset (resource 104, 4 bytes LE,
// -1 until stamped) and the version text (resource 105, 16 bytes).
struct ResourceRecord {
  char tag[8];
  unsigned char payload_offset[4];
  char version[16];
};

}  // namespace rcdata

// Read only through this volatile object, so the compiler cannot fold the placeholder values
// into the code that reads them.
extern "C" __attribute__((section(".qmrrsrc"))) const volatile rcdata::ResourceRecord qmr_resource_record;
