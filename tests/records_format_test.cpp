// Reading lines, splitting them at "~~", and checking texts before they are stored.

#include <gtest/gtest.h>

#include <algorithm>

#include "records/records_format.h"
#include "window/messages.h"

namespace perlwick {
namespace {

std::vector<std::string> lines_of(std::string_view bytes) {
  std::vector<std::string> lines;
  LineReader reader(bytes);
  std::string_view line;
  while (reader.next(line)) lines.emplace_back(line);
  return lines;
}

TEST(LineReader, SplitsAtCarriageReturns) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\r\n", {"a"}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb", {"a", "b"}},      // a lone CR ends a line
      {"a\nb\r\n", {"a\nb"}},    // a lone LF is an ordinary character
      {"a\r\n\r\n", {"a", ""}},  // two line ends at the end give an empty line
      {"\r\n", {""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"a\n\r\nb\n", {"a\n", "b\n"}},
      {"\n", {"\n"}},
  };
  for (const Case& c : cases) EXPECT_EQ(lines_of(c.bytes), c.lines) << c.bytes;
}

TEST(RecordFromLine, SplitsLeftToRightWithoutOverlap) {
  struct Case {
    std::wstring line;
    std::vector<std::wstring> parts;  // the first fields; the others are empty
  };
  const Case cases[] = {
      {L"", {}},
      {L"abc", {L"abc"}},
      {L"a~~b", {L"a", L"b"}},
      {L"a~~~b", {L"a", L"~b"}},
      {L"a~~~~b", {L"a", L"", L"b"}},
      {L"~~", {L"", L""}},
      {L"a~b", {L"a~b"}},
      {L"a~~", {L"a", L""}},
      {L"~~~", {L"", L"~"}},
  };
  for (const Case& c : cases) {
    Record expected;
    std::copy(c.parts.begin(), c.parts.end(), expected.begin());
    EXPECT_EQ(record_from_line(c.line), expected) << c.line;
  }
}

TEST(RecordFromLine, FillsEightFields) {
  struct Case {
    std::wstring line;
    Record record;
  };
  const Case cases[] = {
      {L"A~~B~~C~~D~~E~~F~~G~~H", {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H"}},
      {L"A~~B~~C~~D~~E~~F~~G~~", {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L""}},
      {L"A~~~~C~~D~~E~~F~~G~~H", {L"A", L"", L"C", L"D", L"E", L"F", L"G", L"H"}},
      {L"A~~B~~~C~~D~~E~~F~~G~~H", {L"A", L"B", L"~C", L"D", L"E", L"F", L"G", L"H"}},
      // Parts past the eighth stay in the notes, separators and all.
      {L"A~~B~~C~~D~~E~~F~~G~~H~~I", {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H~~I"}},
      {L"A~~B~~C~~D~~E~~F~~G~~H~~~I~~", {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L"H~~~I~~"}},
      // Short lines leave the missing fields empty.
      {L"A~~B", {L"A", L"B", L"", L"", L"", L"", L"", L""}},
      {L"A", {L"A", L"", L"", L"", L"", L"", L"", L""}},
      {L"A~~B~~C~~D~~E~~F~~G", {L"A", L"B", L"C", L"D", L"E", L"F", L"G", L""}},
      {L"n~~u\nv~~l~~u~~p~~c~~d~~x\ny", {L"n", L"u\nv", L"l", L"u", L"p", L"c", L"d", L"x\ny"}},
  };
  for (const Case& c : cases) EXPECT_EQ(record_from_line(c.line), c.record) << c.line;
}

TEST(RecordFromLine, JoiningGivesTheLineBackWhenItHasEightOrMoreParts) {
  for (const std::wstring line : {L"A~~B~~C~~D~~E~~F~~G~~H", L"~~~~~~~~~~~~~~",
                                  L"A~~B~~C~~D~~E~~F~~G~~H~~I~~J", L"A~~B~~~C~~D~~E~~F~~G~~H~"}) {
    EXPECT_EQ(join_record(record_from_line(line)), line);
  }
}

TEST(CheckRecordText, RefusesWhatTheFileCannotHold) {
  struct Case {
    std::size_t field;
    std::wstring text;
    std::wstring_view mentions;  // empty: the text is accepted
  };
  const Case cases[] = {
      {0, L"Acme", L""},
      {7, L"line one\nline two", L""},
      {7, L"ends with ~", L""},  // nothing follows the notes
      {1, L"a~b", L""},
      {2, L"~lead", L""},
      {4, L"caf\u00E9 \u20AC", L""},
      {0, L"Ac~~me", L"Product Name text cannot be stored: it contains \"~~\""},
      {7, L"a~~b", L"Notes text cannot be stored: it contains \"~~\""},
      {2, L"http://x/~", L"Affiliate Link text cannot be stored: it ends with \"~\""},
      {5, L"10~", L"Commision % text cannot be stored: it ends with \"~\""},
      {7, L"a\r\nb", L"Notes text cannot be stored: it contains a carriage return"},
      {3, L"a\rb", L"Username text cannot be stored: it contains a carriage return"},
      {6, L"\u6F22", L"Date Joined text cannot be stored: its 1st character, \"\u6F22\", has no"},
      {1, L"Acme ca\uFF5E", L"its 8th character, \"\uFF5E\", which follows \"Acme ca\", has"},
      {7, std::wstring(12, L'n') + L"23\u6F22",
       L"15th character, \"\u6F22\", which follows \"nnnnnnnnnn23\""},
      {7, L"\U0001F600",
       L"1st character, \"\U0001F600\", has no exact form in the system's code "
       L"page, in which the records file is kept. (Its character code is U+1F600.)"},
  };
  for (const Case& c : cases) {
    Record record;
    record[c.field] = c.text;
    const Status status = check_record_text(record);
    if (c.mentions.empty()) {
      EXPECT_TRUE(status.ok()) << c.field;
    } else {
      ASSERT_FALSE(status.ok()) << c.field;
      EXPECT_NE(text_of(status).find(c.mentions), std::wstring::npos) << c.field;
    }
  }
}

TEST(EncodeRecordLine, JoinsWithSevenSeparators) {
  const Record record = {L"Acme", L"", L"l", L"", L"p", L"", L"", L""};
  EXPECT_EQ(encode_record_line(record), "Acme~~~~l~~~~p~~~~~~");
  EXPECT_EQ(encode_record_line(Record{}), "~~~~~~~~~~~~~~");
}

}  // namespace
}  // namespace perlwick
