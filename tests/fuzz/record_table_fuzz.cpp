// Fuzzes the records file's loader and the three edits with any bytes: the load never
// fails, an untouched table writes every non-empty line back exactly, and each edit
// changes only what it must and keeps every other line in its order.
//
// Input: one byte choosing the edit and the code page (one byte a character, or two), the
// name up to the first NUL byte, then the file.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "records/ansi_text.h"
#include "records/record_table.h"

namespace {

using perlwick::LineReader;
using perlwick::RecordTable;

void require(bool holds) {
  if (!holds) std::abort();
}

std::vector<std::string_view> lines_of(std::string_view bytes) {
  std::vector<std::string_view> lines;
  LineReader reader(bytes);
  std::string_view line;
  while (reader.next(line)) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// The new content a change writes, in one piece.
std::string content_of(const RecordTable& table, const RecordTable::Change& change) {
  std::string content;
  for (const std::string_view piece : table.pieces(change)) content += piece;
  return content;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t nul = input.find('\0');
  const std::string_view name_bytes = input.substr(0, nul);
  const std::string_view file = nul == std::string_view::npos ? input : input.substr(nul + 1);
  const int edit = data[0] % 3;
  perlwick::use_double_byte_code_page(data[0] / 3 % 2 == 1);

  const RecordTable table = RecordTable::parse(std::string(file));
  const std::vector<std::string_view> lines = lines_of(file);
  require(table.count() == lines.size());

  // The edits store only what the records file can hold.
  perlwick::Record record;
  perlwick::decode_ansi(name_bytes, record[0]);
  record[1] = L"new";
  if (!perlwick::check_record_text(record).ok()) return 0;
  const std::wstring key = perlwick::name_key(record[0]);
  const std::string new_line = perlwick::encode_record_line(record);
  const auto matches = [&](std::size_t row) { return table.compare_key(row, key) == 0; };

  // The look-up finds the last row of the name.
  std::size_t last = table.count();
  for (std::size_t row = 0; row < table.count(); ++row) {
    if (matches(row)) last = row;
  }
  require(table.last_match(key) == last);

  std::vector<std::string_view> out;
  switch (edit) {
    case 0: {  // Add: one new line, directly before the first row whose key sorts after.
      const std::string content = content_of(table, table.with_added(key, new_line));
      out = lines_of(content);
      require(out.size() == lines.size() + 1);
      std::size_t at = 0;
      while (at < lines.size() && table.compare_key(at, key) <= 0) ++at;
      require(out[at] == new_line);
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(at));
      require(out == lines);
      break;
    }
    case 1: {  // Update: every row of the name becomes the new line; the rest stay.
      const std::string content = content_of(table, table.with_replaced(key, new_line));
      out = lines_of(content);
      require(out.size() == lines.size());
      for (std::size_t row = 0; row < lines.size(); ++row) {
        require(out[row] == (matches(row) ? std::string_view(new_line) : lines[row]));
      }
      require(content.size() == 0 || content.ends_with("\r\n"));
      break;
    }
    default: {  // Delete: rows of the name and rows without a name go; the rest stay.
      const std::string content = content_of(table, table.without(key));
      std::vector<std::string_view> kept;
      for (std::size_t row = 0; row < lines.size(); ++row) {
        if (!matches(row) && !table.empty_name(row)) kept.push_back(lines[row]);
      }
      require(lines_of(content) == kept);
      break;
    }
  }

  // The same change applied to the table leaves the table of what it wrote, whose index
  // finds what a scan finds.
  RecordTable edited = RecordTable::parse(std::string(file));
  RecordTable::Change change = edit == 0   ? edited.with_added(key, new_line)
                               : edit == 1 ? edited.with_replaced(key, new_line)
                                           : edited.without(key);
  edited.make_room(change);
  const std::string written = content_of(edited, change);
  edited.apply(change);
  require(edited.bytes() == written);
  std::size_t scanned = edited.count();
  for (std::size_t row = 0; row < edited.count(); ++row) {
    if (edited.compare_key(row, key) == 0) scanned = row;
  }
  require(edited.last_match(key) == scanned);
  return 0;
}
