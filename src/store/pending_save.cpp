#include "store/pending_save.h"

#include <charconv>

#include "store/ansi_text.h"

namespace perlwick {
namespace {

constexpr std::string_view kMagic = "Perlwick pending save\r\n";

template <typename Char>
std::basic_string<Char> hex16(std::uint64_t value) {
  std::basic_string<Char> text(16, Char('0'));
  for (int i = 15; i >= 0; --i, value >>= 4) {
    text[static_cast<std::size_t>(i)] = static_cast<Char>("0123456789abcdef"[value & 0xF]);
  }
  return text;
}

// Reads "<label> <number>\r\n" from the front of text in the given base.
bool take_number(std::string_view& text, std::string_view label, int base, std::uint64_t& value) {
  if (!text.starts_with(label)) return false;
  text.remove_prefix(label.size());
  const char* const last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value, base);
  if (error != std::errc() ||
      !std::string_view(end, static_cast<std::size_t>(last - end)).starts_with("\r\n")) {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + 2);
  return true;
}

}  // namespace

std::uint64_t checksum(std::string_view bytes, std::uint64_t seed) {
  std::uint64_t hash = seed;
  for (const char byte : bytes) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 1099511628211ull;
  }
  return hash;
}

std::wstring records_file_key(const std::filesystem::path& records) {
  std::error_code ignored;
  std::filesystem::path full = std::filesystem::absolute(records, ignored);
  if (full.empty()) full = records;
  std::wstring text = full.lexically_normal().wstring();
  upper_case_in_place(text);
  std::uint64_t hash = kChecksumStart;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    for (int shift = 0; shift < 32; shift += 8) {
      hash ^= (code >> shift) & 0xFF;
      hash *= 1099511628211ull;
    }
  }
  return hex16<wchar_t>(hash);
}

std::filesystem::path pending_copy_path(const std::filesystem::path& private_folder,
                                        const std::filesystem::path& records) {
  return private_folder / (L"pending-save-" + records_file_key(records) + L".txt");
}

std::string pending_copy_header(std::uint64_t size, std::uint64_t content_checksum) {
  return std::string(kMagic) + "size " + std::to_string(size) + "\r\nchecksum " +
         hex16<char>(content_checksum) + "\r\n\r\n";
}

std::optional<std::string_view> pending_copy_content(std::string_view copy) {
  if (!copy.starts_with(kMagic)) return std::nullopt;
  copy.remove_prefix(kMagic.size());
  std::uint64_t size = 0;
  std::uint64_t sum = 0;
  if (!take_number(copy, "size ", 10, size) || !take_number(copy, "checksum ", 16, sum) ||
      !copy.starts_with("\r\n")) {
    return std::nullopt;
  }
  copy.remove_prefix(2);
  if (copy.size() != size || checksum(copy) != sum) return std::nullopt;
  return copy;
}

}  // namespace perlwick
