#pragma once

// A save that rewrites the records file in place (where its folder refuses new files)
// first keeps a complete copy of the records file's content before and after the change
// in the account's private folder: the pending copy. Should the rewrite be interrupted,
// the next start or edit finishes it from that copy, but only over what the rewrite can
// have left: the old content with a part of the new written over it. The copy carries the
// lengths and a checksum, so that a copy that was itself cut short is told from a
// complete one.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace perlwick {

// Sixteen hex digits that stand for a records file's full path, the same for every
// spelling of it, to name what belongs to that file.
std::wstring records_file_key(const std::filesystem::path& records);

// Where the pending copy for a records file is kept.
std::filesystem::path pending_copy_path(const std::filesystem::path& private_folder,
                                        const std::filesystem::path& records);

// A 64-bit FNV-1a checksum; pass the result of one part as the seed of the next.
inline constexpr std::uint64_t kChecksumStart = 14695981039346656037ull;
std::uint64_t checksum(std::string_view bytes, std::uint64_t seed = kChecksumStart);

// What comes before the content in a pending copy of a save from content of before_size
// bytes to content of after_size bytes; content_checksum covers both, before first.
std::string pending_copy_header(std::uint64_t before_size, std::uint64_t after_size,
                                std::uint64_t content_checksum);

// A pending copy as it was found: complete, cut short or damaged, or not one at all
// (written by another program, or by a version of Perlwick that kept other copies).
struct PendingCopy {
  enum class State { complete, damaged, foreign };
  State state = State::damaged;
  std::string_view before;  // the records file's content when the save began
  std::string_view after;   // what the save writes

  // Whether a records file of that size and with bytes at offset can be what a rewrite
  // of before into after, or back, left when it was interrupted. Checked chunk by chunk,
  // the whole file must pass.
  bool could_leave_size(std::uint64_t size) const;
  bool could_leave(std::uint64_t offset, std::string_view bytes) const;
};

PendingCopy read_pending_copy(std::string_view copy);

}  // namespace perlwick
