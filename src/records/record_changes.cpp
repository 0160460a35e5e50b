// The three changes to the record table, and the whole new table that stands for any of
// them where the bytes are not spliced. Each kind says in one place how it is made, what
// memory it takes, the pieces of the new content, and how it is applied: through the
// table's Splicer (record_splicing.cpp), never by writing the table itself.

#include <algorithm>

#include "records/name_reader.h"
#include "records/record_table.h"

namespace perlwick {
namespace {

using Rows = std::vector<std::size_t>;
using Pieces = std::vector<std::string_view>;

void add_piece(Pieces& pieces, std::string_view piece) {
  if (!piece.empty()) pieces.push_back(piece);
}

void append_line(std::string& out, std::string_view line) {
  out += line;
  out += kLineEnd;
}

std::string with_line_end(std::string_view line) {
  std::string out;
  append_line(out, line);
  return out;
}

}  // namespace

class RecordTable::Step {
 public:
  virtual ~Step() = default;
  // Takes the memory the change needs: the one part of a change that may fail.
  virtual void make_room(const RecordTable& table, Splicer& splice, const Rows& rows) = 0;
  // Appends the new content, in pieces, to pieces.
  virtual void pieces(const RecordTable& table, const Rows& rows, Pieces& pieces) const = 0;
  // Makes the table that of the new content, in the memory make_room took.
  virtual void apply(Splicer& splice, const Rows& rows) noexcept = 0;

 protected:
  // The pieces of a table whose lines each end in CR LF, with each of rows replaced by
  // line (nothing for a dropped row).
  static void pieces_around(const RecordTable& table, const Rows& rows, std::string_view line,
                            Pieces& pieces) {
    const std::string_view all = table.bytes();
    std::size_t next = 0;
    for (const std::size_t row : rows) {
      add_piece(pieces, all.substr(next, table.line_begin(row) - next));
      add_piece(pieces, line);
      next = table.line_begin(row) + table.line_bytes(row).size() + kLineEnd.size();
    }
    add_piece(pieces, all.substr(next));
  }
};

RecordTable::Change::Change(Kind kind, Rows rows, std::unique_ptr<Step> step)
    : kind_(kind), rows_(std::move(rows)), step_(std::move(step)) {}
RecordTable::Change::Change(Change&&) noexcept = default;
RecordTable::Change& RecordTable::Change::operator=(Change&&) noexcept = default;
RecordTable::Change::~Change() = default;

// ---- The whole new table ------------------------------------------------------------------

class RecordTable::Rewriting final : public Step {
 public:
  // The new content of table, written row by row: write(out, row) appends what stands for
  // the row, and is asked once more with count() for what follows the last row.
  template <class Write>
  static std::unique_ptr<Step> of(const RecordTable& table, std::size_t extra, Write write) {
    // A row's line may have had a lone CR or no line end at all: each gets a full CR LF. The
    // new table keeps these bytes, with room for the next edits to be made in place.
    std::string out;
    out.reserve(with_slack(table.bytes().size() + (table.count() + 1) * kLineEnd.size() + extra));
    for (std::size_t row = 0; row <= table.count(); ++row) write(out, row);
    const NameReader& names = table.names_ != nullptr ? *table.names_ : name_reader_for_code_page();
    return std::make_unique<Rewriting>(std::move(out), names);
  }

  Rewriting(std::string content, const NameReader& names)
      : content_(std::move(content)), names_(names) {}

  void make_room(const RecordTable&, Splicer&, const Rows&) override {
    if (next_) return;
    // Where memory runs out, the content stays, and the change is as it was made.
    auto next = std::make_unique<RecordTable>();
    *next = parse(content_, names_);
    next_ = std::move(next);
  }

  void pieces(const RecordTable&, const Rows&, Pieces& pieces) const override {
    add_piece(pieces, next_ ? std::string_view(next_->bytes_) : std::string_view(content_));
  }

  void apply(Splicer& splice, const Rows&) noexcept override { splice.become(std::move(*next_)); }

 private:
  std::string content_;  // until make_room parses it
  const NameReader& names_;
  std::unique_ptr<RecordTable> next_;
};

// ---- Add ----------------------------------------------------------------------------------

class RecordTable::Adding final : public Step {
 public:
  // The first row whose key sorts after key.
  static std::size_t place(const RecordTable& table, std::wstring_view key) {
    std::size_t before = 0;
    if (table.sorted_) {
      // Found by halving.
      std::size_t after = table.count();
      while (before < after) {
        const std::size_t middle = before + (after - before) / 2;
        if (table.compare_key(middle, key) <= 0) {
          before = middle + 1;
        } else {
          after = middle;
        }
      }
    } else {
      while (before < table.count() && table.compare_key(before, key) <= 0) ++before;
    }
    return before;
  }

  static std::unique_ptr<Step> make(const RecordTable& table, std::size_t before,
                                    std::string_view line) {
    if (const SingleByteNames* names = table.splicing_names()) {
      return std::make_unique<Adding>(*names, line);
    }
    return Rewriting::of(table, line.size(), [&](std::string& out, std::size_t row) {
      if (row == before) append_line(out, line);
      if (row < table.count()) append_line(out, table.line_bytes(row));
    });
  }

