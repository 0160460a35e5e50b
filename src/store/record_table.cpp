#include "store/record_table.h"

#include <algorithm>

#include "store/ansi_text.h"

namespace perlwick {
namespace {

// Where the first field ends in a line's bytes: at the first "~~" that starts a character.
std::size_t name_size_in(std::string_view line) {
  if (single_byte_code_page() != nullptr) return std::min(line.find("~~"), line.size());
  for (std::size_t i = 0; i < line.size();) {
    if (line[i] == '~' && i + 1 < line.size() && line[i + 1] == '~') return i;
    i += ansi_is_lead_byte(static_cast<unsigned char>(line[i])) ? 2u : 1u;
  }
  return line.size();
}

}  // namespace

std::wstring name_key(std::wstring_view name) {
  std::wstring key(name);
  upper_case_in_place(key);
  return key;
}

RecordTable RecordTable::parse(std::string bytes) {
  RecordTable table;
  table.bytes_ = std::move(bytes);
  const std::string_view all = table.bytes_;
  LineReader reader(all);
  std::string_view line;
  std::size_t line_begin = 0;
  while (reader.next(line)) {
    const std::size_t begin = line_begin;
    line_begin = reader.consumed(all);
    if (line.empty()) continue;
    table.rows_.push_back(Row{begin, line.size(), name_size_in(line)});
  }
  table.rows_.shrink_to_fit();
  return table;
}

std::string_view RecordTable::line_bytes(std::size_t row) const {
  const Row& r = rows_.at(row);
  return std::string_view(bytes_).substr(r.line_begin, r.line_size);
}

std::string_view RecordTable::name_bytes(std::size_t row) const {
  return line_bytes(row).substr(0, rows_[row].name_size);
}

std::wstring RecordTable::name(std::size_t row) const {
  std::wstring name;
  decode_ansi(name_bytes(row), name);
  return name;
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

std::size_t RecordTable::last_match(std::wstring_view key) const {
  for (std::size_t row = rows_.size(); row-- > 0;) {
    if (compare_key(row, key) == 0) return row;
  }
  return rows_.size();
}

Record RecordTable::record(std::size_t row) const {
  std::wstring line;
  decode_ansi(line_bytes(row), line);
  return record_from_line(line);
}

void RecordTable::append_line(std::string& out, std::size_t row) const {
  out += line_bytes(row);
  out += kLineEnd;
}

std::string RecordTable::with_room(std::size_t extra) const {
  // A row's line may have had a lone CR or no line end at all: each gets a full CR LF.
  std::string out;
  out.reserve(bytes_.size() + rows_.size() * kLineEnd.size() + extra + kLineEnd.size());
  return out;
}

std::string RecordTable::content_with_added(std::wstring_view new_key,
                                            std::string_view new_line) const {
  std::string out = with_room(new_line.size());
  bool placed = false;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (!placed && compare_key(row, new_key) > 0) {
      out += new_line;
      out += kLineEnd;
      placed = true;
    }
    append_line(out, row);
  }
  if (!placed) {
    out += new_line;
    out += kLineEnd;
  }
  return out;
}

std::string RecordTable::content_with_replaced(std::wstring_view match_key,
                                               std::string_view new_line) const {
  std::string out = with_room(0);
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (compare_key(row, match_key) == 0) {
      out += new_line;
      out += kLineEnd;
    } else {
      append_line(out, row);
    }
  }
  return out;
}

std::string RecordTable::content_without(std::wstring_view match_key) const {
  std::string out = with_room(0);
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (!empty_name(row) && compare_key(row, match_key) != 0) append_line(out, row);
  }
  return out;
}

}  // namespace perlwick
