#include "store/pending_save.h"

#include <algorithm>
#include <charconv>

#include "store/ansi_text.h"

namespace perlwick {
namespace {

constexpr std::string_view kMagic = "Perlwick pending save, version 2\r\n";

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

std::string pending_copy_header(std::uint64_t before_size, std::uint64_t after_size,
                                std::uint64_t content_checksum) {
  return std::string(kMagic) + "before " + std::to_string(before_size) + "\r\nafter " +
         std::to_string(after_size) + "\r\nchecksum " + hex16<char>(content_checksum) + "\r\n\r\n";
}

PendingCopy read_pending_copy(std::string_view copy) {
  PendingCopy found;
  // A copy cut short within its first line is one of ours all the same, and so is one
  // that starts with a zero: its first bytes never reached the disk.
  if (!copy.starts_with(kMagic)) {
    if (!kMagic.starts_with(copy) && !copy.starts_with('\0')) {
      found.state = PendingCopy::State::foreign;
    }
    return found;
  }
  copy.remove_prefix(kMagic.size());
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  std::uint64_t sum = 0;
  if (!take_number(copy, "before ", 10, before) || !take_number(copy, "after ", 10, after) ||
      !take_number(copy, "checksum ", 16, sum) || !copy.starts_with("\r\n")) {
    return found;
  }
  copy.remove_prefix(2);
  if (before > copy.size() || copy.size() - before != after || checksum(copy) != sum) {
    return found;
  }
  found.state = PendingCopy::State::complete;
  found.before = copy.substr(0, static_cast<std::size_t>(before));
  found.after = copy.substr(static_cast<std::size_t>(before));
  return found;
}

// A rewrite writes its content from the start of the file and cuts the file to that
// content's length only at its end: the file is never shorter than the old content until
// it is exactly the new one, never longer than the longer of the two, and beyond the old
// content's end it holds only new bytes.
bool PendingCopy::could_leave_size(std::uint64_t size) const {
  return size == after.size() ||
         (size >= before.size() && size <= std::max(before.size(), after.size()));
}

bool PendingCopy::could_leave(std::uint64_t offset, std::string_view bytes) const {
  // Every byte is the old content's or the new content's at its place; beyond the old
  // content's end, it may also be a zero: a file system that kept the file's new length
  // when the power went, but not all the bytes written into it, reads zeros there.
  const auto part = [&](std::string_view content) {
    return offset < content.size() ? content.substr(static_cast<std::size_t>(offset), bytes.size())
                                   : std::string_view();
  };
  const std::string_view old_part = part(before);
  const std::string_view new_part = part(after);
  if (new_part == bytes || old_part == bytes) return true;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (!((i < old_part.size() && old_part[i] == bytes[i]) ||
          (i < new_part.size() && new_part[i] == bytes[i]) ||
          (offset + i >= before.size() && bytes[i] == '\0'))) {
      return false;
    }
  }
  return true;
}

}  // namespace perlwick
