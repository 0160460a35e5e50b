#pragma once

// The two text services the record store takes from the platform. On Windows they are
// the system's ANSI code page and the system's upper-case mapping; elsewhere (and in the
// unit tests) Windows-1252 and an upper-case mapping that agrees with Windows for it.

#include <array>
#include <string>
#include <string_view>

namespace perlwick {

// Appends the wide form of bytes in the ANSI code page to out.
void decode_ansi(std::string_view bytes, std::wstring& out);

// Appends the ANSI form of text to out. Returns false when some character has no exact
// form in the code page (nothing is substituted then; what out holds is of no use).
bool encode_ansi(std::wstring_view text, std::string& out);

// When every byte is one character of the ANSI code page (Windows-1252 and the other
// single-byte code pages): the character of every byte and its upper-case form, so that
// names can be compared without decoding them. Nothing for code pages of several bytes a
// character.
struct SingleByteCodePage {
  std::array<wchar_t, 256> character;
  std::array<wchar_t, 256> upper;
};
const SingleByteCodePage* single_byte_code_page();

// True when byte starts a character of two bytes in the ANSI code page (the double-byte
// code pages, whose second byte may be '~'). Never true in UTF-8, where '~' is only ever
// itself.
bool ansi_is_lead_byte(unsigned char byte);

// Maps text to upper case in place, one character for one.
void upper_case_in_place(std::wstring& text);

#ifndef _WIN32
// Builds without the Windows API only, so that the code for code pages of two bytes a
// character runs natively: while true, the ANSI code page is a made-up one of that kind.
// The bytes 0x81 to 0xFE lead a character of two bytes, lead * 256 + trail, whose trail
// byte (0x40 to 0xFE, '~' among them) makes it lower case when it is a to z and upper case
// when A to Z; every other byte is the character of its value. A lead byte without a
// trail decodes to U+FFFD.
void use_double_byte_code_page(bool use);
#endif

}  // namespace perlwick
