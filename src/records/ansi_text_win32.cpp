// The system's ANSI code page and upper-case mapping.

#include <windows.h>

#include <algorithm>
#include <climits>
#include <memory>

#include "records/ansi_text.h"

namespace perlwick {
namespace {

int checked_length(std::size_t size) {
  return size > INT_MAX ? -1 : static_cast<int>(size);
}

}  // namespace

void decode_ansi(std::string_view bytes, std::wstring& out) {
  const int in_size = checked_length(bytes.size());
  if (in_size <= 0) return;
  const int needed = MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_size, nullptr, 0);
  if (needed <= 0) return;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(needed));
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), in_size, out.data() + start, needed);
}

bool encode_ansi(std::wstring_view text, std::string& out) {
  const int in_size = checked_length(text.size());
  if (in_size < 0) return false;
  if (in_size == 0) return true;
  // WC_NO_BEST_FIT_CHARS stops "similar" substitutions in the code pages that allow the
  // flag; the round trip below catches every other substitution, in every code page.
  const UINT acp = GetACP();
  const DWORD flags = (acp == CP_UTF8 || acp == CP_UTF7 || acp == 54936) ? 0 : WC_NO_BEST_FIT_CHARS;
  const int needed =
      WideCharToMultiByte(CP_ACP, flags, text.data(), in_size, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  const std::size_t start = out.size();
  out.resize(start + static_cast<std::size_t>(needed));
  WideCharToMultiByte(CP_ACP, flags, text.data(), in_size, out.data() + start, needed, nullptr,
                      nullptr);
  std::wstring back;
  decode_ansi(std::string_view(out).substr(start), back);
  return back == text;
}

const SingleByteCodePage* single_byte_code_page() {
  static const std::unique_ptr<SingleByteCodePage> code_page = []() {
    CPINFO info{};
    if (!GetCPInfo(CP_ACP, &info) || info.MaxCharSize != 1)
      return std::unique_ptr<SingleByteCodePage>();
    auto table = std::make_unique<SingleByteCodePage>();
    for (unsigned b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      wchar_t c = 0;
      if (MultiByteToWideChar(CP_ACP, 0, &byte, 1, &c, 1) != 1) c = static_cast<wchar_t>(b);
      table->character[b] = c;
      table->upper[b] = c;
      CharUpperBuffW(&table->upper[b], 1);
    }
    return table;
  }();
  return code_page.get();
}

bool ansi_is_lead_byte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

void upper_case_in_place(std::wstring& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const std::size_t chunk = std::min<std::size_t>(text.size() - done, 1u << 30);
    CharUpperBuffW(text.data() + done, static_cast<DWORD>(chunk));
    done += chunk;
  }
}

}  // namespace perlwick
