#pragma once

// The records file's line format: lines end at a carriage return (a CR LF pair counts
// as one line end), and a record line is the eight field texts joined by "~~".

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "common/status.h"

namespace perlwick {

inline constexpr std::size_t kFieldCount = 8;
inline constexpr std::size_t kNotesField = 7;
inline constexpr std::wstring_view kFieldSeparator = L"~~";
inline constexpr std::string_view kLineEnd = "\r\n";

// One record: product name, URL, affiliate link, username, password, commission %,
// date joined, notes.
using Record = std::array<std::wstring, kFieldCount>;

// Reads the lines of a records file's bytes one after another. A carriage return ends a
// line and a line feed right after it belongs to the same line end; a line feed anywhere
// else is an ordinary character. A last line without a line end is a line; a line end at
// the very end of the bytes adds no empty line.
class LineReader {
 public:
  explicit LineReader(std::string_view bytes) : rest_(bytes) {}

  // Sets line and returns true, or returns false at the end of the bytes.
  bool next(std::string_view& line);
  // Offset of the next unread byte from the start of the bytes.
  std::size_t consumed(std::string_view all) const {
    return static_cast<std::size_t>(rest_.data() - all.data());
  }

 private:
  std::string_view rest_;
};

// The record a line holds: the line split at "~~" from left to right without overlap
// ("a~~~b" gives "a" and "~b"). Missing fields are empty; a line of more than eight parts
// keeps parts 8 onward in the notes, joined by "~~" as they stood, so that joining the
// record again gives the line back.
Record record_from_line(std::wstring_view line);

// Joins the eight fields with "~~".
std::wstring join_record(const Record& record);

// Checks that the records file can hold the record's texts exactly: no "~~", no carriage
// return, no trailing "~" before a separator, only characters of the ANSI code page. The
// failure names the field and says why.
Status check_record_text(const Record& record);

// The line's bytes (without its line end) for a record that passed check_record_text.
std::string encode_record_line(const Record& record);

}  // namespace perlwick
