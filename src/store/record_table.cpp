#include "store/record_table.h"

#include "store/ansi_text.h"

namespace perlwick {

std::wstring name_key(std::wstring_view name) {
  std::wstring key(name);
  upper_case_in_place(key);
  return key;
}

RecordTable RecordTable::parse(std::string bytes) {
  RecordTable table;
  table.bytes_ = std::move(bytes);
  const std::string_view all = table.bytes_;
  const bool ascii_standalone = ansi_ascii_is_standalone();

  LineReader reader(all);
  std::string_view line;
  std::wstring decoded;
  std::size_t line_begin = 0;
  while (reader.next(line)) {
    const std::size_t begin = line_begin;
    line_begin = reader.consumed(all);
    if (line.empty()) continue;

    const std::size_t name_begin = table.names_.size();
    if (ascii_standalone) {
      // "~~" in the bytes is "~~" in the text: decode the name alone.
      decode_ansi(line.substr(0, line.find("~~")), table.names_);
    } else {
      decoded.clear();
      decode_ansi(line, decoded);
      table.names_.append(decoded, 0, decoded.find(kFieldSeparator));
    }
    const std::size_t name_size = table.names_.size() - name_begin;
    table.rows_.push_back(Row{begin, line.size(), name_begin, name_size});
  }
  table.keys_ = table.names_;
  upper_case_in_place(table.keys_);
  return table;
}

std::wstring_view RecordTable::name(std::size_t row) const {
  const Row& r = rows_.at(row);
  return std::wstring_view(names_).substr(r.name_begin, r.name_size);
}

std::wstring_view RecordTable::key(std::size_t row) const {
  const Row& r = rows_.at(row);
  return std::wstring_view(keys_).substr(r.name_begin, r.name_size);
}

std::string_view RecordTable::line_bytes(std::size_t row) const {
  const Row& r = rows_[row];
  return std::string_view(bytes_).substr(r.line_begin, r.line_size);
}

Record RecordTable::record(std::size_t row) const {
  (void)rows_.at(row);  // range check
  std::wstring line;
  decode_ansi(line_bytes(row), line);
  return record_from_line(line);
}

void RecordTable::append_line(std::string& out, std::size_t row) const {
  out += line_bytes(row);
  out += kLineEnd;
}

std::string RecordTable::with_room(std::size_t extra) const {
  std::string out;
  out.reserve(bytes_.size() + rows_.size() + extra + kLineEnd.size());
  return out;
}

std::string RecordTable::content_with_added(std::wstring_view new_key,
                                            std::string_view new_line) const {
  std::string out = with_room(new_line.size());
  bool placed = false;
  for (std::size_t row = 0; row < rows_.size(); ++row) {
    if (!placed && new_key < key(row)) {
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
    if (key(row) == match_key) {
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
    if (rows_[row].name_size != 0 && key(row) != match_key) append_line(out, row);
  }
  return out;
}

}  // namespace perlwick
