#pragma once

// A save that rewrites the records file in place (where its folder refuses new files)
// first keeps a complete copy of the new content in the account's private folder: the
// pending copy. Should the rewrite be interrupted, the next start or edit finishes it from
// that copy. The copy carries its length and a checksum, so that a copy that was itself
// cut short is told from a complete one and discarded.

#include <cstdint>
#include <filesystem>
#include <optional>
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

// What comes before the content in a pending copy of content of that size and checksum.
std::string pending_copy_header(std::uint64_t size, std::uint64_t content_checksum);

// The content a complete pending copy holds; nothing for a partial or damaged one.
std::optional<std::string_view> pending_copy_content(std::string_view copy);

}  // namespace perlwick
