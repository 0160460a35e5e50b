// The real program under Wine while other programs hold the records file for a while,
// reach it through links of their own, or change it behind the window's back.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

const std::string kAlpha = line({"Alpha", "https://alpha.example", "", "al", "", "", "", ""});
const std::string kBeta = line({"Beta", "https://beta.example", "https://beta.example/?ref=pw",
                                "bea", "pw", "5%", "2023-05-06", "notes"});
const std::string kGamma = line({"Gamma", "https://gamma.example", "", "", "", "", "", ""});

// What the user types for a new record named Beta, and the line an Add stores for it.
const Fields kTyped = {
    L"https://b.example", L"https://b.example/ref", L"bee", L"pw", L"1%", L"2024-01-15",
    L"one\r\ntwo"};
const std::string kTypedBeta = line({"Beta", "https://b.example", "https://b.example/ref", "bee",
                                     "pw", "1%", "2024-01-15", "one\ntwo"});

// Perlwick tries a held records file again for about 2 s before it says so: the wait for
// the outcome of a press leaves room for that and for a busy machine.
constexpr auto kRetriesTimeout = 10s;

// The message box that must come within the time; a failure of the test when none does.
std::optional<MessageBoxInfo> expect_message_box(const Program& program,
                                                 std::chrono::milliseconds timeout) {
  if (!wait_until([&] { return program.message_box().has_value(); }, timeout)) {
    ADD_FAILURE() << "no message box appeared";
    return std::nullopt;
  }
  return program.wait_for_message_box();
}

std::optional<std::uint64_t> size_of(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Which file a name leads to: its volume and index, how many hard links it has, and the
// path Windows gives for it once every link on the way has been followed.
struct FileIdentity {
  DWORD volume = 0;
  std::uint64_t index = 0;
  DWORD links = 0;
  std::wstring final_path;
};

FileIdentity identify(const std::wstring& path) {
  FileIdentity id;
  const HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return id;
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(file, &info)) {
    id.volume = info.dwVolumeSerialNumber;
    id.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    id.links = info.nNumberOfLinks;
  }
  wchar_t final_path[MAX_PATH] = {};
  if (GetFinalPathNameByHandleW(file, final_path, MAX_PATH, FILE_NAME_NORMALIZED) < MAX_PATH) {
    id.final_path = final_path;
  }
  CloseHandle(file);
  return id;
}

// Adds Beta, typed in full, to Alpha and Gamma, through the records file's usual name.
void add_typed_beta() {
  Program program;
  program.type(L"Beta");
  fill_fields(program, kTyped);
  program.click(ids::Command1);
  EXPECT_FALSE(program.message_box());
}

// Both names still lead to one file, which has the links it had and holds what the Add
// stored.
void expect_one_file(const std::wstring& name, const std::wstring& other, DWORD links) {
  const FileIdentity first = identify(name);
  const FileIdentity second = identify(other);
  EXPECT_EQ(first.volume, second.volume);
  EXPECT_EQ(first.index, second.index)
      << narrow(name) << " and " << narrow(other) << " are two files now";
  EXPECT_EQ(first.links, links);
  EXPECT_EQ(second.links, links);
  EXPECT_EQ(read_bytes(name), kAlpha + kTypedBeta + kGamma);
  EXPECT_EQ(read_bytes(other), kAlpha + kTypedBeta + kGamma);
}

// ---- Another program holds the records file ---------------------------------------------

// A backup, a virus scanner or a sync service that has the file open for a moment does
// not make an edit fail: Perlwick tries again until it lets go.
TEST(OtherPrograms, AnAddWaitsForAHoldOfASecond) {
  write_records(kAlpha + kGamma);
  Program program;
  program.type(L"Beta");
  fill_fields(program, kTyped);

  {
    // Let go after half the time Perlwick keeps trying.
    RecordsFileLock lock;
    program.click_later(ids::Command1);
    std::this_thread::sleep_for(1s);
  }

  // Saved, or given up with a message, whichever comes first.
  const std::uint64_t saved_size = (kAlpha + kTypedBeta + kGamma).size();
  EXPECT_TRUE(
      wait_until([&] { return program.message_box() || size_of(records_path()) == saved_size; },
                 kRetriesTimeout));
  program.settle();
  if (const auto box = program.message_box()) ADD_FAILURE() << "it said: " << narrow(box->text);
  EXPECT_EQ(read_records(), kAlpha + kTypedBeta + kGamma);
}

