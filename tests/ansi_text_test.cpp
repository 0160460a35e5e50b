// The portable ANSI code page (Windows-1252) and upper-case mapping: every byte survives
// a round trip, and upper case agrees with what Windows' CharUpperBuffW gives.

#include <gtest/gtest.h>

#include "records/ansi_text.h"

namespace perlwick {
namespace {

TEST(AnsiText, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    std::wstring wide;
    decode_ansi(byte, wide);
    ASSERT_EQ(wide.size(), 1u) << b;
    std::string back;
    ASSERT_TRUE(encode_ansi(wide, back)) << b;
    EXPECT_EQ(back, byte) << b;
  }
}

TEST(AnsiText, DecodesTheEuroSignAndOtherWindows1252Letters) {
  std::wstring wide;
  decode_ansi("\x80\x8A\x9F\xE9", wide);
  EXPECT_EQ(wide, L"\u20AC\u0160\u0178\u00E9");
}

TEST(AnsiText, RefusesCharactersOutsideTheCodePage) {
  struct Case {
    std::wstring text;
    bool fits;
  };
  const Case cases[] = {
      {L"caf\u00E9", true}, {L"\u20AC 10", true},     {L"", true},
      {L"\u6F22", false},   {L"\uFF5E\uFF5E", false},  // full-width tildes
      {L"ok\u0100", false}, {L"\u03A9", false},
  };
  for (const Case& c : cases) {
    std::string bytes;
    EXPECT_EQ(encode_ansi(c.text, bytes), c.fits) << bytes;
  }
}

TEST(AnsiText, UpperCaseAgreesWithWindows) {
  // Pairs measured with CharUpperBuffW; characters that stay as they are included.
  struct Case {
    std::wstring in, out;
  };
  const Case cases[] = {
      {L"acme", L"ACME"},
      {L"Acme 10", L"ACME 10"},
      {L"stra\u00DFe", L"STRA\u00DFE"},  // sharp s has no one-letter capital
      {L"\u00E9a", L"\u00C9A"},
      {L"\u00FF", L"\u0178"},              // y with diaeresis
      {L"\u00F7\u00B5", L"\u00F7\u00B5"},  // division sign and micro sign stay
      {L"\u0161\u0153\u017E\u0192", L"\u0160\u0152\u017D\u0191"},
      {L"\u00E0\u00FE", L"\u00C0\u00DE"},
      {L"[]{}~", L"[]{}~"},
  };
  for (const Case& c : cases) {
    std::wstring text = c.in;
    upper_case_in_place(text);
    EXPECT_EQ(text, c.out);
  }
}

}  // namespace
}  // namespace perlwick
