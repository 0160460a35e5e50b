// How a change alters the table it is applied to, where the table's bytes are spliced in
// place: the bytes, the rows and the index are kept in step with one another. Making room
// is the one step that may fail; the others take no memory.

#include <algorithm>
#include <cstring>

#include "records/name_reader.h"
#include "records/record_table.h"

namespace perlwick {

void RecordTable::Splicer::make_room_to_add(std::size_t line_size, const SingleByteNames& names) {
  (void)checked_size(line_size);
  make_room_for(table_.bytes_.size() + line_size);
  std::vector<Row>& rows = table_.rows_;
  if (rows.capacity() < rows.size() + 1) rows.reserve(with_slack(rows.size() + 1));
  if (table_.slots_.size() < 2 * rows.size() + 4) {
    // A larger index for the same rows, so that the new one fits.
    std::vector<std::uint64_t> larger(std::max<std::size_t>(16, table_.slots_.size() * 2), 0u);
    table_.slots_.swap(larger);
    table_.rebuild_index(names);
  }
}

void RecordTable::Splicer::make_room_for(std::size_t size) {
  if (table_.bytes_.capacity() < size) table_.bytes_.reserve(with_slack(size));
}

void RecordTable::Splicer::add(std::size_t at, std::string_view line,
                               const SingleByteNames& names) noexcept {
  const std::size_t offset = table_.line_begin(at);
  const std::string_view bare = line.substr(0, line.size() - kLineEnd.size());
  table_.bytes_.insert(offset, line);  // within its capacity: no allocation
  std::vector<Row>& rows = table_.rows_;
  for (std::size_t row = at; row < rows.size(); ++row) rows[row].line_begin += line.size();
  rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at),
              Row{offset, static_cast<std::uint32_t>(bare.size()),
                  static_cast<std::uint32_t>(names.name_size(bare))});
  // The rows after the new one move down a row in the index too. Without a branch: a
  // slot holds row + 1, or 0 for none, and which slots hold a row after the new one is
  // as good as random.
  for (std::uint64_t& slot : table_.slots_)
    slot += static_cast<std::uint64_t>((slot & kRowBits) > at);
  table_.index_row(names, at, names.key_hash(table_.name_bytes(at)));
}

void RecordTable::Splicer::replace(const std::vector<std::size_t>& rows, std::string_view line,
                                   const SingleByteNames& names) noexcept {
  if (rows.empty()) return;
  const std::string_view bare = line.substr(0, line.size() - kLineEnd.size());
  const auto line_size = static_cast<std::uint32_t>(bare.size());
  const auto name_size = static_cast<std::uint32_t>(names.name_size(bare));
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    table_.bytes_.replace(table_.line_begin(*row), table_.rows_[*row].line_size + kLineEnd.size(),
                          line);
  }
  // The rows after each replaced one move by the difference in length. Their keys, and so
  // the index, stay as they were.
  std::uint64_t shift = 0;  // modulo 2^64: adds and subtracts alike
  std::size_t next = 0;
  for (std::size_t row = rows.front(); row < table_.rows_.size(); ++row) {
    Row& r = table_.rows_[row];
    r.line_begin += shift;
    if (next < rows.size() && rows[next] == row) {
      shift += line_size - std::uint64_t{r.line_size};
      r.line_size = line_size;
      r.name_size = name_size;
      ++next;
    }
  }
}

void RecordTable::Splicer::remove(const std::vector<std::size_t>& rows,
                                  const SingleByteNames& names) noexcept {
  if (rows.empty()) return;
  std::string& bytes = table_.bytes_;
  std::vector<Row>& table_rows = table_.rows_;
  // The keys of the dropped rows go with them: the index loses those keys and the rows
  // after each dropped one move up. Many dropped rows rebuild it instead.
  const bool spliced_index = rows.size() <= kMostSplicedRows;
  if (spliced_index) {
    for (const std::size_t row : rows) table_.unindex_row(names, row);
  }
  // The lines between two dropped rows lie one after another: each such run of lines
  // moves up in one piece, and its rows with it.
  std::size_t kept = rows.front();
  std::size_t written = table_.line_begin(kept);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::size_t first = rows[i] + 1;
    const std::size_t end = i + 1 < rows.size() ? rows[i + 1] : table_rows.size();
    if (first >= end) continue;
    const std::size_t from = table_.line_begin(first);
    const std::size_t to = table_.line_begin(end);
    std::memmove(bytes.data() + written, bytes.data() + from, to - from);
    const std::uint64_t shift = from - written;
    for (std::size_t row = first; row < end; ++row) {
      Row moved = table_rows[row];
      moved.line_begin -= shift;
      table_rows[kept++] = moved;
    }
    written += to - from;
  }
  bytes.resize(written);
  table_rows.resize(kept);
  if (!spliced_index) {
    table_.rebuild_index(names);
    return;
  }
  // A slot holds row + 1, or 0 for none; no slot holds a dropped row any more. With one
  // row dropped, as by most deletes, without a branch: which slots hold a row after it is
  // as good as random.
  if (rows.size() == 1) {
    for (std::uint64_t& slot : table_.slots_) {
      slot -= static_cast<std::uint64_t>((slot & kRowBits) > rows.front() + 1);
    }
    return;
  }
  for (std::uint64_t& slot : table_.slots_) {
    const auto held = static_cast<std::size_t>(slot & kRowBits);
    if (held == 0 || held - 1 < rows.front()) continue;
    const auto above = std::lower_bound(rows.begin(), rows.end(), held - 1);
    slot -= static_cast<std::uint64_t>(above - rows.begin());
  }
}

void RecordTable::Splicer::become(RecordTable&& next) noexcept {
  table_ = std::move(next);
}

}  // namespace perlwick
