#include "kill_during_edits.h"

#include <algorithm>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

constexpr int kRecords = 100'000;

std::string numbered(char letter, long n) {
  std::string digits = std::to_string(n);
  return letter + std::string(6 - std::min<std::size_t>(6, digits.size()), '0') + digits;
}

std::string record_line(const std::string& name, long version) {
  const std::string v = std::to_string(version);
  return line({name, "https://example.com/" + name, "https://example.com/ref?id=" + v, "user",
               "secret" + v, "10%", "2024-01-15", "notes of version " + v});
}

std::string joined(const std::vector<std::string>& lines) {
  std::string content;
  for (const std::string& l : lines) content += l;
  return content;
}

// Everything beside the records file and in the private folder.
std::vector<std::wstring> leftovers() {
  std::vector<std::wstring> found = files_matching(L"C:\\perlwickrecords*");
  std::erase(found, L"perlwickrecords.txt");
  for (std::wstring& file : files_matching(private_folder() + L"\\*")) found.push_back(file);
  return found;
}

}  // namespace

void kill_during_edits(std::chrono::seconds budget) {
  // Names sort as their lines do: the table's order is the file's.
  std::vector<std::string> lines;
  lines.reserve(kRecords + 1000);
  for (long n = 0; n < kRecords; ++n) lines.push_back(record_line(numbered('R', n * 2), 0));
  write_records(joined(lines));

  std::mt19937 random(std::random_device{}());
  std::chrono::milliseconds edit_time{0};
  int kills = 0;
  int before = 0;
  int after = 0;
  std::string old_content = joined(lines);
  std::string new_content = old_content;
  const auto end = std::chrono::steady_clock::now() + budget;
  // Each round starts the program, checks what the last kill left, and makes an edit that
  // is ended; the last round only checks.
  for (long round = 0;; ++round) {
    Program program;
    // The start has finished whatever the kill interrupted.
    const std::optional<std::string> found = read_records();
    ASSERT_TRUE(found.has_value()) << "the records file is gone after kill " << kills;
    if (round > 0) {
      // (The first edit was not ended.)
      if (*found == old_content) {
        before += round > 1;
      } else if (*found == new_content) {
        after += round > 1;
      } else {
        FAIL() << "after kill " << kills << " the records file holds neither the records from "
               << "before the edit nor those after it (" << found->size() << " bytes; "
               << old_content.size() << " before, " << new_content.size() << " after)";
      }
      ASSERT_EQ(leftovers(), std::vector<std::wstring>{}) << "after kill " << kills;
      if (*found == old_content) {
        // Back to the lines of the file as it is.
        lines.clear();
        for (std::size_t at = 0; at < found->size();) {
          const std::size_t next = found->find("\r\n", at) + 2;
          lines.push_back(found->substr(at, next - at));
          at = next;
        }
      }
    }

    if (round > 0 && std::chrono::steady_clock::now() >= end) break;

    // Add, Update or Delete, in turn, each on a name in the middle of the file. Names stay
    // distinct: an Add of a stored name updates it instead.
    const long pick = std::uniform_int_distribution<long>(0, kRecords - 1)(random);
    int button = round % 3 == 0 ? ids::Command1 : round % 3 == 1 ? ids::Command2 : ids::Command3;
    std::string name = button == ids::Command1
                           ? numbered('R', pick * 2 + 1)
                           : lines[static_cast<std::size_t>(pick) % lines.size()].substr(0, 7);
    const auto place = std::lower_bound(lines.begin(), lines.end(), name);
    const bool stored = place != lines.end() && place->starts_with(name + "~~");
    if (button == ids::Command1 && stored) button = ids::Command2;
    const std::string new_line = record_line(name, round + 1);
    if (button == ids::Command1) {
      lines.insert(place, new_line);
    } else if (button == ids::Command2) {
      *place = new_line;
    } else {
      lines.erase(place);
    }
    old_content = *found;
    new_content = joined(lines);

    const std::wstring wide_name(name.begin(), name.end());
    program.type(wide_name);
    if (button != ids::Command3) {
      const std::string v = std::to_string(round + 1);
      const std::wstring wide_v(v.begin(), v.end());
      program.set_text(ids::Text2, L"https://example.com/" + wide_name);
      program.set_text(ids::Text3, L"https://example.com/ref?id=" + wide_v);
      program.set_text(ids::Text4, L"user");
      program.set_text(ids::Text5, L"secret" + wide_v);
      program.set_text(ids::Text6, L"10%");
      program.set_text(ids::Text7, L"2024-01-15");
      program.set_text(ids::Text8, L"notes of version " + wide_v);
    }
    if (round == 0) {
      // The first edit runs to its end: how long one takes sets when the others are ended.
      const auto start = std::chrono::steady_clock::now();
      program.click(button);
      edit_time = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - start);
      ASSERT_EQ(read_records(), new_content) << "the edit that was not ended";
      old_content = new_content;
      continue;
    }
    program.click_later(button);
    Sleep(static_cast<DWORD>(
        std::uniform_int_distribution<long long>(0, edit_time.count() * 3 / 2 + 1)(random)));
    TerminateProcess(program.process(), 1);
    WaitForSingleObject(program.process(), 10'000);
    ++kills;
  }
  std::cout << kills << " kills during edits of " << kRecords << " records (an edit took "
            << edit_time.count() << " ms): " << before << " left the records from before the "
            << "edit, " << after << " those after it, none anything else" << std::endl;
  EXPECT_GT(kills, 10);
}

}  // namespace perlwick::e2e
