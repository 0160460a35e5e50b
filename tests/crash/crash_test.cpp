// Ends a copy of the program at random moments while it edits, again and again: after
// each kill and a fresh start, the records file holds exactly its content before or after
// an edit, and nothing is left beside it or in the private folder. Half the rounds run in
// a folder that refuses new files, where edits rewrite the records file in place.
//
// usage: crash_test SECONDS

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "store/record_store.h"
#include "test_files.h"

namespace {

using namespace perlwick;

// Edit k of the endless sequence: every fourth deletes the name added just before it,
// the others add a name that sorts after every name added so far.
std::wstring name_of(long k) {
  std::wstring digits = std::to_wstring(k);
  return L"N" + std::wstring(9 - digits.size(), L'0') + digits;
}

bool is_delete(long k) {
  return k % 4 == 3;
}

Record record_of(long k) {
  return {name_of(k),
          L"https://example.com/" + name_of(k),
          L"https://example.com/ref?id=12345",
          L"user",
          L"secret",
          L"10",
          L"2024-01-15",
          std::wstring(300, static_cast<wchar_t>(L'a' + k % 26))};
}

// The records file after edits first to last, starting from an empty file.
std::string content_after(long first, long last) {
  std::vector<long> names;
  for (long k = first; k <= last; ++k) {
    if (is_delete(k)) {
      if (!names.empty() && names.back() == k - 1) names.pop_back();
    } else {
      names.push_back(k);
    }
  }
  std::string content;
  for (const long k : names) content += encode_record_line(record_of(k)) + "\r\n";
  return content;
}

// The child: edits from k on until it is killed, telling the parent through the pipe
// which edit it begins and which it has finished.
[[noreturn]] void edit_until_killed(const std::filesystem::path& records,
                                    const std::filesystem::path& folder, bool refuse, long k,
                                    int pipe_out) {
  testing::FaultyFileSystem files;
  if (refuse) files.refuse_new_files();
  RecordStore store(records, files, folder);
  if (store.recrefresh().outcome == LoadOutcome::failed) _exit(3);
  for (;; ++k) {
    const long begun[2] = {k, 0};
    if (write(pipe_out, begun, sizeof begun) != sizeof begun) _exit(4);
    const Status status = is_delete(k) ? store.remove(name_of(k - 1)) : store.add(record_of(k));
    if (!status.ok()) _exit(2);
    const long done[2] = {k, 1};
    if (write(pipe_out, done, sizeof done) != sizeof done) _exit(4);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::mt19937 random(20261207);
  long kills = 0, checked = 0, finished_edits = 0, files = 0, in_place_files = 0;

  while (std::chrono::steady_clock::now() < deadline) {
    // A fresh records file every so often keeps the file small.
    testing::TempDir dir, folder;
    const std::filesystem::path records = dir.file("records.txt");
    testing::write_file(records, "");
    const long first = 0;
    long next = 0;  // the next edit to make
    const bool refuse = random() % 2 == 1;
    ++files;
    in_place_files += refuse;
    for (int round = 0; round < 50 && std::chrono::steady_clock::now() < deadline; ++round) {
      int channel[2];
      if (pipe(channel) != 0) return 1;
      const pid_t child = fork();
      if (child < 0) return 1;
      if (child == 0) {
        close(channel[0]);
        edit_until_killed(records, folder.path(), refuse, next, channel[1]);
      }
      close(channel[1]);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
      kill(child, SIGKILL);
      int child_status = 0;
      waitpid(child, &child_status, 0);
      if (WIFEXITED(child_status)) {
        std::fprintf(stderr, "the editing copy stopped by itself, code %d\n",
                     WEXITSTATUS(child_status));
        return 1;
      }
      ++kills;
      long begun = next - 1, done = next - 1, message[2];
      while (read(channel[0], message, sizeof message) == sizeof message) {
        (message[1] == 0 ? begun : done) = message[0];
      }
      close(channel[0]);
      finished_edits += done - (next - 1);

      // Started again, the program finds the file before or after the edit it was in.
      RecordStore restarted(records, native_file_system(), folder.path());
      if (restarted.recrefresh().outcome != LoadOutcome::loaded) {
        std::fprintf(stderr, "the records file could not be loaded after a kill\n");
        return 1;
      }
      const std::string content = testing::read_file(records);
      if (content == content_after(first, begun)) {
        next = begun + 1;
      } else if (content == content_after(first, done)) {
        next = done + 1;
      } else {
        std::fprintf(
            stderr,
            "after a kill in edit %ld the records file holds neither its old nor its new content\n",
            begun);
        return 1;
      }
      const bool leftovers = dir.file_count() != 1 ||
                             !testing::files_starting_with(folder.path(), L"pending-save").empty();
      if (leftovers) {
        std::fprintf(stderr, "a file was left behind after a kill in edit %ld\n", begun);
        return 1;
      }
      ++checked;
    }
  }
  std::printf(
      "%ld kills during %ld edits on %ld records files (%ld of them rewritten in place): "
      "after each kill and a restart the file held its content before or after an edit, "
      "and nothing was left behind (%ld checks)\n",
      kills, finished_edits, files, in_place_files, checked);
  return checked > 0 ? 0 : 1;
}
