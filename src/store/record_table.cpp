#include "store/record_table.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "store/ansi_text.h"

namespace perlwick {
namespace {

constexpr std::uint64_t kHashStart = 14695981039346656037ull;
constexpr std::uint64_t kHashPrime = 1099511628211ull;
// An Update of more rows than this makes the whole new table instead of splicing each.
constexpr std::size_t kMostSplicedRows = 16;

std::uint64_t hash_step(std::uint64_t hash, wchar_t c) {
  return (hash ^ static_cast<std::uint32_t>(c)) * kHashPrime;
}

std::uint64_t hash_end(std::uint64_t hash) {
  return hash ^ (hash >> 29);
}

std::uint64_t hash_of(std::wstring_view key) {
  std::uint64_t hash = kHashStart;
  for (const wchar_t c : key) hash = hash_step(hash, c);
  return hash_end(hash);
}

// Where the first field ends in a line's bytes: at the first "~~" that starts a character.
std::size_t name_size_in(std::string_view line) noexcept {
  if (single_byte_code_page() != nullptr) return std::min(line.find("~~"), line.size());
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == '~' && i + 1 < line.size() && line[i + 1] == '~') return i;
    i += ansi_is_lead_byte(static_cast<unsigned char>(line[i])) ? 2u : 1u;
  }
  return line.size();
}

// Room to grow by a little without moving: edits are made in place.
std::size_t with_slack(std::size_t size) {
  return size + size / 64 + 64;
}

std::uint32_t checked_size(std::size_t size) {
  if (size > UINT32_MAX) throw std::length_error("a line of the records file is over 4 GB long");
  return static_cast<std::uint32_t>(size);
}

void append_line(std::string& out, std::string_view line) {
  out += line;
  out += kLineEnd;
}

}  // namespace

RecordTable::~RecordTable() = default;
RecordTable::Change::Change() = default;
RecordTable::Change::Change(Change&&) noexcept = default;
RecordTable::Change& RecordTable::Change::operator=(Change&&) noexcept = default;
RecordTable::Change::~Change() = default;

std::wstring name_key(std::wstring_view name) {
  std::wstring key(name);
  upper_case_in_place(key);
  return key;
}

RecordTable RecordTable::parse(std::string bytes) {
  RecordTable table;
  table.bytes_ = std::move(bytes);
  const std::string_view all = table.bytes_;
  // One allocation for the rows: at most one a CR, and one more for a last line.
  std::size_t line_ends = 0;
  for (std::size_t at = all.find('\r'); at != std::string_view::npos; at = all.find('\r', at + 1)) {
    ++line_ends;
  }
  // Room for the rows of a few edits: the first Add does not move them all.
  table.rows_.reserve(with_slack(line_ends + 1));
  LineReader reader(all);
  std::string_view line;
  std::size_t line_begin = 0;
  while (reader.next(line)) {
    const std::size_t begin = line_begin;
    line_begin = reader.consumed(all);
    const bool ends_in_cr_lf = line_begin - begin == line.size() + kLineEnd.size() &&
                               all.substr(begin + line.size(), 2) == kLineEnd;
    if (line.empty() || !ends_in_cr_lf) table.canonical_ = false;
    if (line.empty()) continue;
    table.rows_.push_back(
        Row{begin, checked_size(line.size()), static_cast<std::uint32_t>(name_size_in(line))});
  }
  std::size_t slots = 16;
  while (slots < 2 * table.rows_.size() + 2) slots *= 2;
  table.slots_.assign(slots, 0);
  table.rebuild_index();
  return table;
}

std::string_view RecordTable::line_bytes(std::size_t row) const {
  const Row& r = rows_.at(row);
  return std::string_view(bytes_).substr(static_cast<std::size_t>(r.line_begin), r.line_size);
}

std::string_view RecordTable::name_bytes(std::size_t row) const {
  return line_bytes(row).substr(0, rows_[row].name_size);
}

std::wstring RecordTable::name(std::size_t row) const {
  std::wstring name;
  this->name(row, name);
  return name;
}

