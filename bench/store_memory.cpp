// The record store's peak memory against the records file's size: loads the file, then
// adds, updates and deletes a record, as the program does, and prints the peak resident
// memory of the process beside the file's size.
//
// usage: store_memory RECORDS-FILE   (the file is changed and put back as it was)

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "store/record_store.h"

namespace {

double peak_megabytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: store_memory RECORDS-FILE\n");
    return 2;
  }
  const std::filesystem::path path = argv[1];
  const double file_megabytes =
      static_cast<double>(std::filesystem::file_size(path)) / 1e6 * 1e6 / (1024.0 * 1024.0);
  const double before = peak_megabytes();
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "perlwick-store-memory";
  perlwick::RecordStore store(path, perlwick::native_file_system(), folder);
  const perlwick::Record record = {
      L"Mid Record", L"https://mid.example.com/", L"", L"me", L"secret", L"12", L"2024-01-15",
      L"a note"};
  const bool ok = store.recrefresh().outcome == perlwick::LoadOutcome::loaded;
  const double loaded = peak_megabytes();
  const bool edited =
      ok && store.add(record).ok() && store.update(record).ok() && store.remove(record[0]).ok();
  const double after = peak_megabytes();
  std::printf(
      "file %.1f MiB, %zu rows; peak resident memory: %.1f MiB before loading, %.1f MiB "
      "after the load (%.2f times the file), %.1f MiB after Add, Update and Delete "
      "(%.2f times the file)%s\n",
      file_megabytes, store.count(), before, loaded, loaded / file_megabytes, after,
      after / file_megabytes, edited ? "" : "; AN EDIT FAILED");
  return edited ? 0 : 1;
}
