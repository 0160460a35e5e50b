#pragma once

// What the record store's tests share: a records file and a private folder of the test's
// own, stores over them, and the records the tests write.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "store/record_store.h"
#include "test_files.h"
#include "window/messages.h"

namespace perlwick::testing {

inline Record make(std::wstring name, std::wstring notes = L"") {
  return {std::move(name), L"http://u", L"http://l",   L"user",
          L"pw",           L"10",       L"2024-01-15", std::move(notes)};
}

inline std::string line(const std::string& name, const std::string& notes = "") {
  return name + "~~http://u~~http://l~~user~~pw~~10~~2024-01-15~~" + notes + "\r\n";
}

class RecordStoreTest : public ::testing::Test {
 protected:
  std::filesystem::path path() const { return dir_.file("records.txt"); }
  std::string contents() const { return read_file(path()); }
  // A store whose private folder is the test's own.
  RecordStore open(FileSystem& files = native_file_system()) const {
    return RecordStore(path(), files, private_.path());
  }
  // A store over the file as it is now, in a folder that refuses new files.
  RecordStore loaded_refusing_new_files(FaultyFileSystem& files) const {
    files.refuse_new_files();
    RecordStore store = open(files);
    EXPECT_EQ(store.recrefresh().outcome, LoadOutcome::loaded);
    return store;
  }
  // Copies of new content kept in the private folder for a rewrite in place.
  std::size_t pending_copies() const {
    return files_starting_with(private_.path(), L"pending-save").size();
  }

  TempDir dir_;
  TempDir private_;
};

}  // namespace perlwick::testing
