#pragma once

// The record table: the records file's content in memory, one row per non-empty line, in
// file order. The table keeps the file's bytes and, for each row, where its line and its
// product name lie in them: a row that no edit touches is written back byte for byte, and
// the table takes little more memory than the file, whatever the file holds. Names, name
// keys (upper-case forms) and fields are read from the bytes when asked for.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "store/records_format.h"

namespace perlwick {

// The name key of a product name: its upper-case form. Names match when their keys are
// equal; Add orders keys by character code.
std::wstring name_key(std::wstring_view name);

class RecordTable {
 public:
  RecordTable() = default;
  // Builds the table from the records file's bytes. Empty lines are skipped; every other
  // line is a row, whatever its number of fields.
  static RecordTable parse(std::string bytes);

  std::size_t count() const { return rows_.size(); }
  // The product name as stored, and its name key.
  std::wstring name(std::size_t row) const;
  std::wstring key(std::size_t row) const;
  // Whether the row's name is the empty text.
  bool empty_name(std::size_t row) const { return rows_.at(row).name_size == 0; }
  // The row's name key against key, by character code: negative when it sorts before,
  // zero when equal, positive when after.
  int compare_key(std::size_t row, std::wstring_view key) const;
  // The last row whose name key equals key, or count() when none does.
  std::size_t last_match(std::wstring_view key) const;
  // All eight fields of a row.
  Record record(std::size_t row) const;
  // The bytes the table was built from.
  const std::string& bytes() const { return bytes_; }

  // New file contents with one change each. Rows that stay are written as they were read;
  // every line, the last included, ends with CR LF.

  // The new line goes directly before the first row whose key sorts after new_key.
  std::string content_with_added(std::wstring_view new_key, std::string_view new_line) const;
  // Every row whose key equals key is replaced by new_line.
  std::string content_with_replaced(std::wstring_view key, std::string_view new_line) const;
  // Drops every row whose key equals key, and every row whose name is empty.
  std::string content_without(std::wstring_view key) const;

 private:
  struct Row {
    std::size_t line_begin;  // in bytes_
    std::size_t line_size;
    std::size_t name_size;  // the name's bytes, at the start of the line
  };

  std::string_view line_bytes(std::size_t row) const;
  std::string_view name_bytes(std::size_t row) const;
  void append_line(std::string& out, std::size_t row) const;
  std::string with_room(std::size_t extra) const;

  std::string bytes_;
  std::vector<Row> rows_;
};

}  // namespace perlwick
