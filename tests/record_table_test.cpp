// The record table built from a file's bytes, and the new contents the edits make of it.

#include <gtest/gtest.h>

#include <optional>

#include "allocation_failure.h"
#include "records/ansi_text.h"
#include "records/record_table.h"

namespace perlwick {
namespace {

#ifdef _WIN32
// Windows decodes with the system's code page: the made-up one is for the native tests.
constexpr bool kDoubleByteCodePage[] = {false};
void use_double_byte_code_page(bool) {}
#else
constexpr bool kDoubleByteCodePage[] = {false, true};
#endif

// The made-up code page of two bytes a character, for as long as this lives.
class DoubleByteCodePage {
 public:
  DoubleByteCodePage() { use_double_byte_code_page(true); }
  ~DoubleByteCodePage() { use_double_byte_code_page(false); }
  DoubleByteCodePage(const DoubleByteCodePage&) = delete;
  DoubleByteCodePage& operator=(const DoubleByteCodePage&) = delete;
};

std::wstring decoded(std::string_view bytes) {
  std::wstring text;
  decode_ansi(bytes, text);
  return text;
}

// A record line whose name is name and whose other fields say which record it is.
std::string line_for(const std::string& name) {
  return name + "~~u~~l~~n~~p~~c~~d~~" + name + " notes";
}

std::string file_of(const std::vector<std::string>& names) {
  std::string bytes;
  for (const auto& name : names) bytes += line_for(name) + "\r\n";
  return bytes;
}

// The new content a change writes, in one piece.
std::string content_of(const RecordTable& table, const RecordTable::Change& change) {
  std::string content;
  for (const std::string_view piece : table.pieces(change)) content += piece;
  return content;
}

std::wstring key_of(const RecordTable& table, std::size_t row) {
  return name_key(table.name(row));
}

std::vector<std::string> names_in(const std::string& bytes) {
  const RecordTable table = RecordTable::parse(bytes);
  std::vector<std::string> names;
  for (std::size_t row = 0; row < table.count(); ++row) {
    std::string name;
    for (const wchar_t c : table.name(row)) name += static_cast<char>(c);
    names.push_back(name);
  }
  return names;
}

TEST(RecordTable, KeepsRowsInFileOrderWithDuplicatesAndEmptyNames) {
  const RecordTable table =
      RecordTable::parse("Zed~~1~~~~~~~~~~~~\r\n~~2~~~~~~~~~~~~\r\nzed~~3~~~~~~~~~~~~\r\n");
  ASSERT_EQ(table.count(), 3u);
  EXPECT_EQ(table.name(0), L"Zed");
  EXPECT_EQ(table.name(1), L"");
  EXPECT_EQ(table.name(2), L"zed");
  EXPECT_EQ(key_of(table, 0), key_of(table, 2));
  EXPECT_EQ(table.record(1)[1], L"2");
}

TEST(RecordTable, CountsLinesAsTheReaderDoes) {
  struct Case {
    std::string bytes;
    std::size_t count;
  };
  const Case cases[] = {
      {"", 0},
      {"A~~~~~~~~~~~~~~", 1},  // last line without a line end
      {"A~~~~~~~~~~~~~~\r\nB~~~~~~~~~~~~~~\r\n", 2},
      {"A~~~~~~~~~~~~~~\r\n\r\n", 1},  // an empty line is skipped
      {"\r\n\r\nA~~~~~~~~~~~~~~\r\n\r\n", 1},
      {"A~~B\r\nC", 2},  // short lines still are rows
      {"A~~B~~~~~~~~~~~~\rB~~~~~~~~~~~~~~", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(RecordTable::parse(c.bytes).count(), c.count) << c.bytes;
}

TEST(RecordTable, ReadsTheNameUpToTheFirstSeparator) {
  const std::string bytes = "Acme\r\nA~~~B~~\r\n~~x\r\nx~\r\n\x82~~~x\r\n";
  const RecordTable table = RecordTable::parse(bytes);
  EXPECT_EQ(table.name(0), L"Acme");
  EXPECT_EQ(table.name(1), L"A");
  EXPECT_EQ(table.name(2), L"");
  EXPECT_EQ(table.name(3), L"x~");
  EXPECT_EQ(table.name(4), L"\u201A");
#ifndef _WIN32
  // Where a character takes two bytes, a '~' that ends one is no separator.
  const DoubleByteCodePage double_byte;
  const RecordTable read = RecordTable::parse(bytes);
  EXPECT_EQ(read.name(1), L"A");
  EXPECT_EQ(read.name(3), L"x~");
  EXPECT_EQ(read.name(4), L"\u827E");
#endif
}

TEST(RecordTable, HoldsFarMoreThan32767Rows) {
  std::string bytes;
  for (int i = 0; i < 40000; ++i) bytes += "n" + std::to_string(i) + "~~~~~~~~~~~~~~\r\n";
  const RecordTable table = RecordTable::parse(bytes);
  ASSERT_EQ(table.count(), 40000u);
  EXPECT_EQ(table.name(39999), L"n39999");
  EXPECT_EQ(content_of(table, table.without(L"N0")).size(),
            bytes.size() - std::string("n0~~~~~~~~~~~~~~\r\n").size());
}

// Once the new content is written, applying it cannot fail: it takes no memory, and the
// bytes stay where make_room left them, whatever the lengths of the lines it replaces.
TEST(RecordTable, ApplyingAChangeTakesNoMemory) {
  const std::string stored = "ab~~" + std::string(200, 'x') + "\r\ncd~~\r\nab~~\r\n";
  const std::string line = "ab~~" + std::string(60, 'y');
  using Make = RecordTable::Change (*)(const RecordTable&, const std::string&);
  const Make makes[] = {
      [](const RecordTable& t, const std::string& l) { return t.with_added(L"AB", l); },
      [](const RecordTable& t, const std::string& l) { return t.with_replaced(L"AB", l); },
      [](const RecordTable& t, const std::string&) { return t.without(L"AB"); },
  };
  for (const Make make : makes) {
    RecordTable table = RecordTable::parse(std::string(stored));  // no room to spare
    RecordTable::Change change = make(table, line);
    table.make_room(change);
    const std::string written = content_of(table, change);
    const char* const bytes = table.bytes().data();
    table.apply(change);
    EXPECT_EQ(table.bytes().data(), bytes) << written;
    EXPECT_EQ(table.bytes(), written);
  }
}

// A change whose room could not be taken is as it was made: tried again, it writes all
// it should.
TEST(RecordTable, AChangeThatRanOutOfMemoryIsAsItWasMade) {
  RecordTable table = RecordTable::parse("a~~1\nb~~2\n");  // not CR LF: the whole new table
  RecordTable::Change change = table.with_added(L"C", "c~~3");
  const std::string content = content_of(table, change);
  for (long spared = 0;; ++spared) {
    testing::fail_allocation(spared);
    try {
      table.make_room(change);
    } catch (const std::bad_alloc&) {
    }
    const bool failed = testing::stop_failing_allocations();
    ASSERT_EQ(content_of(table, change), content) << spared;
    if (!failed) break;
  }
  table.apply(change);
  EXPECT_EQ(table.bytes(), content);
}

// Dropping rows takes their keys out of the index and moves the rows after them up: every
// name left is still found at its row, and no dropped one is.
TEST(RecordTable, TheIndexFollowsRowsDroppedOneAfterAnother) {
  std::string bytes;
  std::vector<std::wstring> names;
  for (int i = 0; i < 3000; ++i) {
    bytes += "n" + std::to_string(i) + "~~\r\n";
    names.push_back(L"N" + std::to_wstring(i));
  }
  RecordTable table = RecordTable::parse(bytes);
  for (std::size_t gone = 0; gone < 300; ++gone) {
    const std::size_t row = (gone * 7919) % names.size();
    RecordTable::Change change = table.without(names[row]);
    table.make_room(change);
    table.apply(change);
    ASSERT_EQ(table.last_match(names[row]), table.count());
    names.erase(names.begin() + static_cast<std::ptrdiff_t>(row));
    for (std::size_t left = 0; left < names.size(); ++left) {
      ASSERT_EQ(table.last_match(names[left]), left) << "after " << gone + 1 << " dropped";
    }
  }
}

TEST(RecordTable, AddPlacesTheNewLineBeforeTheFirstGreaterKey) {
  struct Case {
    std::vector<std::string> stored;
    std::string added;
    std::vector<std::string> after;
  };
  const Case cases[] = {
      {{}, "only", {"only"}},
      {{"ALPHA", "Delta"}, "beta", {"ALPHA", "beta", "Delta"}},
      {{"b", "c"}, "A", {"A", "b", "c"}},
      {{"b", "c"}, "z", {"b", "c", "z"}},
      {{"ALPHA", "Delta", "Zulu"}, "delta", {"ALPHA", "Delta", "delta", "Zulu"}},
      {{"10", "B"}, "9", {"10", "9", "B"}},  // keys compare as text
      {{"M", "B"}, "C", {"C", "M", "B"}},    // out of order: first greater key
      {{"Acme"}, "Ac", {"Ac", "Acme"}},      // a proper prefix sorts first
      {{"Ac"}, "Acme", {"Ac", "Acme"}},
      {{"A", "B"}, "", {"", "A", "B"}},  // the empty name sorts first
      {{"", "A"}, "", {"", "", "A"}},
      {{"x", "x"}, "X", {"x", "x", "X"}},
      {{"\xE9t\xE9", "zed"}, "\xC9T\xC9", {"\xE9t\xE9", "zed", "\xC9T\xC9"}},  // by code
      {{"a", "z"}, "_", {"a", "z", "_"}},  // keys, not names: '_' > 'Z'
  };
  for (const Case& c : cases) {
    const RecordTable table = RecordTable::parse(file_of(c.stored));
    std::wstring added(c.added.begin(), c.added.end());
    for (auto& ch : added) ch = static_cast<wchar_t>(static_cast<unsigned char>(ch));
    EXPECT_EQ(names_in(content_of(table, table.with_added(name_key(added), line_for(c.added)))),
              c.after)
        << "adding " << c.added;
  }
}

// A table in order stays in order through the edits, and Add finds its place in it as in
// any table: directly before the first greater key.
TEST(RecordTable, AddKeepsATableInOrderInOrder) {
  RecordTable table = RecordTable::parse(file_of({"", "Acme", "beta", "delta", "Zed"}));
  std::vector<std::string> names = {"", "Acme", "beta", "delta", "Zed"};
  const auto upper = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
  };
  for (const std::string name : {"c", "A", "zz", "", "BETA", "b", "-", "DELTA", "Zed", "zed"}) {
    const std::string key_bytes = upper(name);
    const std::wstring key(key_bytes.begin(), key_bytes.end());
    std::size_t at = 0;
    while (at < names.size() && upper(names[at]) <= upper(name)) ++at;
    RecordTable::Change change =
        name == "-" ? table.without(L"DELTA") : table.with_added(key, line_for(name));
    if (name == "-") {
      names.erase(std::find(names.begin(), names.end(), "delta"));
      names.erase(names.begin(), names.begin() + 2);  // the two empty names
    } else {
      EXPECT_EQ(change.rows(), std::vector<std::size_t>{at}) << name;
      names.insert(names.begin() + static_cast<std::ptrdiff_t>(at), name);
    }
    table.make_room(change);
    table.apply(change);
    EXPECT_EQ(names_in(table.bytes()), names) << name;
  }
}

TEST(RecordTable, AddKeepsEveryOtherLineAsItWas) {
  const std::string stored = "b~~1\r\nd~~2~~~~~~~~~~~~~~extra~~more\r\n";
  const RecordTable table = RecordTable::parse(stored);
  EXPECT_EQ(content_of(table, table.with_added(L"C", "c~~~~~~~~~~~~~~")),
            "b~~1\r\nc~~~~~~~~~~~~~~\r\nd~~2~~~~~~~~~~~~~~extra~~more\r\n");
}

TEST(RecordTable, ReplaceOverwritesEveryMatchingRow) {
  const RecordTable table = RecordTable::parse("ACME~~1\r\nBeta~~2\r\nAcme~~3\r\nacme inc~~4\r\n");
  EXPECT_EQ(content_of(table, table.with_replaced(L"ACME", "Acme~~new")),
            "Acme~~new\r\nBeta~~2\r\nAcme~~new\r\nacme inc~~4\r\n");
  EXPECT_EQ(content_of(table, table.with_replaced(L"NONE", "None~~x")),
            "ACME~~1\r\nBeta~~2\r\nAcme~~3\r\nacme inc~~4\r\n");
}

TEST(RecordTable, RemoveDropsMatchesAndEmptyNames) {
  const RecordTable table =
      RecordTable::parse("ACME~~1\r\n~~empty\r\nBeta~~2\r\nAcme~~3\r\n Acme~~4\r\n");
  EXPECT_EQ(content_of(table, table.without(L"ACME")), "Beta~~2\r\n Acme~~4\r\n");
  EXPECT_EQ(content_of(table, table.without(L"NONE")),
            "ACME~~1\r\nBeta~~2\r\nAcme~~3\r\n Acme~~4\r\n");
  const RecordTable only = RecordTable::parse("only~~x\r\n");
  EXPECT_EQ(content_of(only, only.without(L"ONLY")), "");
}

}  // namespace
}  // namespace perlwick

namespace perlwick {
namespace {

// The last row whose key equals key, found by reading every row.
std::size_t scan(const RecordTable& table, const std::wstring& key) {
  std::size_t found = table.count();
  for (std::size_t row = 0; row < table.count(); ++row) {
    if (key_of(table, row) == key) found = row;
  }
  return found;
}

// Each change is applied to the table in place (or as a whole new table, for a file that
// is not one CR LF after every line, or a code page of two bytes a character) and leaves
// exactly the content it wrote; the index then finds what a scan of every row finds.
TEST(RecordTable, ChangesLeaveTheTableOfWhatTheyWroteAndTheIndexAgreesWithAScan) {
  enum class Edit { add, update, remove };
  struct Step {
    Edit edit;
    std::string name;
  };
  // The names' bytes; "\x82a" and "\x82A" are one character of two bytes in lower and
  // upper case in the code page of two bytes a character, and "\x82~" one ending in '~'.
  const Step steps[] = {
      {Edit::add, "acme"},
      {Edit::add, "ACME"},
      {Edit::add, ""},
      {Edit::add, "Zed"},
      {Edit::update, "Acme"},
      {Edit::add, "\xE9t\xE9"},
      {Edit::update, "nobody"},
      {Edit::remove, "zed"},
      {Edit::add, "\xC9T\xC9"},
      {Edit::add, "\x82~\x82\x61"},
      {Edit::update, "\x82~\x82\x41"},
      {Edit::add, "x\x82~"},
      {Edit::remove, "ACME"},
      {Edit::remove, "nobody"},
      {Edit::remove, "X\x82~"},
      // The rows of "mango" lie apart (second file). An index that kept one of them after
      // the Delete would, once the row that followed it goes too, point at the first of the
      // two rows added again instead of the last.
      {Edit::remove, "mango"},
      {Edit::add, "mango"},
      {Edit::add, "Mango"},
      {Edit::remove, "lime"},
  };
  const RecordTable::Change::Kind kinds[] = {RecordTable::Change::Kind::add,
                                             RecordTable::Change::Kind::replace,
                                             RecordTable::Change::Kind::remove};
  const std::string probes[] = {"ACME",  "",     "ZED",    "\xC9T\xC9",     "BETA",   "GAMMA",
                                "MANGO", "LIME", "NOBODY", "\x82~\x82\x41", "X\x82~", "X\x82"};
  for (const bool double_byte : kDoubleByteCodePage) {
    std::optional<DoubleByteCodePage> code_page;
    if (double_byte) code_page.emplace();
    // The second file holds names whose rows lie apart, with rows between them that a
    // Delete moves up by the rows dropped above each.
    for (const std::string& start :
         {file_of({"Acme", "", "beta", "Acme", "\x82~"}),
          file_of({"Acme", "Beta", "ACME", "Gamma", "acme", "Mango", "Kiwi", "MANGO", "Lime"}),
          std::string("Acme~~1\r\n\r\n~~2\rbeta~~3\nx\r\nAcme")}) {
      RecordTable table = RecordTable::parse(start);
      for (const Step& step : steps) {
        SCOPED_TRACE((double_byte ? "two bytes a character: " : "") + step.name);
        const std::wstring key = name_key(decoded(step.name));
        // The rows an Update replaces or a Delete drops, as the name box's list follows them.
        std::vector<std::size_t> rows;
        for (std::size_t row = 0; row < table.count(); ++row) {
          if (key_of(table, row) == key || (step.edit == Edit::remove && table.name(row).empty())) {
            rows.push_back(row);
          }
        }
        RecordTable::Change change =
            step.edit == Edit::add      ? table.with_added(key, line_for(step.name))
            : step.edit == Edit::update ? table.with_replaced(key, line_for(step.name))
                                        : table.without(key);
        EXPECT_EQ(change.kind(), kinds[static_cast<int>(step.edit)]);
        if (step.edit != Edit::add) {
          EXPECT_EQ(change.rows(), rows);
        }
        table.make_room(change);
        const std::string written = content_of(table, change);
        table.apply(change);
        EXPECT_EQ(table.bytes(), written);
        if (step.edit == Edit::add) {
          // An Add names the row its line now has (as the table reads the line).
          ASSERT_EQ(change.rows().size(), 1u);
          EXPECT_EQ(table.name(change.rows()[0]),
                    RecordTable::parse(line_for(step.name) + "\r\n").name(0));
        }
        EXPECT_EQ(table.count(), RecordTable::parse(written).count());
        for (const std::string& probe : probes) {
          const std::wstring probe_key = name_key(decoded(probe));
          EXPECT_EQ(table.last_match(probe_key), scan(table, probe_key)) << probe;
        }
      }
      // Update found the name of characters of two bytes in the other case.
      EXPECT_NE(table.bytes().find(line_for("\x82~\x82\x41")), std::string::npos);
      EXPECT_EQ(table.bytes().find(line_for("\x82~\x82\x61")), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace perlwick