TEST(OtherPrograms, AHoldBeyondTheRetriesIsReportedAndChangesNothing) {
  write_records(kAlpha + kGamma);
  Program program;
  program.type(L"Beta");
  fill_fields(program, kTyped);

  {
    // Held until the message has been read: past Perlwick's retries, but no longer.
    RecordsFileLock lock;
    program.click_later(ids::Command1);
    const auto box = expect_message_box(program, kRetriesTimeout);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Perlwick");
    EXPECT_NE(box->text.find(L"another program has the records file open"), std::wstring::npos)
        << narrow(box->text);
    EXPECT_NE(box->text.find(L"press the button again"), std::wstring::npos) << narrow(box->text);
    EXPECT_TRUE(program.running());
    program.press_ok(*box);
  }

  EXPECT_TRUE(program.running());
  EXPECT_EQ(read_records(), kAlpha + kGamma);
  EXPECT_EQ(program.text(ids::Combo1), L"Beta");
  EXPECT_EQ(fields(program), kTyped);
  EXPECT_TRUE(program.enabled(ids::Command1));
  EXPECT_EQ(files_matching(records_path() + L"?*"), std::vector<std::wstring>{})
      << "a file was left beside the records file";

  // Once the file is free again the same press stores the record.
  program.click(ids::Command1);
  EXPECT_FALSE(program.message_box());
  EXPECT_EQ(read_records(), kAlpha + kTypedBeta + kGamma);
}

// ---- The records file has other names ---------------------------------------------------

// The session script makes C:\perlwickrecords.txt a Unix symbolic link to
// C:\synced\records.txt for this test (PERLWICK_RECORDS_FILE=linked), as a user may keep
// the records in a synced folder. Windows programs see the link as a plain file.
TEST(OtherPrograms, AnAddWritesThroughASymbolicLinkAndKeepsIt) {
  const std::wstring target = L"C:\\synced\\records.txt";
  write_records(kAlpha + kGamma);
  ASSERT_EQ(identify(records_path()).final_path, L"\\\\?\\" + target)
      << "the records file is no link to " << narrow(target) << " (PERLWICK_RECORDS_FILE=linked)";

  add_typed_beta();

  EXPECT_EQ(identify(records_path()).final_path, L"\\\\?\\" + target)
      << "the link was replaced by a file";
  expect_one_file(records_path(), target, 1);
}

TEST(OtherPrograms, AnAddKeepsASecondHardLink) {
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder =
      std::wstring(temp) + L"perlwick-hard-link-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring other = folder + L"\\records.txt";
  struct Cleanup {
    const std::wstring& folder;
    const std::wstring& other;
    ~Cleanup() {
      DeleteFileW(other.c_str());
      RemoveDirectoryW(folder.c_str());
    }
  } cleanup{folder, other};
  write_records(kAlpha + kGamma);
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  ASSERT_TRUE(CreateHardLinkW(other.c_str(), records_path().c_str(), nullptr));
  ASSERT_EQ(identify(records_path()).links, 2u);

  add_typed_beta();

  expect_one_file(records_path(), other, 2);
}

// ---- Another program or copy changed the record shown -----------------------------------

// An edit goes ahead only on the record as the window shows it. Line ends turned into
// line feeds alone make the whole file one line, whose record is named Alpha: saving over
// that record would take Beta and Gamma with it.
TEST(OtherPrograms, AnEditOfARecordChangedSinceItWasShownIsRefused) {
  const std::string beta_moved =
      line({"Beta", "https://beta.example/moved", "", "", "", "", "", ""});
  const std::string three = kAlpha + kBeta + kGamma;
  std::string three_lf = three;
  std::erase(three_lf, '\r');
  struct Case {
    const char* what;
    std::string before;
    const wchar_t* name;
    std::string after;  // as the other program left the file
    int button;
    std::optional<Fields> shown;  // the field boxes once the message is read
  };
  const Case cases[] = {
      {"Beta deleted, then Update", kAlpha + kBeta, L"Beta", kAlpha, ids::Command2, Fields(7)},
      {"Beta changed, then Update", kAlpha + kBeta, L"Beta", kAlpha + beta_moved, ids::Command2,
       Fields{L"https://beta.example/moved", L"", L"", L"", L"", L"", L""}},
      {"line feed ends, then Update", three, L"Alpha", three_lf, ids::Command2, std::nullopt},
      {"line feed ends, then Delete", three, L"Alpha", three_lf, ids::Command3, std::nullopt},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    write_records(c.before);
    Program program;
    program.type(c.name);
    ASSERT_NE(program.text(ids::Text2), L"") << "the record is not shown";
    program.set_text(ids::Text4, L"typed");  // the user's own change, made before the other's

    write_records(c.after);
    program.click_later(c.button);

    if (const auto box = expect_message_box(program, kStepTimeout)) {
      EXPECT_NE(box->text.find(L"was changed by another program or another copy of Perlwick since"),
                std::wstring::npos)
          << narrow(box->text);
      program.press_ok(*box);
    }
    EXPECT_EQ(read_records(), c.after);
    if (c.shown) {
      EXPECT_EQ(fields(program), *c.shown);
    }
  }
}

}  // namespace
}  // namespace perlwick::e2e
