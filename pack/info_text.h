// The setup information file's text. The launcher writes the account presets into it through
// the profile functions in its own code page, and they rewrite the whole file: a file in
// another code page comes out damaged. build refuses such a file (or converts it on request),
// verify warns about it.
#pragma once

#include <string>

#include "pack/format.h"
#include "pack/names.h"

namespace pack {

// Why `text` is not text in `code_page`, or an empty text when it is. Code page 932: NUL
// bytes, UTF-8 with characters past ASCII (a byte-order mark counts), or bytes that are no
// character of the code page. UTF-8: NUL bytes or invalid UTF-8.
std::string InfoTextProblem(const Bytes& text, CodePage code_page);

// What verify says of an expanded qmrsetup.in_ that is not text in `code_page`, with the fix;
// an empty text when it is.
std::string InfoTextWarning(const Bytes& text, CodePage code_page);

// The setup information file read from `source`, as build packs it for a stub of `code_page`:
// unchanged when it is text in the code page; with `convert`, taken as UTF-8 (a byte-order
// mark dropped) and converted into the code page. Throws PackError, in one line naming the
// fix, when it is not text in the code page, or with `convert` not UTF-8 or holding a
// character the code page cannot write.
Bytes InfoTextForStub(const Bytes& text, CodePage code_page, bool convert, const std::string& source);

}  // namespace pack
