// The launcher's texts and dialog layout as the POSIX layer sees them, generated at build time
// from the resource script (the single source of every user-visible text).
#pragma once

#include <cstddef>

#include "format/layout.h"

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

// The custom resources of the Linux launcher, kept in their own ELF section where the packer
// finds and stamps them, laid out as the set format says: the tag, the payload offset
// (resource 104, -1 until stamped) and the version text (resource 105).
struct ResourceRecord {
  char tag[sizeof payload::kElfRecordTag];
  unsigned char payload_offset[payload::kOffsetResourceSize];
  char version[payload::kVersionResourceSize];
};
static_assert(offsetof(ResourceRecord, payload_offset) == payload::kElfRecordOffsetField &&
              offsetof(ResourceRecord, version) == payload::kElfRecordVersionField &&
              sizeof(ResourceRecord) == payload::kElfRecordSize);

}  // namespace rcdata

// Read only through this volatile object, so the compiler cannot fold the placeholder values
// into the code that reads them. rcgen defines it in the section payload::kElfSectionName.
extern "C" const volatile rcdata::ResourceRecord qmr_resource_record;
