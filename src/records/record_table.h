#pragma once

// The record table: the records file's content in memory, one row per non-empty line, in
// file order. The table keeps the file's bytes and, for each row, where its line and its
// product name lie in them: a row that no edit touches is written back byte for byte, and
// the table takes little more memory than the file, whatever the file holds. Names, name
// keys (upper-case forms) and fields are read from the bytes when asked for, by the name
// reader of the code page the table was built in (name_reader.h). An index from each name
// key to the last row of that key answers the look-up at once (record_index.cpp).
//
// An edit is a Change: first made (nothing in the table changes), then given its room
// (the one step that takes memory, before the file is written), then written from its
// pieces, and only then applied, which cannot fail. Where the file holds one CR LF after
// every line and nothing else, and a character is one byte, a change splices the table's
// bytes in place; otherwise it makes the whole new table (record_changes.cpp). Splicing
// reads keys only through the single-byte reader, which takes no memory: that is what
// lets applying a change promise not to fail.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "records/records_format.h"

namespace perlwick {

// The name key of a product name: its upper-case form. Names match when their keys are
// equal; Add orders keys by character code.
std::wstring name_key(std::wstring_view name);

class NameReader;
class SingleByteNames;

class RecordTable {
 public:
  class Change;

  // An empty table. It reads no names: its first edit makes a new table, which reads them
  // in the ANSI code page in use then.
  RecordTable() noexcept = default;
  RecordTable(RecordTable&&) noexcept = default;
  RecordTable& operator=(RecordTable&&) noexcept = default;
  ~RecordTable();

  // Builds the table from the records file's bytes. Empty lines are skipped; every other
  // line is a row, whatever its number of fields. Names are read in the ANSI code page in
  // use now, for as long as the table lives.
  static RecordTable parse(std::string bytes);

  std::size_t count() const { return rows_.size(); }
  // The product name as stored.
  std::wstring name(std::size_t row) const;
  // The same into name, reusing its memory.
  void name(std::size_t row, std::wstring& name) const;
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
  // The index's slots hold a row in these bits (record_index.cpp).
  static constexpr std::uint64_t kRowBits = 0xFFFF'FFFFu;
  // The part of a key's hash a slot keeps.
  static constexpr std::uint64_t hash_half(std::uint64_t hash) { return hash & ~kRowBits; }

  struct Row {
    std::uint64_t line_begin;  // in bytes_
    std::uint32_t line_size;
    std::uint32_t name_size;  // the name's bytes, at the start of the line
  };
  // What a change does to the table, one kind each (record_changes.cpp). A change sees
  // the table it is made from as const, and alters it only through a Splicer.
  class Step;
  class Adding;
  class Replacing;
  class Removing;
  class Rewriting;

  // The only way a change alters the table it is applied to, where the table's bytes are
  // spliced in place (record_splicing.cpp). Each step keeps the bytes, the rows and the
  // index in step with one another; lines come with their CR LF, and names are read by
  // the single-byte reader, which takes no memory. Making room is the one step that may
  // fail.
  class Splicer {
   public:
    explicit Splicer(RecordTable& table) noexcept : table_(table) {}
    // Room for one more row, of a line of line_size bytes.
    void make_room_to_add(std::size_t line_size, const SingleByteNames& names);
    // Room for the bytes to grow to size.
    void make_room_for(std::size_t size);
    // line becomes row at, before the row that was there.
    void add(std::size_t at, std::string_view line, const SingleByteNames& names) noexcept;
    // line takes the place of each of rows, whose keys it shares.
    void replace(const std::vector<std::size_t>& rows, std::string_view line,
                 const SingleByteNames& names) noexcept;
    // rows, in order, are dropped.
    void remove(const std::vector<std::size_t>& rows, const SingleByteNames& names) noexcept;
    // The table becomes next, a whole new table.
    void become(RecordTable&& next) noexcept;

   private:
    RecordTable& table_;
  };