  Adding(const SingleByteNames& names, std::string_view line)
      : names_(names), line_(with_line_end(line)) {}

  void make_room(const RecordTable&, Splicer& splice, const Rows&) override {
    splice.make_room_to_add(line_.size(), names_);
  }

  void pieces(const RecordTable& table, const Rows& rows, Pieces& pieces) const override {
    const std::string_view all = table.bytes();
    const std::size_t at = table.line_begin(rows.front());
    add_piece(pieces, all.substr(0, at));
    add_piece(pieces, line_);
    add_piece(pieces, all.substr(at));
  }

  void apply(Splicer& splice, const Rows& rows) noexcept override {
    splice.add(rows.front(), line_, names_);
  }

 private:
  const SingleByteNames& names_;
  std::string line_;  // with its CR LF
};

// ---- Update -------------------------------------------------------------------------------

class RecordTable::Replacing final : public Step {
 public:
  static std::unique_ptr<Step> make(const RecordTable& table, const Rows& rows,
                                    std::string_view line) {
    if (const SingleByteNames* names = table.splicing_names();
        names != nullptr && rows.size() <= kMostSplicedRows) {
      return std::make_unique<Replacing>(*names, line);
    }
    std::size_t next = 0;  // in rows
    return Rewriting::of(table, rows.size() * line.size(), [&](std::string& out, std::size_t row) {
      if (row == table.count()) return;
      const bool replaced = next < rows.size() && rows[next] == row;
      next += replaced;
      append_line(out, replaced ? line : table.line_bytes(row));
    });
  }

  Replacing(const SingleByteNames& names, std::string_view line)
      : names_(names), line_(with_line_end(line)) {}

  void make_room(const RecordTable& table, Splicer& splice, const Rows& rows) override {
    (void)checked_size(line_.size());
    // The rows are replaced from the last up: where a line replaced early is shorter than
    // the new one and a later one longer, the bytes on the way are more than at the end.
    std::size_t size = table.bytes().size();
    std::size_t most = size;
    for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
      size = size - table.line_bytes(*row).size() - kLineEnd.size() + line_.size();
      most = std::max(most, size);
    }
    splice.make_room_for(most);
  }

  void pieces(const RecordTable& table, const Rows& rows, Pieces& pieces) const override {
    pieces_around(table, rows, line_, pieces);
  }

  void apply(Splicer& splice, const Rows& rows) noexcept override {
    splice.replace(rows, line_, names_);
  }

 private:
  const SingleByteNames& names_;
  std::string line_;  // with its CR LF
};

// ---- Delete -------------------------------------------------------------------------------

class RecordTable::Removing final : public Step {
 public:
  static std::unique_ptr<Step> make(const RecordTable& table, const Rows& rows) {
    if (const SingleByteNames* names = table.splicing_names()) {
      return std::make_unique<Removing>(*names);
    }
    std::size_t next = 0;  // in rows
    return Rewriting::of(table, 0, [&](std::string& out, std::size_t row) {
      if (row == table.count()) return;
      const bool dropped = next < rows.size() && rows[next] == row;
      next += dropped;
      if (!dropped) append_line(out, table.line_bytes(row));
    });
  }

  explicit Removing(const SingleByteNames& names) : names_(names) {}

  void make_room(const RecordTable&, Splicer&, const Rows&) override {}  // everything shrinks

  void pieces(const RecordTable& table, const Rows& rows, Pieces& pieces) const override {
    pieces_around(table, rows, {}, pieces);
  }

  void apply(Splicer& splice, const Rows& rows) noexcept override { splice.remove(rows, names_); }

 private:
  const SingleByteNames& names_;
};

// ---- The table's side ---------------------------------------------------------------------

RecordTable::Change RecordTable::with_added(std::wstring_view new_key,
                                            std::string_view new_line) const {
  const std::size_t before = Adding::place(*this, new_key);
  return Change(Change::Kind::add, {before}, Adding::make(*this, before, new_line));
}

RecordTable::Change RecordTable::with_replaced(std::wstring_view match_key,
                                               std::string_view new_line) const {
  Rows rows = rows_matching(match_key, false);
  std::unique_ptr<Step> step = Replacing::make(*this, rows, new_line);
  return Change(Change::Kind::replace, std::move(rows), std::move(step));
}

RecordTable::Change RecordTable::without(std::wstring_view match_key) const {
  Rows rows = rows_matching(match_key, true);
  std::unique_ptr<Step> step = Removing::make(*this, rows);
  return Change(Change::Kind::remove, std::move(rows), std::move(step));
}

void RecordTable::make_room(Change& change) {
  Splicer splice(*this);
  change.step_->make_room(*this, splice, change.rows_);
}

std::vector<std::string_view> RecordTable::pieces(const Change& change) const {
  Pieces pieces;
  change.step_->pieces(*this, change.rows_, pieces);
  return pieces;
}

void RecordTable::apply(Change& change) noexcept {
  Splicer splice(*this);
  change.step_->apply(splice, change.rows_);
}

}  // namespace perlwick
