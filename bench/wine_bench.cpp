// Perlwick's speed as a user meets it, measured by driving the real program from outside
// (under Wine here, or on Windows), beside baselines measured in the same run: a bare
// window with a combo box, the same names put in a bare combo box's list, and a plain
// copy of the records file.
//
// usage: wine_bench PERLWICK.EXE BARE_WINDOW.EXE RUNS RECORDS-FILE...
//
// Each records file is measured RUNS times, with Perlwick started afresh each time. Every
// measurement is printed as one line "records,what,milliseconds" (memory in MiB).

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "program_driver.h"
#include "window/control_ids.h"

namespace {

using perlwick::e2e::Program;
namespace ids = perlwick::ids;
using Clock = std::chrono::steady_clock;

std::wstring wide(const char* text) {
  const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), size);
  out.resize(out.size() - 1);
  return out;
}

// Milliseconds that what takes.
template <typename What>
double time_of(What what) {
  const auto start = Clock::now();
  what();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

std::string read_whole(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The product names of a records file, as the program lists them.
std::vector<std::wstring> names_of(const std::string& bytes) {
  std::vector<std::wstring> names;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find('\r', start);
    if (end == std::string::npos) end = bytes.size();
    const std::string_view line(bytes.data() + start, end - start);
    if (!line.empty()) {
      const std::string_view name = line.substr(0, line.find("~~"));
      names.emplace_back(name.begin(), name.end());
    }
    start = end + 2;
  }
  return names;
}

// A plain copy of the records file: read it, write it to a new file in the same folder,
// flush it to the disk.
double plain_copy(const std::wstring& records) {
  const std::wstring copy = L"C:\\perlwick-bench-copy.tmp";
  const double ms = time_of([&] {
    const std::string bytes = read_whole(records);
    const HANDLE file =
        CreateFileW(copy.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    FlushFileBuffers(file);
    CloseHandle(file);
  });
  DeleteFileW(copy.c_str());
  return ms;
}

// The names put in the list of a bare combo box in a window of its own, the way Perlwick
// fills its own; then the list opened with the text Perlwick's name box has then.
struct BareCombo {
  double fill = 0;
  double open = 0;
};

BareCombo bare_combo(const std::vector<std::wstring>& names) {
  const HWND window = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 400, 300,
                                      nullptr, nullptr, nullptr, nullptr);
  const HWND combo =
      CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWN, 8, 8,
                      300, 200, window, nullptr, nullptr, nullptr);
  BareCombo times;
  times.fill = time_of([&] {
    SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
    SendMessageW(combo, CB_INITSTORAGE, names.size(),
                 static_cast<LPARAM>(names.size() * 32 * sizeof(wchar_t)));
    for (const std::wstring& name : names) {
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
  });
  SetWindowTextW(combo, L"Qzxv");
  times.open = time_of([&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); });
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  DestroyWindow(window);
  return times;
}

double peak_memory_mib(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(process, &counters, sizeof counters)) return -1;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

void report(std::size_t records, const char* what, double value) {
  std::printf("%zu,%s,%.3f\n", records, what, value);
  std::fflush(stdout);
}

void measure(const std::wstring& perlwick, const std::wstring& bare, const std::wstring& records) {
  const std::string bytes = read_whole(records);
  const std::vector<std::wstring> names = names_of(bytes);
  const std::size_t count = names.size();

  report(count, "file_mib", static_cast<double>(bytes.size()) / (1024.0 * 1024.0));
  report(count, "baseline_copy", plain_copy(records));
  const BareCombo combo_times = bare_combo(names);
  report(count, "baseline_combo_fill", combo_times.fill);
  report(count, "baseline_combo_open", combo_times.open);
  perlwick::e2e::set_program_path(bare);
  report(count, "baseline_start", time_of([] { Program window; }));

  if (!CopyFileW(records.c_str(), L"C:\\perlwickrecords.txt", FALSE)) {
    throw std::runtime_error("cannot put the records file in place");
  }
  perlwick::e2e::set_program_path(perlwick);
  std::unique_ptr<Program> program;
  report(count, "start", time_of([&] { program = std::make_unique<Program>(); }));

  // Keystrokes that find nothing: each runs the look-up.
  std::vector<double> keys;
  for (const wchar_t c : std::wstring(L"Qzxv"))
    keys.push_back(time_of([&] { program->type({&c, 1}); }));
  std::sort(keys.begin(), keys.end());
  report(count, "keystroke", keys[keys.size() / 2]);

  const HWND combo = program->control(ids::Combo1);
  report(count, "open_list", time_of([&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); }));
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  report(count, "open_list_again", time_of([&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); }));
  SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  program->set_text(ids::Combo1, L"Qzxv");
  report(count, "keystroke_after_open", time_of([&] { program->type(L"w"); }));

  // The list, once filled, follows each edit when it is next opened.
  const auto open_list_after = [&](const char* what) {
    report(count, what, time_of([&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); }));
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  };
  program->set_text(ids::Text2, L"https://bench.example/");
  report(count, "add", time_of([&] { program->click(ids::Command1); }));
  open_list_after("open_list_after_add");
  report(count, "update", time_of([&] { program->click(ids::Command2); }));
  open_list_after("open_list_after_update");
  program->set_focus(ids::Text2);
  report(count, "focus_after_edit", time_of([&] { program->set_focus(ids::Combo1); }));
  report(count, "delete", time_of([&] { program->click(ids::Command3); }));
  open_list_after("open_list_after_delete");
  report(count, "peak_memory_mib", peak_memory_mib(program->process()));
  program.reset();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: wine_bench PERLWICK.EXE BARE_WINDOW.EXE RUNS RECORDS-FILE...\n");
    return 2;
  }
  SetProcessDPIAware();
  const int runs = std::atoi(argv[3]);
  try {
    for (int file = 4; file < argc; ++file) {
      for (int run = 0; run < runs; ++run) {
        using perlwick::e2e::windows_path;
        measure(windows_path(wide(argv[1])), windows_path(wide(argv[2])),
                windows_path(wide(argv[file])));
      }
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "wine_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
