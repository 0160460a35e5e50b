// How long the record store takes with many records: loading the file, adding a record,
// and scanning every row's name key as the look-up does, beside a baseline that only
// reads the file and counts its lines.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "store/record_store.h"

namespace {

namespace fs = std::filesystem;

// A records file of count records with realistic field lengths, made once per size.
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
  std::vector<std::string> lines;
  lines.reserve(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    const std::string name = word(6 + random() % 14);
    lines.push_back(name + " " + std::to_string(i) + "~~https://www." + name +
                    ".com/~~https://www." + name + ".com/ref?id=" + word(12) + "~~" + word(8) +
                    "~~" + word(12) + "~~" + std::to_string(random() % 50) + "~~2024-0" +
                    std::to_string(1 + random() % 9) + "-1" + std::to_string(random() % 10) + "~~" +
                    word(10 + random() % 60));
  }
  std::sort(lines.begin(), lines.end());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const auto& line : lines) out << line << "\r\n";
  return made.emplace(count, path).first->second;
}

void BM_BaselineReadAndCountLines(benchmark::State& state) {
  const fs::path& path = records_file(state.range(0));
  for (auto _ : state) {
    std::string bytes;
    (void)perlwick::native_file_system().read_all(path, bytes);
    benchmark::DoNotOptimize(std::count(bytes.begin(), bytes.end(), '\r'));
  }
}

void BM_Load(benchmark::State& state) {
  perlwick::RecordStore store(records_file(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(store.recrefresh());
    benchmark::DoNotOptimize(store.count());
  }
}

void BM_Add(benchmark::State& state) {
  const fs::path work = fs::temp_directory_path() / "perlwick-bench-add.txt";
  fs::copy_file(records_file(state.range(0)), work, fs::copy_options::overwrite_existing);
  perlwick::RecordStore store(work);
  (void)store.recrefresh();
  int added = 0;
  for (auto _ : state) {
    // Alternate adding and removing, so that the file keeps its size.
    state.PauseTiming();
    if (added > 0) (void)store.remove(L"Mid Record");
    state.ResumeTiming();
    const perlwick::Status status =
        store.add({L"Mid Record", L"https://mid.example.com/", L"https://mid.example.com/ref?id=1",
                   L"me", L"secret", L"12", L"2024-01-15", L"a note"});
    if (!status.ok()) state.SkipWithError("add failed");
    ++added;
  }
  fs::remove(work);
}

void BM_NameKeyScan(benchmark::State& state) {
  perlwick::RecordStore store(records_file(state.range(0)));
  (void)store.recrefresh();
  const std::wstring key = perlwick::name_key(L"no such name at all");
  for (auto _ : state) {
    std::size_t matches = 0;
    const perlwick::RecordTable& table = store.table();
    for (std::size_t row = 0; row < table.count(); ++row) matches += table.key(row) == key;
    benchmark::DoNotOptimize(matches);
  }
}

BENCHMARK(BM_BaselineReadAndCountLines)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Load)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Add)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameKeyScan)->Arg(32767)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
