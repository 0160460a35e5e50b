#pragma once

// FNV-1a, the program's one short hash: of name keys for the table's index, of a records
// file's path for the names of what belongs to it, of a pending copy's content (as the
// version before wrote it), and of a file's identity.

#include <cstdint>
#include <string_view>

namespace perlwick {

inline constexpr std::uint64_t kFnv1aStart = 14695981039346656037ull;

// Takes unit into hash: a byte, or a whole character where only this run of the program
// reads the hash.
constexpr std::uint64_t fnv1a_step(std::uint64_t hash, std::uint64_t unit) noexcept {
  return (hash ^ unit) * 1099511628211ull;
}

// The hash of bytes, after seed: pass the result of one part as the seed of the next.
constexpr std::uint64_t fnv1a(std::string_view bytes, std::uint64_t seed = kFnv1aStart) noexcept {
  for (const char byte : bytes) seed = fnv1a_step(seed, static_cast<unsigned char>(byte));
  return seed;
}

}  // namespace perlwick