  // A change of more rows than this makes the whole new table (an Update) or rebuilds the
  // index (a Delete) instead of splicing each.
  static constexpr std::size_t kMostSplicedRows = 16;

  std::string_view line_bytes(const Row& row) const noexcept {
    return std::string_view(bytes_).substr(static_cast<std::size_t>(row.line_begin), row.line_size);
  }
  std::string_view line_bytes(std::size_t row) const noexcept { return line_bytes(rows_[row]); }
  std::string_view name_bytes(const Row& row) const noexcept {
    return line_bytes(row).substr(0, row.name_size);
  }
  std::string_view name_bytes(std::size_t row) const noexcept { return name_bytes(rows_[row]); }
  // Where row's line begins, and for count() where the bytes end.
  std::size_t line_begin(std::size_t row) const noexcept {
    return row < rows_.size() ? static_cast<std::size_t>(rows_[row].line_begin) : bytes_.size();
  }
  explicit RecordTable(const NameReader& names) noexcept : names_(&names) {}
  // The table of bytes, whose names names reads. It takes the bytes only when it is made:
  // where it fails, they are left as they were.
  static RecordTable parse(std::string& bytes, const NameReader& names);
  // Finds the rows of bytes_, and builds the index.
  void read_rows();

  // Room to grow by a little without moving: edits are made in place.
  static std::size_t with_slack(std::size_t size) noexcept { return size + size / 64 + 64; }
  // A line's size as a row holds it; throws std::length_error for a line over 4 GB.
  static std::uint32_t checked_size(std::size_t size);
  // The reader of a code page of one byte a character, when the table's is one: only then
  // are the table's bytes spliced in place.
  const SingleByteNames* splicing_names() const noexcept;
  // The rows whose key equals key, in order, and with_empty, every row whose name is empty.
  std::vector<std::size_t> rows_matching(std::wstring_view key, bool with_empty) const;

  // The index (record_index.cpp): a slot holds row + 1 for every distinct key (0 for none)
  // in its low half, and the high half of the key's hash, which spares most comparisons of
  // keys. Names is the table's reader, or the single-byte one, which never fails.
  template <class Names>
  void index_row(const Names& names, std::size_t row,
                 std::uint64_t hash) noexcept(Names::kTakesNoMemory);
  // Takes row's key out of the index when row is the row the index holds for it.
  void unindex_row(const SingleByteNames& names, std::size_t row) noexcept;
  // Every row's key anew, into slots_ as they are sized; finds sorted_ on the way.
  template <class Names>
  void rebuild_index(const Names& names) noexcept(Names::kTakesNoMemory);
  // Sizes the index for rows_ and builds it.
  void make_index();

  std::string bytes_;
  std::vector<Row> rows_;
  std::vector<std::uint64_t> slots_;
  const NameReader* names_ = nullptr;  // never null where there are rows
  // Every line, and only lines, followed by CR LF: bytes_ can be spliced.
  bool canonical_ = true;
  // No row's key sorts before the key of the row above it (known where a character is one
  // byte): Add finds its place by halving. Found as the index is built; the edits keep it.
  bool sorted_ = false;
};

class RecordTable::Change {
 public:
  Change(Change&&) noexcept;
  Change& operator=(Change&&) noexcept;
  ~Change();

  // What the change does to the rows, which are counted in the table it was made from: a
  // new row before rows()[0] (count() for after the last), the rows() replaced by one
  // line, or the rows() dropped, in order.
  enum class Kind { add, replace, remove };
  Kind kind() const { return kind_; }
  const std::vector<std::size_t>& rows() const { return rows_; }

 private:
  friend class RecordTable;
  Change(Kind kind, std::vector<std::size_t> rows, std::unique_ptr<Step> step);

  Kind kind_;
  std::vector<std::size_t> rows_;
  std::unique_ptr<Step> step_;  // empty only once moved from
};

}  // namespace perlwick
