// The record table's index from each name key to the last row of that key: open
// addressing in a power of two of slots, at least twice as many as rows.

#include <algorithm>
#include <type_traits>

#include "records/name_reader.h"
#include "records/record_table.h"

namespace perlwick {

template <class Names>
void RecordTable::index_row(const Names& names, std::size_t row,
                            std::uint64_t hash) noexcept(Names::kTakesNoMemory) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    const auto held = static_cast<std::size_t>(slot & kRowBits);
    if (held == 0 || (hash_half(slot) == hash_half(hash) &&
                      names.same_key(name_bytes(held - 1), name_bytes(row)))) {
      // The later row of a key is the one the look-up shows.
      if (held == 0 || held - 1 < row) slots_[i] = hash_half(hash) | (row + 1);
      return;
    }
  }
}

void RecordTable::unindex_row(const SingleByteNames& names, std::size_t row) noexcept {
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = static_cast<std::size_t>(names.key_hash(name_bytes(row))) & mask;
  for (;; hole = (hole + 1) & mask) {
    const auto held = static_cast<std::size_t>(slots_[hole] & kRowBits);
    if (held == 0) return;
    if (held == row + 1) break;
  }
  // Each later slot of the run moves back into the hole unless its key's first choice lies
  // after the hole: a look-up must never meet an empty slot before its key.
  for (std::size_t next = (hole + 1) & mask;; next = (next + 1) & mask) {
    const auto held = static_cast<std::size_t>(slots_[next] & kRowBits);
    if (held == 0) break;
    const std::size_t first = static_cast<std::size_t>(names.key_hash(name_bytes(held - 1))) & mask;
    const bool stays =
        hole <= next ? (hole < first && first <= next) : (hole < first || first <= next);
    if (stays) continue;
    slots_[hole] = slots_[next];
    hole = next;
  }
  slots_[hole] = 0;
}

template <class Names>
void RecordTable::rebuild_index(const Names& names) noexcept(Names::kTakesNoMemory) {
  std::fill(slots_.begin(), slots_.end(), 0u);
  // The slots of a million rows lie all over memory: the hashes of a batch of rows are
  // taken first and their slots fetched ahead, so that the waits for memory overlap.
  constexpr std::size_t kBatch = 16;
  std::uint64_t hashes[kBatch];
  const std::size_t mask = slots_.size() - 1;
  // Whether the rows are in order is found on the way, while each name is at hand, where a
  // character is one byte.
  constexpr bool kOrderKnown = std::is_same_v<Names, SingleByteNames>;
  sorted_ = kOrderKnown;
  for (std::size_t first = 0; first < rows_.size(); first += kBatch) {
    const std::size_t batch = std::min(kBatch, rows_.size() - first);
    for (std::size_t i = 0; i < batch; ++i) {
      const std::size_t row = first + i;
      hashes[i] = names.key_hash(name_bytes(row));
      if constexpr (kOrderKnown) {
        if (sorted_ && row > 0 && names.key_after(name_bytes(row - 1), name_bytes(row))) {
          sorted_ = false;
        }
      }
#if defined(__GNUC__) || defined(__clang__)
      __builtin_prefetch(&slots_[static_cast<std::size_t>(hashes[i]) & mask]);
#endif
    }
    for (std::size_t i = 0; i < batch; ++i) index_row(names, first + i, hashes[i]);
  }
}

// The edits keep the index of a table whose reader is the single-byte one.
template void RecordTable::index_row(const SingleByteNames&, std::size_t, std::uint64_t) noexcept;
template void RecordTable::rebuild_index(const SingleByteNames&) noexcept;

void RecordTable::make_index() {
  std::size_t slots = 16;
  while (slots < 2 * rows_.size() + 2) slots *= 2;
  slots_.assign(slots, 0);
  // The single-byte reader's functions are called directly: they are the most of a load.
  if (const SingleByteNames* single = names_->single_byte()) {
    rebuild_index(*single);
  } else {
    rebuild_index(*names_);
  }
}

std::size_t RecordTable::last_match(std::wstring_view key) const {
  if (slots_.empty()) return rows_.size();
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t hash = key_hash(key);
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    const auto held = static_cast<std::size_t>(slot & kRowBits);
    if (held == 0) return rows_.size();
    if (hash_half(slot) == hash_half(hash) && names_->compare_key(name_bytes(held - 1), key) == 0) {
      return held - 1;
    }
  }
}

}  // namespace perlwick
