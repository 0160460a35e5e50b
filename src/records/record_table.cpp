#include "records/record_table.h"

#include <algorithm>
#include <stdexcept>

#include "records/ansi_text.h"
#include "records/name_reader.h"

namespace perlwick {
RecordTable::~RecordTable() = default;

std::uint32_t RecordTable::checked_size(std::size_t size) {
  if (size > UINT32_MAX) throw std::length_error("a line of the records file is over 4 GB long");
  return static_cast<std::uint32_t>(size);
}

std::wstring name_key(std::wstring_view name) {
  std::wstring key(name);
  upper_case_in_place(key);
  return key;
}

RecordTable RecordTable::parse(std::string bytes) {
  return parse(bytes, name_reader_for_code_page());
}

RecordTable RecordTable::parse(std::string& bytes, const NameReader& names) {
  RecordTable table(names);
  table.bytes_.swap(bytes);
  try {
    table.read_rows();
  } catch (...) {
    table.bytes_.swap(bytes);
    throw;
  }
  return table;
}

void RecordTable::read_rows() {
  const std::string_view all = bytes_;
  // One allocation for the rows: at most one a CR, and one more for a last line. Counted
  // by the compiler's own loop, many bytes a step, not by the C runtime's memchr, which
  // looks at one byte a step on some systems (Wine's).
  const auto line_ends = static_cast<std::size_t>(std::count(all.begin(), all.end(), '\r'));
  // Room for the rows of a few edits: the first Add does not move them all.
  rows_.reserve(with_slack(line_ends + 1));
  LineReader reader(all);
  std::string_view line;
  std::size_t line_begin = 0;
  while (reader.next(line)) {
    const std::size_t begin = line_begin;
    line_begin = reader.consumed(all);
    const bool ends_in_cr_lf = line_begin - begin == line.size() + kLineEnd.size() &&
                               all.substr(begin + line.size(), kLineEnd.size()) == kLineEnd;
    if (line.empty() || !ends_in_cr_lf) canonical_ = false;
    if (line.empty()) continue;
    rows_.push_back(
        Row{begin, checked_size(line.size()), static_cast<std::uint32_t>(names_->name_size(line))});
  }
  make_index();
}

std::wstring RecordTable::name(std::size_t row) const {
  std::wstring name;
  this->name(row, name);
  return name;
}

void RecordTable::name(std::size_t row, std::wstring& name) const {
  const Row& r = rows_.at(row);
  name.clear();
  names_->name(name_bytes(r), name);
}

int RecordTable::compare_key(std::size_t row, std::wstring_view key) const {
  return names_->compare_key(name_bytes(rows_.at(row)), key);
}

Record RecordTable::record(std::size_t row) const {
  std::wstring line;
  decode_ansi(line_bytes(rows_.at(row)), line);
  return record_from_line(line);
}

const SingleByteNames* RecordTable::splicing_names() const noexcept {
  return canonical_ && names_ != nullptr ? names_->single_byte() : nullptr;
}

std::vector<std::size_t> RecordTable::rows_matching(std::wstring_view match_key,
                                                    bool with_empty) const {
  // Where a character is one byte, a name of another length than the key cannot match,
  // and the rows tell that without their bytes being read.
  std::vector<std::size_t> rows;
  if (rows_.empty()) return rows;
  const bool by_length = names_->single_byte() != nullptr;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    const std::size_t size = rows_[row].name_size;
    if ((with_empty && size == 0) || ((!by_length || size == match_key.size()) &&
                                      names_->compare_key(name_bytes(row), match_key) == 0)) {
      rows.push_back(row);
    }
  }
  return rows;
}

}  // namespace perlwick