void RecordTable::name(std::size_t row, std::wstring& name) const {
  const std::string_view bytes = name_bytes(row);
  if (const SingleByteCodePage* code_page = single_byte_code_page()) {
    name.resize(bytes.size());
    std::transform(bytes.begin(), bytes.end(), name.begin(), [code_page](char byte) {
      return code_page->character[static_cast<unsigned char>(byte)];
    });
    return;
  }
  name.clear();
  decode_ansi(bytes, name);
}

std::wstring RecordTable::key(std::size_t row) const {
  return name_key(name(row));
}

int RecordTable::compare_key(std::size_t row, std::wstring_view key) const {
  const auto order = [](auto a, auto b) { return a < b ? -1 : (b < a ? 1 : 0); };
  if (const SingleByteCodePage* code_page = single_byte_code_page()) {
    const std::string_view name = name_bytes(row);
    const std::size_t common = std::min(name.size(), key.size());
    for (std::size_t i = 0; i < common; ++i) {
      const wchar_t c = code_page->upper[static_cast<unsigned char>(name[i])];
      if (c != key[i]) return order(c, key[i]);
    }
    return order(name.size(), key.size());
  }
  return std::wstring_view(this->key(row)).compare(key);
}

std::uint64_t RecordTable::key_hash(std::size_t row) const {
  if (const SingleByteCodePage* code_page = single_byte_code_page()) {
    std::uint64_t hash = kHashStart;
    for (const char byte : name_bytes(row)) {
      hash = hash_step(hash, code_page->upper[static_cast<unsigned char>(byte)]);
    }
    return hash_end(hash);
  }
  return hash_of(key(row));
}

bool RecordTable::same_key(std::size_t a, std::size_t b) const {
  if (const SingleByteCodePage* code_page = single_byte_code_page()) {
    const std::string_view x = name_bytes(a);
    const std::string_view y = name_bytes(b);
    return x.size() == y.size() &&
           std::equal(x.begin(), x.end(), y.begin(), [code_page](char p, char q) {
             return code_page->upper[static_cast<unsigned char>(p)] ==
                    code_page->upper[static_cast<unsigned char>(q)];
           });
  }
  return key(a) == key(b);
}

bool RecordTable::key_after(std::size_t a, std::size_t b,
                            const SingleByteCodePage& code_page) const {
  const std::string_view x = name_bytes(a);
  const std::string_view y = name_bytes(b);
  const std::size_t common = std::min(x.size(), y.size());
  for (std::size_t i = 0; i < common; ++i) {
    const wchar_t p = code_page.upper[static_cast<unsigned char>(x[i])];
    const wchar_t q = code_page.upper[static_cast<unsigned char>(y[i])];
    if (p != q) return p > q;
  }
  return x.size() > y.size();
}

namespace {

constexpr std::uint64_t kRowBits = 0xFFFF'FFFFu;

std::uint64_t hash_half(std::uint64_t hash) {
  return hash & ~kRowBits;
}

}  // namespace

void RecordTable::index_row(std::size_t row) noexcept {
  index_row(row, key_hash(row));
}

void RecordTable::index_row(std::size_t row, std::uint64_t hash) noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    const auto held = static_cast<std::size_t>(slot & kRowBits);
    if (held == 0 || (hash_half(slot) == hash_half(hash) && same_key(held - 1, row))) {
      // The later row of a key is the one the look-up shows.
      if (held == 0 || held - 1 < row) slots_[i] = hash_half(hash) | (row + 1);
      return;
    }
  }
}

void RecordTable::unindex_row(std::size_t row) noexcept {
  const std::size_t mask = slots_.size() - 1;
  std::size_t hole = static_cast<std::size_t>(key_hash(row)) & mask;
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
    const std::size_t first = static_cast<std::size_t>(key_hash(held - 1)) & mask;
    const bool stays =
        hole <= next ? (hole < first && first <= next) : (hole < first || first <= next);
    if (stays) continue;
    slots_[hole] = slots_[next];
    hole = next;
  }
  slots_[hole] = 0;
}

