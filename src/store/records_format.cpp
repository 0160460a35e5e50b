#include "store/records_format.h"

#include "store/ansi_text.h"

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

std::wstring describe_char(wchar_t c) {
  static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
  std::wstring code = L"U+";
  const auto value = static_cast<unsigned long>(c);
  for (int shift = (value > 0xFFFF ? 20 : 12); shift >= 0; shift -= 4) {
    code += kHex[(value >> shift) & 0xF];
  }
  return L"\"" + std::wstring(1, c) + L"\" (" + code + L")";
}

Status refuse(std::size_t field, std::wstring_view why) {
  return Status::failure(L"The " + std::wstring(field_label(field)) + L" text cannot be stored: " +
                         std::wstring(why) + L"\n\nNothing was saved.");
}

}  // namespace

Status check_record_text(const Record& record) {
  for (std::size_t field = 0; field < kFieldCount; ++field) {
    const std::wstring& text = record[field];
    if (text.find(kFieldSeparator) != std::wstring::npos) {
      return refuse(field, L"it contains \"~~\", which the records file uses to separate fields.");
    }
    if (field != kNotesField && !text.empty() && text.back() == L'~') {
      return refuse(field,
                    L"it ends with \"~\", which would run into the field separator \"~~\" that "
                    L"follows it.");
    }
    if (text.find(L'\r') != std::wstring::npos) {
      return refuse(field, L"it contains a carriage return, which would end the record's line.");
    }
    std::string bytes;
    if (!encode_ansi(text, bytes)) {
      for (const wchar_t c : text) {
        bytes.clear();
        if (!encode_ansi(std::wstring_view(&c, 1), bytes)) {
          return refuse(field, L"the character " + describe_char(c) +
                                   L" has no exact form in the system's code page.");
        }
      }
      return refuse(field, L"some of its characters have no exact form in the system's code page.");
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
