#pragma once

// A save that rewrites the records file in place (where its folder refuses new files)
// first keeps a complete copy of the records file's content after the change, and what it
// takes to rebuild the content before it, in the account's private folder: the pending
// copy. Should the rewrite be interrupted, the next start or edit finishes it from that
// copy, but only over what the rewrite can have left: the old content with a part of the
// new written over it. The copy carries the lengths and a checksum, so that a copy that
// was itself cut short is told from a complete one.
//
// The content before is kept as the parts of it that the content after holds too (where
// they stand in it) and the bytes the change took out: for an edit of one record, a few
// bytes beside the new content. A copy written by the version before, which held both
// contents whole, is finished all the same.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/fnv1a.h"

namespace perlwick {

// Sixteen hex digits that stand for a records file's full path, the same for every
// spelling of it, to name what belongs to that file.
std::wstring records_file_key(const std::filesystem::path& records);

// Where the pending copy for a records file is kept.
std::filesystem::path pending_copy_path(const std::filesystem::path& private_folder,
                                        const std::filesystem::path& records);

// The checksum of a pending copy's content, taken in parts: eight bytes a step in four
// lanes, several times faster than FNV-1a over a copy of hundreds of megabytes.
class ContentChecksum {
 public:
  void add(std::string_view bytes);
  std::uint64_t value() const;

 private:
  void add_block(const char* block);

  std::uint64_t lanes_[4] = {kFnv1aStart, 0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full,
                             0x165667B19E3779F9ull};
  char held_[32] = {};
  std::size_t held_size_ = 0;
  std::uint64_t size_ = 0;
};

// A pending copy of a save from before to the content of after's pieces, in the order it
// is written: its header, after's pieces, then the bytes of before that after does not
// hold. The pieces are views: into before and after, and into header.
struct PendingCopyPieces {
  std::string header;
  std::vector<std::string_view> content;
};
PendingCopyPieces pending_copy(std::string_view before, std::span<const std::string_view> after);

// What comes before the content in a pending copy written by the version before: content
// of before_size bytes, then of after_size, both whole; content_checksum (FNV-1a) covers
// both, before first.
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

// A pending copy as it was found in copy; a content before that had to be rebuilt is kept in
// rebuilt, which lives as long as the result.
PendingCopy read_pending_copy(std::string_view copy, std::string& rebuilt);

}  // namespace perlwick