void RecordTable::rebuild_index() noexcept {
  std::fill(slots_.begin(), slots_.end(), 0u);
  // The slots of a million rows lie all over memory: the hashes of a batch of rows are
  // taken first and their slots fetched ahead, so that the waits for memory overlap.
  constexpr std::size_t kBatch = 16;
  std::uint64_t hashes[kBatch];
  const std::size_t mask = slots_.size() - 1;
  // Whether the rows are in order is found on the way, while each name is at hand.
  const SingleByteCodePage* code_page = single_byte_code_page();
  sorted_ = code_page != nullptr;
  for (std::size_t first = 0; first < rows_.size(); first += kBatch) {
    const std::size_t batch = std::min(kBatch, rows_.size() - first);
    for (std::size_t i = 0; i < batch; ++i) {
      hashes[i] = key_hash(first + i);
      if (sorted_ && first + i > 0 && key_after(first + i - 1, first + i, *code_page)) {
        sorted_ = false;
      }
#if defined(__GNUC__) || defined(__clang__)
      __builtin_prefetch(&slots_[static_cast<std::size_t>(hashes[i]) & mask]);
#endif
    }
    for (std::size_t i = 0; i < batch; ++i) index_row(first + i, hashes[i]);
  }
}

std::size_t RecordTable::last_match(std::wstring_view key) const {
  if (slots_.empty()) return rows_.size();
  const std::size_t mask = slots_.size() - 1;
  const std::uint64_t hash = hash_of(key);
  for (std::size_t i = static_cast<std::size_t>(hash) & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    const auto held = static_cast<std::size_t>(slot & kRowBits);
    if (held == 0) return rows_.size();
    if (hash_half(slot) == hash_half(hash) && compare_key(held - 1, key) == 0) return held - 1;
  }
}

Record RecordTable::record(std::size_t row) const {
  std::wstring line;
  decode_ansi(line_bytes(row), line);
  return record_from_line(line);
}

// ---- Changes ------------------------------------------------------------------------------

std::string RecordTable::with_room(std::size_t extra) const {
  // A row's line may have had a lone CR or no line end at all: each gets a full CR LF. The
  // new table keeps these bytes, with room for the next edits to be made in place.
  std::string out;
  out.reserve(with_slack(bytes_.size() + (rows_.size() + 1) * kLineEnd.size() + extra));
  return out;
}

RecordTable::Change RecordTable::whole(std::string content) const {
  Change change;
  change.whole_ = true;
  change.whole_content_ = std::move(content);
  return change;
}

std::vector<std::size_t> RecordTable::rows_matching(std::wstring_view match_key,
                                                    bool with_empty) const {
  // Where a character is one byte, a name of another length than the key cannot match,
  // and the rows tell that without their bytes being read.
  const bool by_length = single_byte_code_page() != nullptr;
  std::vector<std::size_t> rows;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    const std::size_t size = rows_[row].name_size;
    if ((with_empty && size == 0) ||
        ((!by_length || size == match_key.size()) && compare_key(row, match_key) == 0)) {
      rows.push_back(row);
    }
  }
  return rows;
}

RecordTable::Change RecordTable::with_added(std::wstring_view new_key,
                                            std::string_view new_line) const {
  std::size_t before = 0;
  if (sorted_) {
    // The first row whose key sorts after the new one, found by halving.
    std::size_t after = rows_.size();
    while (before < after) {
      const std::size_t middle = before + (after - before) / 2;
      if (compare_key(middle, new_key) <= 0) {
        before = middle + 1;
      } else {
        after = middle;
      }
    }
  } else {
    while (before < rows_.size() && compare_key(before, new_key) <= 0) ++before;
  }
  Change change;
  if (!canonical_ || single_byte_code_page() == nullptr) {
    std::string out = with_room(new_line.size());
    for (std::size_t row = 0; row < rows_.size(); ++row) {
      if (row == before) append_line(out, new_line);
      append_line(out, line_bytes(row));
    }
    if (before == rows_.size()) append_line(out, new_line);
    change = whole(std::move(out));
  } else {
    change.line_.assign(new_line).append(kLineEnd);
  }
  change.kind_ = Change::Kind::add;
  change.rows_.push_back(before);
  return change;
}

