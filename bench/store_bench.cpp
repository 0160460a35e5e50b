// How long the record store takes with many records: loading the file, the look-up of a
// name, and the three edits, beside a baseline that copies the file (reads it, writes it
// to a new file in the same folder and flushes that) as every edit must at least.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "store/record_store.h"

namespace {

namespace fs = std::filesystem;

// A records file of count records of realistic length (about 187 bytes each), with unique
// names in random order, made once per size.
const fs::path& records_file(std::int64_t count) {
  static std::map<std::int64_t, fs::path> made;
  auto found = made.find(count);
  if (found != made.end()) return found->second;
  const fs::path path =
      fs::temp_directory_path() / ("perlwick-bench-" + std::to_string(count) + ".txt");
  std::mt19937 random(42);
  const auto word = [&](std::size_t length) {
    std::string text(length, 'a');
    for (auto& c : text) c = static_cast<char>('a' + random() % 26);
    return text;
  };
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::int64_t i = 0; i < count; ++i) {
    const std::string site = word(6 + random() % 14);
    out << site << " " << i << "~~https://www." << site << ".com/~~https://www." << site
        << ".com/ref?id=" << word(12) << "~~" << word(8) << "~~" << word(12) << "~~"
        << random() % 50 << "~~2024-0" << 1 + random() % 9 << "-1" << random() % 10 << "~~"
        << word(10 + random() % 60) << "\r\n";
  }
  return made.emplace(count, path).first->second;
}

// A copy of the records file that a benchmark may change.
fs::path working_copy(std::int64_t count) {
  const fs::path work = fs::temp_directory_path() / "perlwick-bench-work.txt";
  fs::copy_file(records_file(count), work, fs::copy_options::overwrite_existing);
  return work;
}

const fs::path& private_folder() {
  static const fs::path folder = fs::temp_directory_path() / "perlwick-bench-private";
  return folder;
}

const perlwick::Record kMid = {L"Mid Record",
                               L"https://mid.example.com/",
                               L"https://mid.example.com/ref?id=1",
                               L"me",
                               L"secret",
                               L"12",
                               L"2024-01-15",
                               L"a note"};

void BM_BaselineCopy(benchmark::State& state) {
  const fs::path& path = records_file(state.range(0));
  perlwick::FileSystem& files = perlwick::native_file_system();
  const fs::path copy = path.string() + ".copy";
  for (auto _ : state) {
    std::string bytes;
    (void)files.read_all(path, bytes);
    std::unique_ptr<perlwick::WritableFile> created;
    (void)files.create_or_empty(copy, created);
    (void)created->write(bytes);
    (void)created->flush();
    (void)created->close();
  }
  fs::remove(copy);
}

void BM_Load(benchmark::State& state) {
  perlwick::RecordStore store(records_file(state.range(0)), perlwick::native_file_system(),
                              private_folder());
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.recrefresh());
    benchmark::DoNotOptimize(store.count());
  }
}

void BM_LookUp(benchmark::State& state) {
  perlwick::RecordStore store(records_file(state.range(0)), perlwick::native_file_system(),
                              private_folder());
  (void)store.recrefresh();
  const std::wstring key = perlwick::name_key(L"no such name at all");
  for (auto _ : state) benchmark::DoNotOptimize(store.table().last_match(key));
}

// One edit, with the file and the table put back between runs (not timed).
template <typename Edit, typename Undo>
void run_edit(benchmark::State& state, Edit edit, Undo undo) {
  const fs::path work = working_copy(state.range(0));
  perlwick::RecordStore store(work, perlwick::native_file_system(), private_folder());
  (void)store.recrefresh();
  for (auto _ : state) {
    if (!edit(store).ok()) state.SkipWithError("the edit failed");
    state.PauseTiming();
    (void)undo(store);
    state.ResumeTiming();
  }
  fs::remove(work);
}

void BM_Add(benchmark::State& state) {
  run_edit(
      state, [](perlwick::RecordStore& s) { return s.add(kMid); },
      [](perlwick::RecordStore& s) { return s.remove(kMid[0]); });
}

void BM_Update(benchmark::State& state) {
  run_edit(
      state, [](perlwick::RecordStore& s) { return s.update(kMid); },
      [](perlwick::RecordStore& s) { return s.add(kMid); });
}

void BM_Delete(benchmark::State& state) {
  run_edit(
      state, [](perlwick::RecordStore& s) { return s.remove(kMid[0]); },
      [](perlwick::RecordStore& s) { return s.add(kMid); });
}

BENCHMARK(BM_BaselineCopy)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookUp)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Add)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Update)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Delete)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
