#include "records/records_format.h"

#include <vector>

#include "records/ansi_text.h"

namespace perlwick {

bool LineReader::next(std::string_view& line) {
  if (rest_.empty()) return false;
  const std::size_t cr = rest_.find('\r');
  if (cr == std::string_view::npos) {
    line = rest_;
    rest_ = rest_.substr(rest_.size());
    return true;
  }
  line = rest_.substr(0, cr);
  const std::size_t end = (cr + 1 < rest_.size() && rest_[cr + 1] == '\n') ? cr + 2 : cr + 1;
  rest_ = rest_.substr(end);
  return true;
}

Record record_from_line(std::wstring_view line) {
  Record record;
  std::size_t start = 0;
  for (std::size_t field = 0; field < kNotesField && start <= line.size(); ++field) {
    const std::size_t found = line.find(kFieldSeparator, start);
    if (found == std::wstring_view::npos) {
      record[field] = line.substr(start);
      return record;
    }
    record[field] = line.substr(start, found - start);
    start = found + kFieldSeparator.size();
  }
  record[kNotesField] = line.substr(start);
  return record;
}

std::wstring join_record(const Record& record) {
  std::wstring line;
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    if (field > 0) line += kFieldSeparator;
    line += record[field];
  }
  return line;
}

namespace {

Status refuse(std::size_t field, Says why, std::vector<std::wstring> names = {}) {
  return Status::failure(Message{why, std::move(names), {}, field});
}

// How much of the text before a character a message shows, so that it can be found.
constexpr std::size_t kShownBefore = 12;

}  // namespace

Status check_record_text(const Record& record) {
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const std::wstring& text = record[field];
    if (text.find(kFieldSeparator) != std::wstring::npos) {
      return refuse(field, Says::field_has_separator);
    }
    if (field != kNotesField && !text.empty() && text.back() == L'~') {
      return refuse(field, Says::field_ends_in_tilde);
    }
    if (text.find(L'\r') != std::wstring::npos) {
      return refuse(field, Says::field_has_carriage_return);
    }
    std::string bytes;
    if (!encode_ansi(text, bytes)) {
      // The first character that cannot be stored: itself (both halves of a pair), which
      // character of the text it is, and what comes before it.
      std::size_t position = 0;
      for (std::size_t i = 0; i < text.size(); ++i) {
        const bool pair = text[i] >= 0xD800 && text[i] < 0xDC00 && i + 1 < text.size();
        const std::wstring_view c = std::wstring_view(text).substr(i, pair ? 2 : 1);
        ++position;
        bytes.clear();
        if (!encode_ansi(c, bytes)) {
          const std::size_t from = i > kShownBefore ? i - kShownBefore : 0;
          return refuse(field, Says::char_not_in_code_page,
                        {std::wstring(c), std::to_wstring(position), text.substr(from, i - from)});
        }
        if (pair) ++i;
      }
      return refuse(field, Says::chars_not_in_code_page);
    }
  }
  return Status();
}

std::string encode_record_line(const Record& record) {
  std::string line;
  // check_record_text has already made sure this succeeds.
  (void)encode_ansi(join_record(record), line);
  return line;
}

}  // namespace perlwick