RecordTable::Change RecordTable::with_replaced(std::wstring_view match_key,
                                               std::string_view new_line) const {
  std::vector<std::size_t> matches = rows_matching(match_key, false);
  Change change;
  if (!canonical_ || single_byte_code_page() == nullptr || matches.size() > kMostSplicedRows) {
    std::string out = with_room(matches.size() * new_line.size());
    for (std::size_t row = 0, next = 0; row < rows_.size(); ++row) {
      const bool replaced = next < matches.size() && matches[next] == row;
      next += replaced;
      append_line(out, replaced ? new_line : line_bytes(row));
    }
    change = whole(std::move(out));
  } else {
    change.line_.assign(new_line).append(kLineEnd);
  }
  change.kind_ = Change::Kind::replace;
  change.rows_ = std::move(matches);
  return change;
}

RecordTable::Change RecordTable::without(std::wstring_view match_key) const {
  std::vector<std::size_t> dropped = rows_matching(match_key, true);
  Change change;
  if (!canonical_ || single_byte_code_page() == nullptr) {
    std::string out = with_room(0);
    for (std::size_t row = 0, next = 0; row < rows_.size(); ++row) {
      const bool drop = next < dropped.size() && dropped[next] == row;
      next += drop;
      if (!drop) append_line(out, line_bytes(row));
    }
    change = whole(std::move(out));
  }
  change.kind_ = Change::Kind::remove;
  change.rows_ = std::move(dropped);
  return change;
}

void RecordTable::make_room(Change& change) {
  if (change.whole_) {
    if (!change.next_) {
      change.next_ = std::make_unique<RecordTable>(parse(std::move(change.whole_content_)));
    }
    return;
  }
  switch (change.kind_) {
    case Change::Kind::add: {
      (void)checked_size(change.line_.size());
      if (bytes_.capacity() < bytes_.size() + change.line_.size()) {
        bytes_.reserve(with_slack(bytes_.size() + change.line_.size()));
      }
      if (rows_.capacity() < rows_.size() + 1) rows_.reserve(with_slack(rows_.size() + 1));
      if (slots_.size() < 2 * rows_.size() + 4) {
        // A larger index for the same rows, so that the new one fits.
        std::vector<std::uint64_t> larger(std::max<std::size_t>(16, slots_.size() * 2), 0u);
        slots_.swap(larger);
        rebuild_index();
      }
      return;
    }
    case Change::Kind::replace: {
      (void)checked_size(change.line_.size());
      std::size_t size = bytes_.size();
      for (const std::size_t row : change.rows_) {
        size = size - rows_[row].line_size - kLineEnd.size() + change.line_.size();
      }
      if (bytes_.capacity() < size) bytes_.reserve(with_slack(size));
      return;
    }
    case Change::Kind::remove:
      return;  // everything shrinks
  }
}

std::vector<std::string_view> RecordTable::pieces(const Change& change) const {
  std::vector<std::string_view> pieces;
  const std::string_view all = bytes_;
  const auto add = [&pieces](std::string_view piece) {
    if (!piece.empty()) pieces.push_back(piece);
  };
  const auto begin = [&](std::size_t row) {
    return row < rows_.size() ? static_cast<std::size_t>(rows_[row].line_begin) : all.size();
  };
  const auto end = [&](std::size_t row) {
    return begin(row) + rows_[row].line_size + kLineEnd.size();
  };
  if (change.whole_) {
    add(change.next_ ? std::string_view(change.next_->bytes_)
                     : std::string_view(change.whole_content_));
    return pieces;
  }
  std::size_t next = 0;
  switch (change.kind_) {
    case Change::Kind::add:
      add(all.substr(0, begin(change.rows_[0])));
      add(change.line_);
      next = begin(change.rows_[0]);
      break;
    case Change::Kind::replace:
    case Change::Kind::remove:
      for (const std::size_t row : change.rows_) {
        add(all.substr(next, begin(row) - next));
        if (change.kind_ == Change::Kind::replace) add(change.line_);
        next = end(row);
      }
      break;
  }
  add(all.substr(next));
  return pieces;
}

std::string RecordTable::Change::content(const RecordTable& table) const {
  std::string content;
  for (const std::string_view piece : table.pieces(*this)) content += piece;
  return content;
}

