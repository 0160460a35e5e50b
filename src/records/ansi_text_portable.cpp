// Windows-1252 and its upper-case mapping, for builds without the Windows API. The five
// bytes that Windows-1252 leaves undefined map to the control characters of the same
// value, as Windows itself maps them, so every byte round-trips. The made-up code page of
// two bytes a character takes their place when asked for.

#include <array>
#include <atomic>

#include "records/ansi_text.h"

namespace perlwick {
namespace {

// The characters of the bytes 0x80 to 0x9F.
constexpr std::array<wchar_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

constexpr std::array<wchar_t, 256> make_decode_table() {
  std::array<wchar_t, 256> table{};
  for (unsigned b = 0; b < 256; ++b) {
    table[b] = (b >= 0x80 && b < 0xA0) ? kHighControls[b - 0x80] : static_cast<wchar_t>(b);
  }
  return table;
}

constexpr std::array<wchar_t, 256> kDecode = make_decode_table();

bool encode_char(wchar_t c, char& out) {
  const auto code = static_cast<unsigned long>(c);
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
    out = static_cast<char>(static_cast<unsigned char>(code));
    return true;
  }
  for (unsigned i = 0; i < kHighControls.size(); ++i) {
    if (kHighControls[i] == c) {
      out = static_cast<char>(static_cast<unsigned char>(0x80 + i));
      return true;
    }
  }
  return false;
}

std::atomic<bool> double_byte{false};

bool is_lead(unsigned char byte) {
  return byte >= 0x81 && byte <= 0xFE;
}

bool is_trail(unsigned char byte) {
  return byte >= 0x40 && byte <= 0xFE;
}

void decode_double_byte(std::string_view bytes, std::wstring& out) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (!is_lead(b)) {
      out.push_back(static_cast<wchar_t>(b));
    } else if (i + 1 < bytes.size() && is_trail(static_cast<unsigned char>(bytes[i + 1]))) {
      out.push_back(static_cast<wchar_t>(b << 8 | static_cast<unsigned char>(bytes[++i])));
    } else {
      out.push_back(L'\uFFFD');
    }
  }
}

bool encode_double_byte(std::wstring_view text, std::string& out) {
  for (const wchar_t c : text) {
    const auto code = static_cast<unsigned long>(c);
    if (code <= 0xFF && !is_lead(static_cast<unsigned char>(code))) {
      out.push_back(static_cast<char>(code));
    } else if (code <= 0xFFFF && is_lead(code >> 8 & 0xFF) && is_trail(code & 0xFF)) {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

void use_double_byte_code_page(bool use) {
  double_byte = use;
}

void decode_ansi(std::string_view bytes, std::wstring& out) {
  if (double_byte) return decode_double_byte(bytes, out);
  const std::size_t start = out.size();
  out.resize(start + bytes.size());
  wchar_t* dest = out.data() + start;
  for (const char b : bytes) *dest++ = kDecode[static_cast<unsigned char>(b)];
}

bool encode_ansi(std::wstring_view text, std::string& out) {
  if (double_byte) return encode_double_byte(text, out);
  out.reserve(out.size() + text.size());
  for (const wchar_t c : text) {
    char b = 0;
    if (!encode_char(c, b)) return false;
    out.push_back(b);
  }
  return true;
}

const SingleByteCodePage* single_byte_code_page() {
  if (double_byte) return nullptr;
  static const SingleByteCodePage code_page = [] {
    SingleByteCodePage table{};
    std::wstring upper(kDecode.begin(), kDecode.end());
    upper_case_in_place(upper);
    for (unsigned b = 0; b < 256; ++b) {
      table.character[b] = kDecode[b];
      table.upper[b] = upper[b];
    }
    return table;
  }();
  return &code_page;
}

bool ansi_is_lead_byte(unsigned char byte) {
  return double_byte && is_lead(byte);
}

void upper_case_in_place(std::wstring& text) {
  for (wchar_t& c : text) {
    const auto code = static_cast<unsigned long>(c);
    if (double_byte) {
      // a to z, alone or as the trail of a character of two bytes.
      const unsigned long letter = code <= 0x7F || is_lead(code >> 8 & 0xFF) ? code & 0xFF : 0;
      if (letter >= L'a' && letter <= L'z') c = static_cast<wchar_t>(code - 0x20);
    } else if ((code >= L'a' && code <= L'z') || (code >= 0xE0 && code <= 0xFE && code != 0xF7)) {
      c = static_cast<wchar_t>(code - 0x20);
    } else if (code == 0xFF) {
      c = static_cast<wchar_t>(0x178);
    } else if (code == 0x153 || code == 0x161 || code == 0x17E) {
      c = static_cast<wchar_t>(code - 1);
    } else if (code == 0x192) {
      c = static_cast<wchar_t>(0x191);
    }
  }
}

}  // namespace perlwick
