#include "store/pending_save.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstring>
#include <functional>

#include "common/fnv1a.h"
#include "common/hex.h"
#include "records/ansi_text.h"

namespace perlwick {
namespace {

// The first line of a pending copy: the version before kept both contents whole; this one
// keeps the content after and the parts of the content before.
constexpr std::string_view kWholeMagic = "Perlwick pending save, version 2\r\n";
constexpr std::string_view kMagic = "Perlwick pending save, version 3\r\n";

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;

// Reads "<label><number><ending>" from the front of text in the given base.
bool take_number(std::string_view& text, std::string_view label, int base, std::uint64_t& value,
                 std::string_view ending = "\r\n") {
  if (!text.starts_with(label)) return false;
  text.remove_prefix(label.size());
  const char* const last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value, base);
  if (error != std::errc() ||
      !std::string_view(end, static_cast<std::size_t>(last - end)).starts_with(ending)) {
    return false;
  }
  text.remove_prefix(static_cast<std::size_t>(end - text.data()) + ending.size());
  return true;
}

// The header's lines after the first, which every version writes: the sizes of the
// contents before and after, and the checksum.
bool take_sizes(std::string_view& copy, std::uint64_t& before, std::uint64_t& after,
                std::uint64_t& sum) {
  return take_number(copy, "before ", 10, before) && take_number(copy, "after ", 10, after) &&
         take_number(copy, "checksum ", 16, sum);
}

// A copy as the version before wrote it: the content before, then the content after.
PendingCopy read_whole_copy(std::string_view copy) {
  PendingCopy found;
  copy.remove_prefix(kWholeMagic.size());
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  std::uint64_t sum = 0;
  if (!take_sizes(copy, before, after, sum) || !copy.starts_with("\r\n")) return found;
  copy.remove_prefix(2);
  if (before > copy.size() || copy.size() - before != after || fnv1a(copy) != sum) {
    return found;
  }
  found.state = PendingCopy::State::complete;
  found.before = copy.substr(0, static_cast<std::size_t>(before));
  found.after = copy.substr(static_cast<std::size_t>(before));
  return found;
}

// A copy of this version: the parts of the content before, each a part of the content
// after or bytes that follow it, rebuilt into rebuilt.
PendingCopy read_parted_copy(std::string_view copy, std::string& rebuilt) {
  PendingCopy found;
  copy.remove_prefix(kMagic.size());
  std::uint64_t before = 0;
  std::uint64_t after = 0;
  std::uint64_t sum = 0;
  if (!take_sizes(copy, before, after, sum)) return found;
  ContentChecksum check;
  check.add(copy);
  if (check.value() != sum) return found;
  struct Part {
    bool in_after;
    std::uint64_t offset;  // in the content after, or among the bytes that follow it
    std::uint64_t size;
  };
  std::vector<Part> parts;
  std::uint64_t parted = 0;
  std::uint64_t extra = 0;
  while (!copy.starts_with("\r\n")) {
    Part part{copy.starts_with("="), 0, 0};
    if (part.in_after ? !take_number(copy, "= ", 10, part.offset, " ") ||
                            !take_number(copy, "", 10, part.size)
                      : !take_number(copy, "+ ", 10, part.size)) {
      return found;
    }
    // Every part lies within the content after, and together they make the content before.
    if (part.size > before - parted) return found;
    if (part.in_after && (part.size > after || part.offset > after - part.size)) return found;
    if (!part.in_after) {
      part.offset = extra;
      extra += part.size;
    }
    parted += part.size;
    parts.push_back(part);
  }
  copy.remove_prefix(2);
  if (parted != before || after > copy.size() || copy.size() - after != extra) return found;
  const std::string_view content_after = copy.substr(0, static_cast<std::size_t>(after));
  const std::string_view taken_out = copy.substr(static_cast<std::size_t>(after));
  rebuilt.clear();
  rebuilt.reserve(static_cast<std::size_t>(before));
  for (const Part& part : parts) {
    rebuilt +=
        (part.in_after ? content_after : taken_out)
            .substr(static_cast<std::size_t>(part.offset), static_cast<std::size_t>(part.size));
  }
  found.state = PendingCopy::State::complete;
  found.before = rebuilt;
  found.after = content_after;
  return found;
}

}  // namespace

void ContentChecksum::add_block(const char* block) {
  for (std::size_t lane = 0; lane < 4; ++lane) {
    std::uint64_t word = 0;
    std::memcpy(&word, block + 8 * lane, 8);
    lanes_[lane] = std::rotl(lanes_[lane] + word * kPrime2, 31) * kPrime1;
  }
}