void RecordTable::apply(Change& change) noexcept {
  const std::size_t size = change.line_.size();
  const auto name_size = [&change] {
    return static_cast<std::uint32_t>(
        name_size_in(std::string_view(change.line_).substr(0, change.line_.size() - 2)));
  };
  if (change.whole_) {
    *this = std::move(*change.next_);
    return;
  }
  switch (change.kind_) {
    case Change::Kind::add: {
      const std::size_t at = change.rows_[0];
      const std::size_t offset =
          at < rows_.size() ? static_cast<std::size_t>(rows_[at].line_begin) : bytes_.size();
      bytes_.insert(offset, change.line_);  // within its capacity: no allocation
      for (std::size_t row = at; row < rows_.size(); ++row) rows_[row].line_begin += size;
      rows_.insert(rows_.begin() + static_cast<std::ptrdiff_t>(at),
                   Row{offset, static_cast<std::uint32_t>(size - kLineEnd.size()), name_size()});
      for (std::uint64_t& slot : slots_) {
        const auto held = static_cast<std::size_t>(slot & kRowBits);
        if (held != 0 && held - 1 >= at) ++slot;
      }
      index_row(at);
      return;
    }

    case Change::Kind::replace: {
      if (change.rows_.empty()) return;
      for (auto row = change.rows_.rbegin(); row != change.rows_.rend(); ++row) {
        bytes_.replace(static_cast<std::size_t>(rows_[*row].line_begin),
                       rows_[*row].line_size + kLineEnd.size(), change.line_);
      }
      // The rows after each replaced one move by the difference in length. Their keys,
      // and so the index, stay as they were.
      std::uint64_t shift = 0;  // modulo 2^64: adds and subtracts alike
      std::size_t next = 0;
      for (std::size_t row = change.rows_.front(); row < rows_.size(); ++row) {
        rows_[row].line_begin += shift;
        if (next < change.rows_.size() && change.rows_[next] == row) {
          shift += size - kLineEnd.size() - rows_[row].line_size;
          rows_[row].line_size = static_cast<std::uint32_t>(size - kLineEnd.size());
          rows_[row].name_size = name_size();
          ++next;
        }
      }
      return;
    }

    case Change::Kind::remove: {
      if (change.rows_.empty()) return;
      // The keys of the dropped rows go with them: the index loses those keys and the rows
      // after each dropped one move up. Many dropped rows rebuild it instead.
      const bool spliced_index = change.rows_.size() <= kMostSplicedRows;
      if (spliced_index) {
        for (const std::size_t row : change.rows_) unindex_row(row);
      }
      // The lines between two dropped rows lie one after another: each such run of lines
      // moves up in one piece, and its rows with it.
      std::size_t kept = change.rows_.front();
      auto written = static_cast<std::size_t>(rows_[kept].line_begin);
      for (std::size_t i = 0; i < change.rows_.size(); ++i) {
        const std::size_t first = change.rows_[i] + 1;
        const std::size_t end = i + 1 < change.rows_.size() ? change.rows_[i + 1] : rows_.size();
        if (first >= end) continue;
        const auto from = static_cast<std::size_t>(rows_[first].line_begin);
        const std::size_t to =
            end < rows_.size() ? static_cast<std::size_t>(rows_[end].line_begin) : bytes_.size();
        std::memmove(bytes_.data() + written, bytes_.data() + from, to - from);
        const std::uint64_t shift = from - written;
        for (std::size_t row = first; row < end; ++row) {
          Row moved = rows_[row];
          moved.line_begin -= shift;
          rows_[kept++] = moved;
        }
        written += to - from;
      }
      bytes_.resize(written);
      rows_.resize(kept);
      if (!spliced_index) {
        rebuild_index();
        return;
      }
      for (std::uint64_t& slot : slots_) {
        const auto held = static_cast<std::size_t>(slot & kRowBits);
        if (held == 0 || held - 1 < change.rows_.front()) continue;
        const auto above = std::lower_bound(change.rows_.begin(), change.rows_.end(), held - 1);
        slot -= static_cast<std::uint64_t>(above - change.rows_.begin());
      }
      return;
    }
  }
}

}  // namespace perlwick
