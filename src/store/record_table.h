#pragma once

// The record table: the records file's content in memory, one row per non-empty line, in
// file order. The table keeps the file's bytes and, for each row, where its line and its
// product name lie in them: a row that no edit touches is written back byte for byte, and
// the table takes little more memory than the file, whatever the file holds. Names, name
// keys (upper-case forms) and fields are read from the bytes when asked for. An index
// from each name key to the last row of that key answers the look-up at once.
//
// An edit is a Change: first made (nothing in the table changes), then given its room
// (the one step that takes memory, before the file is written), then written from its
// pieces, and only then applied, which cannot fail. Where the file holds one CR LF after
// every line and nothing else, a change splices the table's bytes in place; otherwise it
// makes the whole new table.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/records_format.h"

namespace perlwick {

struct SingleByteCodePage;

// The name key of a product name: its upper-case form. Names match when their keys are
// equal; Add orders keys by character code.
std::wstring name_key(std::wstring_view name);

class RecordTable {
 public:
  class Change;

  RecordTable() = default;
  RecordTable(RecordTable&&) noexcept = default;
  RecordTable& operator=(RecordTable&&) noexcept = default;
  ~RecordTable();

  // Builds the table from the records file's bytes. Empty lines are skipped; every other
  // line is a row, whatever its number of fields.
  static RecordTable parse(std::string bytes);

  std::size_t count() const { return rows_.size(); }
  // The product name as stored, and its name key.
  std::wstring name(std::size_t row) const;
  // The same into name, reusing its memory.
  void name(std::size_t row, std::wstring& name) const;
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

  // The three changes. Rows that stay are written as they were read; every line, the last
  // included, ends with CR LF.

  // The new line goes directly before the first row whose key sorts after new_key.
  Change with_added(std::wstring_view new_key, std::string_view new_line) const;
  // Every row whose key equals key is replaced by new_line.
  Change with_replaced(std::wstring_view key, std::string_view new_line) const;
  // Drops every row whose key equals key, and every row whose name is empty.
  Change without(std::wstring_view key) const;

  // Takes the memory the change needs: the one step of a change that can fail.
  void make_room(Change& change);
  // The change's new file content, in order; valid until the table changes.
  std::vector<std::string_view> pieces(const Change& change) const;
  // Makes the table that of the change's new content. Needs make_room first.
  void apply(Change& change) noexcept;

 private:
  struct Row {
    std::uint64_t line_begin;  // in bytes_
    std::uint32_t line_size;
    std::uint32_t name_size;  // the name's bytes, at the start of the line
  };

  std::string_view line_bytes(std::size_t row) const;
  std::string_view name_bytes(std::size_t row) const;
  std::uint64_t key_hash(std::size_t row) const;
  bool same_key(std::size_t a, std::size_t b) const;
  // Whether row a's key sorts after row b's, in a code page of one byte a character.
  bool key_after(std::size_t a, std::size_t b, const SingleByteCodePage& code_page) const;
  // The index: a slot holds row + 1 for every distinct key (0 for none) in its low half,
  // and the high half of the key's hash, which spares most comparisons of keys.
  void index_row(std::size_t row) noexcept;
  void index_row(std::size_t row, std::uint64_t hash) noexcept;
  // Takes row's key out of the index when row is the row the index holds for it.
  void unindex_row(std::size_t row) noexcept;
  void rebuild_index() noexcept;
  // The rows whose key equals key, in order, and with_empty, every row whose name is empty.
  std::vector<std::size_t> rows_matching(std::wstring_view key, bool with_empty) const;
  std::string with_room(std::size_t extra) const;
  Change whole(std::string content) const;

  std::string bytes_;
  std::vector<Row> rows_;
  std::vector<std::uint64_t> slots_;
  // Every line, and only lines, followed by CR LF: bytes_ can be spliced.
  bool canonical_ = true;
  // No row's key sorts before the key of the row above it (known where a character is one
  // byte): Add finds its place by halving. Found as the index is built; the edits keep it.
  bool sorted_ = false;
};

class RecordTable::Change {
 public:
  Change();
  Change(Change&&) noexcept;
  Change& operator=(Change&&) noexcept;
  ~Change();

  // The whole new content.
  std::string content(const RecordTable& table) const;

  // What the change does to the rows, which are counted in the table it was made from: a
  // new row before rows()[0] (count() for after the last), the rows() replaced by one
  // line, or the rows() dropped, in order.
  enum class Kind { add, replace, remove };
  Kind kind() const { return kind_; }
  const std::vector<std::size_t>& rows() const { return rows_; }

 private:
  friend class RecordTable;

  Kind kind_ = Kind::add;
  std::string line_;                   // the new line with its CR LF
  std::vector<std::size_t> rows_;      // added before (add), replaced (replace) or dropped (remove)
  std::unique_ptr<RecordTable> next_;  // the whole new table, when the bytes are not spliced
  std::string whole_content_;          // its content until make_room parses it
  bool whole_ = false;
};

}  // namespace perlwick
