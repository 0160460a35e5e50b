#pragma once

// The two text services the record store takes from the platform. On Windows they are
// the system's ANSI code page and the system's upper-case mapping; elsewhere (and in the
// unit tests) Windows-1252 and an upper-case mapping that agrees with Windows for it.

#include <string>
#include <string_view>

namespace perlwick {

// Appends the wide form of bytes in the ANSI code page to out.
void decode_ansi(std::string_view bytes, std::wstring& out);

// Appends the ANSI form of text to out. Returns false when some character has no exact
// form in the code page (nothing is substituted then; out holds unspecified bytes).
bool encode_ansi(std::wstring_view text, std::string& out);

// True when every byte below 0x80 is a character of its own in the ANSI code page, so a
// line can be searched for "~~" without decoding it first (single-byte code pages and
// UTF-8; not the double-byte code pages, whose trail bytes can be '~').
bool ansi_ascii_is_standalone();

// Maps text to upper case in place, one character for one.
void upper_case_in_place(std::wstring& text);

}  // namespace perlwick