void ContentChecksum::add(std::string_view bytes) {
  size_ += bytes.size();
  if (held_size_ > 0) {
    const std::size_t taken = std::min(sizeof held_ - held_size_, bytes.size());
    std::memcpy(held_ + held_size_, bytes.data(), taken);
    held_size_ += taken;
    bytes.remove_prefix(taken);
    if (held_size_ < sizeof held_) return;
    add_block(held_);
    held_size_ = 0;
  }
  for (; bytes.size() >= sizeof held_; bytes.remove_prefix(sizeof held_)) add_block(bytes.data());
  std::memcpy(held_, bytes.data(), bytes.size());
  held_size_ = bytes.size();
}

std::uint64_t ContentChecksum::value() const {
  std::uint64_t hash = std::rotl(lanes_[0], 1) + std::rotl(lanes_[1], 7) +
                       std::rotl(lanes_[2], 12) + std::rotl(lanes_[3], 18);
  hash ^= size_ * kPrime1;
  hash = fnv1a(std::string_view(held_, held_size_), hash);
  hash ^= hash >> 33;
  hash *= kPrime2;
  return hash ^ (hash >> 29);
}

std::wstring records_file_key(const std::filesystem::path& records) {
  std::error_code ignored;
  std::filesystem::path full = std::filesystem::absolute(records, ignored);
  if (full.empty()) full = records;
  std::wstring text = full.lexically_normal().wstring();
  upper_case_in_place(text);
  // Each character as the four bytes of its code, lowest first, whatever the compiler's
  // wchar_t: the key names files and locks that every build must find.
  std::uint64_t hash = kFnv1aStart;
  for (const wchar_t c : text) {
    const auto code = static_cast<std::uint32_t>(c);
    for (int shift = 0; shift < 32; shift += 8) hash = fnv1a_step(hash, (code >> shift) & 0xFF);
  }
  return hex_digits<wchar_t>(hash, 16);
}

std::filesystem::path pending_copy_path(const std::filesystem::path& private_folder,
                                        const std::filesystem::path& records) {
  return private_folder / (L"pending-save-" + records_file_key(records) + L".txt");
}

std::string pending_copy_header(std::uint64_t before_size, std::uint64_t after_size,
                                std::uint64_t content_checksum) {
  return std::string(kWholeMagic) + "before " + std::to_string(before_size) + "\r\nafter " +
         std::to_string(after_size) + "\r\nchecksum " + hex_digits<char>(content_checksum, 16) +
         "\r\n\r\n";
}

PendingCopyPieces pending_copy(std::string_view before, std::span<const std::string_view> after) {
  PendingCopyPieces copy;
  std::string parts;
  std::vector<std::string_view> taken_out;
  const auto part = [&](std::string_view kind, std::uint64_t offset, std::uint64_t size) {
    parts += std::string(kind) + (kind == "=" ? " " + std::to_string(offset) : "") + " " +
             std::to_string(size) + "\r\n";
  };
  // The pieces of the content after that are bytes of the content before, in their order
  // there, are parts of it; what lies between them was taken out by the change.
  const std::less<const char*> below;
  std::size_t in_before = 0;
  std::uint64_t in_after = 0;
  for (const std::string_view piece : after) {
    const bool from_before = !piece.empty() && !below(piece.data(), before.data()) &&
                             !below(before.data() + before.size(), piece.data() + piece.size());
    if (from_before) {
      const auto at = static_cast<std::size_t>(piece.data() - before.data());
      if (at < in_before) {  // out of order: the content before is kept whole
        parts.clear();
        taken_out.clear();
        in_before = 0;
        break;
      }
      if (at > in_before) {
        part("+", 0, at - in_before);
        taken_out.push_back(before.substr(in_before, at - in_before));
      }
      part("=", in_after, piece.size());
      in_before = at + piece.size();
    }
    in_after += piece.size();
  }
  if (in_before < before.size()) {
    part("+", 0, before.size() - in_before);
    taken_out.push_back(before.substr(in_before));
  }
  parts += "\r\n";
  copy.content.assign(after.begin(), after.end());
  copy.content.insert(copy.content.end(), taken_out.begin(), taken_out.end());
  ContentChecksum sum;
  sum.add(parts);
  for (const std::string_view piece : copy.content) sum.add(piece);
  copy.header = std::string(kMagic) + "before " + std::to_string(before.size()) + "\r\nafter " +
                std::to_string(in_after) + "\r\nchecksum " + hex_digits<char>(sum.value(), 16) +
                "\r\n" + parts;
  return copy;
}

PendingCopy read_pending_copy(std::string_view copy, std::string& rebuilt) {
  if (copy.starts_with(kMagic)) return read_parted_copy(copy, rebuilt);
  if (copy.starts_with(kWholeMagic)) return read_whole_copy(copy);
  PendingCopy found;
  // A copy cut short within its first line is one of ours all the same, and so is one
  // that starts with a zero: its first bytes never reached the disk.
  if (!kMagic.starts_with(copy) && !kWholeMagic.starts_with(copy) && !copy.starts_with('\0')) {
    found.state = PendingCopy::State::foreign;
  }
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
