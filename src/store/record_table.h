#pragma once

// The record table: the records file's content in memory, one row per non-empty line, in
// file order. The table keeps the file's bytes, so a row that no edit touches is written
// back byte for byte, and keeps each row's product name with its name key (upper-case
// form) ready for the look-up. The other fields are decoded when a row is read.

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
  std::wstring_view name(std::size_t row) const;
  std::wstring_view key(std::size_t row) const;
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
    std::size_t name_begin;  // in names_ and keys_
    std::size_t name_size;
  };

  std::string_view line_bytes(std::size_t row) const;
  void append_line(std::string& out, std::size_t row) const;
  std::string with_room(std::size_t extra) const;

  std::string bytes_;
  std::wstring names_;
  std::wstring keys_;
  std::vector<Row> rows_;
};

}  // namespace perlwick
