// The real program under Wine as an account that may not create files in C:\, as every
// Windows program that is not run as administrator: the records file there can still be
// changed, so the edits rewrite it in place and leave nothing behind.

#include <gtest/gtest.h>

#include "kill_during_edits.h"
#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

const std::string kAlpha = line({"ALPHA", "https://alpha.example", "", "", "", "", "", ""});
const std::string kDelta = line({"Delta", "d-url", "d-link", "dee", "pw", "7%", "2020-02-02", ""});

std::vector<std::wstring> leftovers() {
  std::vector<std::wstring> files = files_matching(records_path() + L"?*");
  for (std::wstring& file : files_matching(private_folder() + L"\\*")) files.push_back(file);
  return files;
}

TEST(OrdinaryAccount, TheEditsRewriteTheRecordsFileInPlace) {
  write_records(kAlpha + kDelta);
  const HANDLE probe =
      CreateFileW(L"C:\\probe.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  if (probe != INVALID_HANDLE_VALUE) {
    CloseHandle(probe);
    DeleteFileW(L"C:\\probe.txt");
    FAIL() << "this test needs a session whose C:\\ refuses new files";
  }
  Program program;

  program.type(L"beta");
  program.set_text(ids::Text2, L"b-url");
  program.click(ids::Command1);
  const std::string beta = line({"beta", "b-url", "", "", "", "", "", ""});
  EXPECT_EQ(read_records(), kAlpha + beta + kDelta);

  program.set_text(ids::Text8, L"one\r\ntwo");
  program.click(ids::Command2);
  const std::string updated = line({"beta", "b-url", "", "", "", "", "", "one\ntwo"});
  EXPECT_EQ(read_records(), kAlpha + updated + kDelta);

  program.set_text(ids::Combo1, L"ALPHA");
  program.click(ids::Command3);
  EXPECT_EQ(read_records(), updated + kDelta);

  EXPECT_FALSE(program.message_box());
  EXPECT_EQ(leftovers(), std::vector<std::wstring>{});
}

TEST(OrdinaryAccount, WithoutARecordsFileAddSaysWhatToDo) {
  ASSERT_EQ(read_records(), std::nullopt);
  Program program;
  program.type(L"Gamma");
  program.set_text(ids::Text2, L"g-url");

  program.click_later(ids::Command1);
  const MessageBoxInfo box = program.wait_for_message_box();
  EXPECT_EQ(box.title, L"Perlwick");
  for (const wchar_t* says :
       {L"does not exist", L"only administrators", L"installer", L"as administrator"}) {
    EXPECT_NE(box.text.find(says), std::wstring::npos) << says;
  }
  program.press_ok(box);

  EXPECT_EQ(read_records(), std::nullopt);
  EXPECT_EQ(program.text(ids::Combo1), L"Gamma");
  EXPECT_EQ(program.text(ids::Text2), L"g-url");
  EXPECT_TRUE(program.enabled(ids::Command1));
  EXPECT_EQ(leftovers(), std::vector<std::wstring>{});
}

TEST(OrdinaryAccount, AReadOnlyRecordsFileIsNotChanged) {
  write_records(kAlpha + kDelta);
  ASSERT_TRUE(SetFileAttributesW(records_path().c_str(), FILE_ATTRIBUTE_READONLY));
  Program program;
  program.type(L"delta");
  program.set_text(ids::Text2, L"changed");

  program.click_later(ids::Command2);
  const MessageBoxInfo box = program.wait_for_message_box();
  EXPECT_NE(box.text.find(L"marked read-only"), std::wstring::npos) << narrow(box.text);
  program.press_ok(box);

  EXPECT_EQ(read_records(), kAlpha + kDelta);
  EXPECT_EQ(program.text(ids::Text2), L"changed");
  EXPECT_EQ(leftovers(), std::vector<std::wstring>{});
  SetFileAttributesW(records_path().c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Each edit rewrites the records file in place after keeping its content before and after
// in the private folder: ended at any moment, it is finished or undone at the next start.
TEST(OrdinaryAccount, AnEditEndedAtAnyMomentLosesNoRecord) {
  kill_during_edits(std::chrono::seconds(60));
}

}  // namespace
}  // namespace perlwick::e2e
