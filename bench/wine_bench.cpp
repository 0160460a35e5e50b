// Perlwick's speed as a user meets it, measured by driving the real program from outside
// (under Wine here, or on Windows), beside yardsticks measured in the same run: a bare
// window with a combo box, the same names put in a bare combo box's list, a plain copy of
// the records file, and at the largest file a bare read of it into fresh memory and bare
// writes of its bytes.
//
// usage: wine_bench PERLWICK.EXE BARE_WINDOW.EXE RUNS RECORDS-FILE...
//        wine_bench --in-place PERLWICK.EXE RUNS RECORDS-FILE
//
// Each records file is measured RUNS times, with Perlwick started afresh each time. With
// --in-place (in a session whose C:\ refuses new files, where Perlwick rewrites the
// records file in place) only the start and the edits are measured. At the largest file,
// and with --in-place, each edit is measured beside a plain copy made just before it in
// the same state of memory: after a pause, and once more warm. Every measurement is printed as one
// line "records,what,milliseconds" (memory in MiB), or "records,what,milliseconds,user ms,kernel
// ms,page faults" with the processor time and the page faults of the process that did the work:
// Perlwick for what it does, the benchmark itself for its yardsticks.

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "program_driver.h"
#include "win32/linux_counts.h"
#include "window/control_ids.h"

namespace {

using perlwick::e2e::Program;
namespace ids = perlwick::ids;
namespace win32 = perlwick::win32;
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

// Processor time and page faults, as counted from a process's start.
struct Usage {
  double user_ms = 0;
  double kernel_ms = 0;
  double faults = 0;
  Usage operator-(const Usage& before) const {
    return {user_ms - before.user_ms, kernel_ms - before.kernel_ms, faults - before.faults};
  }
};

// A process whose processor time and page faults are counted: from the Linux kernel's
// counts under Wine, from Windows' own on Windows.
class Counted {
 public:
  Counted(HANDLE process, const std::wstring& name)
      : process_(process), pid_(win32::linux_pid(name)) {}

  Usage now() const {
    if (win32::LinuxCounts counts; pid_ != 0 && win32::linux_counts(pid_, counts)) {
      return {counts.user_ms, counts.kernel_ms, counts.page_faults};
    }
    FILETIME created{};
    FILETIME ended{};
    FILETIME kernel{};
    FILETIME user{};
    GetProcessTimes(process_, &created, &ended, &kernel, &user);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(process_, &memory, sizeof memory);
    return {ms_of(user), ms_of(kernel), static_cast<double>(memory.PageFaultCount)};
  }

 private:
  static double ms_of(const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           10'000.0;
  }

  HANDLE process_;
  long pid_;
};

// A measurement: its wall-clock time, and what the process that did the work spent on it.
struct Figure {
  double ms = 0;
  Usage used;
};

template <typename What>
Figure measured(const Counted& who, What what) {
  const Usage before = who.now();
  const double ms = time_of(what);
  return {ms, who.now() - before};
}

const Counted& self() {
  static const Counted counted(GetCurrentProcess(), L"wine_bench.exe");
  return counted;
}

// Lets the memory that the system freed go back to the machine's host: in a virtual
// machine that hands free memory back, the first touch of a page after that costs the
// host's work as well as the system's (a new file's pages in the system's cache are such
// pages). Whatever is compared is measured after the same pause, so that both meet the
// memory in the same state; docs/performance.md tells what the pause changes.
void settle() {
  constexpr DWORD kSettleMs = 3000;
  Sleep(kSettleMs);
}

// Uses the memory that the system has handed back, and gives it back to the system: the
// next writes, for a couple of seconds, meet memory that the host has not taken back. A
// file of twice the records file's size (an edit in place writes that much to new pages)
// is written in pieces of 16 MiB, and removed.
void warm_up(const std::wstring& folder) {
  constexpr std::size_t kPiece = 16 << 20;
  static const std::vector<char> zeros(kPiece);
  WIN32_FILE_ATTRIBUTE_DATA records{};
  GetFileAttributesExW(perlwick::e2e::records_path().c_str(), GetFileExInfoStandard, &records);
  const std::size_t size =
      2 * ((static_cast<std::size_t>(records.nFileSizeHigh) << 32) | records.nFileSizeLow);
  const std::wstring path = folder + L"perlwick-bench-warm-up.tmp";
  const HANDLE out =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (out == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a file to write");
  for (std::size_t done = 0; done < size; done += kPiece) {
    DWORD written = 0;
    WriteFile(out, zeros.data(), static_cast<DWORD>(std::min(kPiece, size - done)), &written,
              nullptr);
  }
  CloseHandle(out);
  DeleteFileW(path.c_str());
}

// The state of memory in which an edit and its yardstick, the plain copy made just
// before it, are measured: both after a pause, as after a user's pause; or both right
// after memory was warmed up, as on a machine that keeps its memory.
enum class Memory { after_pause, warm };

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

HANDLE open_to_read(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open a file to read");
  return file;
}

HANDLE open_to_write(const std::wstring& path) {
  const HANDLE file =
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create a file to write");
  return file;
}

void write_all(HANDLE file, const char* bytes, std::size_t size) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, static_cast<DWORD>(size), &written, nullptr) || written != size) {
    throw std::runtime_error("cannot write a file");
  }
}

// A plain copy of the records file, as a copying program makes it: read and written
// through one reused buffer of 1 MiB, then flushed to the disk.
void copy_file(const std::wstring& from, const std::wstring& to) {
  constexpr DWORD kPiece = 1 << 20;
  const auto buffer = std::make_unique<char[]>(kPiece);
  const HANDLE in = open_to_read(from);
  const HANDLE out = open_to_write(to);
  DWORD got = 0;
  while (ReadFile(in, buffer.get(), kPiece, &got, nullptr) && got > 0) {
    write_all(out, buffer.get(), got);
  }
  FlushFileBuffers(out);
  CloseHandle(out);
  CloseHandle(in);
}

// The yardstick of the edits: the plain copy to a new file in folder (the records file's
// own, where the account may create files there), timed, and then removed.
Figure plain_copy(const std::wstring& records, const std::wstring& folder) {
  const std::wstring copy = folder + L"perlwick-bench-copy.tmp";
  const Figure figure = measured(self(), [&] { copy_file(records, copy); });
  DeleteFileW(copy.c_str());
  return figure;
}

std::wstring temp_folder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, path);
  return path;
}

// Memory that nothing has touched yet.
struct FreshMemory {
  explicit FreshMemory(std::size_t size)
      : bytes(static_cast<char*>(
            VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))) {
    if (bytes == nullptr) throw std::runtime_error("cannot allocate memory");
  }
  ~FreshMemory() { VirtualFree(bytes, 0, MEM_RELEASE); }
  FreshMemory(const FreshMemory&) = delete;
  FreshMemory& operator=(const FreshMemory&) = delete;
  char* bytes;
};

// The yardstick of the start: the records file read into fresh memory, in pieces of 1 MiB.
Figure bare_read(const std::wstring& records, std::size_t size) {
  std::unique_ptr<FreshMemory> memory;
  return measured(self(), [&] {
    memory = std::make_unique<FreshMemory>(size + 1);
    const HANDLE in = open_to_read(records);
    std::size_t done = 0;
    DWORD got = 0;
    while (ReadFile(in, memory->bytes + done,
                    static_cast<DWORD>(std::min<std::size_t>(1 << 20, size + 1 - done)), &got,
                    nullptr) &&
           got > 0) {
      done += got;
    }
    CloseHandle(in);
  });
}

// The bytes written to a new file beside the records file in pieces, then flushed, as an
// edit writes them: the write and the flush measured apart. The file is then removed.
struct BareWrite {
  Figure write;
  Figure flush;
};

BareWrite bare_write(const char* bytes, std::size_t size, std::size_t piece) {
  const std::wstring path = L"C:\\perlwick-bench-write.tmp";
  const HANDLE out = open_to_write(path);
  BareWrite figures;
  figures.write = measured(self(), [&] {
    for (std::size_t done = 0; done < size; done += piece) {
      write_all(out, bytes + done, std::min(piece, size - done));
    }
  });
  figures.flush = measured(self(), [&] { FlushFileBuffers(out); });
  CloseHandle(out);
  DeleteFileW(path.c_str());
  return figures;
}

void report(std::size_t records, const std::string& what, double value) {
  std::printf("%zu,%s,%.3f\n", records, what.c_str(), value);
  std::fflush(stdout);
}

void report(std::size_t records, const std::string& what, const Figure& figure) {
  std::printf("%zu,%s,%.3f,%.0f,%.0f,%.0f\n", records, what.c_str(), figure.ms, figure.used.user_ms,
              figure.used.kernel_ms, figure.used.faults);
  std::fflush(stdout);
}

// The file's bytes written by a bare program, from the buffer that has held them since the
// run began and from a fresh one filled just before, in pieces of 1 MiB and of 16 MiB:
// each after a pause (cold), and once more right after that (warm).
void bare_writes(std::size_t records, const std::string& held) {
  for (const bool fresh : {false, true}) {
    for (const std::size_t mib : {std::size_t{1}, std::size_t{16}}) {
      for (const char* state : {"cold", "warm"}) {
        if (std::strcmp(state, "cold") == 0) settle();
        const std::string name =
            std::string(fresh ? "fresh" : "held") + "_" + std::to_string(mib) + "mib_" + state;
        const char* bytes = held.data();
        std::unique_ptr<FreshMemory> memory;
        if (fresh) {
          memory = std::make_unique<FreshMemory>(held.size());
          report(records, "bare_fill_" + name,
                 measured(self(), [&] { std::memcpy(memory->bytes, held.data(), held.size()); }));
          bytes = memory->bytes;
        }
        const BareWrite figures = bare_write(bytes, held.size(), mib << 20);
        report(records, "bare_write_" + name, figures.write);
        report(records, "bare_flush_" + name, figures.flush);
      }
    }
  }
}

// The names put in the list of a bare combo box in a window of its own, the way Perlwick
// fills its own; then the list opened with the text Perlwick's name box has then.
struct BareCombo {
  Figure fill;
  Figure open;
};

BareCombo bare_combo(const std::vector<std::wstring>& names) {
  const HWND window = CreateWindowExW(0, L"Static", L"", WS_OVERLAPPED | WS_VISIBLE, 0, 0, 400, 300,
                                      nullptr, nullptr, nullptr, nullptr);
  const HWND combo =
      CreateWindowExW(0, L"ComboBox", L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL | CBS_DROPDOWN, 8, 8,
                      300, 200, window, nullptr, nullptr, nullptr);
  BareCombo times;
  times.fill = measured(self(), [&] {
    SendMessageW(combo, WM_SETREDRAW, FALSE, 0);
    SendMessageW(combo, CB_INITSTORAGE, names.size(),
                 static_cast<LPARAM>(names.size() * 32 * sizeof(wchar_t)));
    for (const std::wstring& name : names) {
      SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    }
    SendMessageW(combo, WM_SETREDRAW, TRUE, 0);
  });
  SetWindowTextW(combo, L"Qzxv");
  times.open = measured(self(), [&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); });
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

// The bare window started and waited for until it is responsive: the time, and what it
// spent from its start.
Figure start_bare_window(std::unique_ptr<Program>& program) {
  const double ms = time_of([&] { program = std::make_unique<Program>(); });
  return {ms, Counted(program->process(), L"bare_window.exe").now()};
}

// Perlwick at work on one records file, with the processor time and page faults of each
// thing it does.
class Perlwick {
 public:
  Perlwick(std::size_t records, const std::string& prefix) : records_(records), prefix_(prefix) {
    const double ms = time_of([&] { program_ = std::make_unique<Program>(); });
    counted_ = std::make_unique<Counted>(program_->process(), L"perlwick.exe");
    report(records_, prefix_ + "start", Figure{ms, counted_->now()});
  }

  Program& program() { return *program_; }

  template <typename What>
  Figure time(What action) {
    return measured(*counted_, action);
  }

  template <typename What>
  void report_time(const std::string& what, What action) {
    report(records_, prefix_ + what, time(action));
  }

  // An edit, pressed with its button.
  void edit(const std::string& what, int button) {
    report_time(what, [&] { program_->click(button); });
  }

  // The same, beside its yardstick: the plain copy of the records file to copy_folder, and
  // then the edit, each in the same state of memory.
  void edit(const std::string& what, int button, Memory memory, const std::wstring& copy_folder) {
    const auto prepare = [&] { memory == Memory::warm ? warm_up(copy_folder) : settle(); };
    const std::string name = (memory == Memory::warm ? "warm_" : "") + what;
    prepare();
    report(records_, prefix_ + name.substr(0, name.size() - what.size()) + "copy_before_" + what,
           plain_copy(perlwick::e2e::records_path(), copy_folder));
    prepare();
    edit(name, button);
  }

  void end() {
    report(records_, prefix_ + "peak_memory_mib", peak_memory_mib(program_->process()));
    program_.reset();
  }

 private:
  std::size_t records_;
  std::string prefix_;
  std::unique_ptr<Program> program_;
  std::unique_ptr<Counted> counted_;
};

void measure(const std::wstring& perlwick, const std::wstring& bare, const std::wstring& records,
             bool largest) {
  const std::string bytes = read_whole(records);
  const std::vector<std::wstring> names = names_of(bytes);
  const std::size_t count = names.size();

  report(count, "file_mib", static_cast<double>(bytes.size()) / (1024.0 * 1024.0));
  report(count, "baseline_copy", plain_copy(records, L"C:\\"));
  const BareCombo combo_times = bare_combo(names);
  report(count, "baseline_combo_fill", combo_times.fill);
  report(count, "baseline_combo_open", combo_times.open);
  perlwick::e2e::set_program_path(bare);
  {
    std::unique_ptr<Program> window;
    report(count, "baseline_start", start_bare_window(window));
  }

  if (!CopyFileW(records.c_str(), L"C:\\perlwickrecords.txt", FALSE)) {
    throw std::runtime_error("cannot put the records file in place");
  }
  if (largest) {
    bare_writes(count, bytes);
    settle();
    report(count, "bare_read", bare_read(records, bytes.size()));
    settle();
  }
  perlwick::e2e::set_program_path(perlwick);
  Perlwick program(count, "");
  Program& window = program.program();

  // Keystrokes that find nothing: each runs the look-up.
  std::vector<Figure> keys;
  for (const wchar_t c : std::wstring(L"Qzxv")) {
    keys.push_back(program.time([&] { window.type({&c, 1}); }));
  }
  std::sort(keys.begin(), keys.end(), [](const Figure& a, const Figure& b) { return a.ms < b.ms; });
  report(count, "keystroke", keys[keys.size() / 2]);

  const HWND combo = window.control(ids::Combo1);
  const auto open_list = [&](const char* what) {
    program.report_time(what, [&] { SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0); });
    SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
  };
  open_list("open_list");
  open_list("open_list_again");
  window.set_text(ids::Combo1, L"Qzxv");
  program.report_time("keystroke_after_open", [&] { window.type(L"w"); });

  // The list, once filled, follows each edit when it is next opened. At the largest file
  // each edit is measured beside its yardstick after a pause, and then once more warm.
  const std::wstring folder = L"C:\\";
  const auto edit = [&](const std::string& what, int button) {
    if (largest) {
      program.edit(what, button, Memory::after_pause, folder);
    } else {
      program.edit(what, button);
    }
  };
  window.set_text(ids::Text2, L"https://bench.example/");
  edit("add", ids::Command1);
  open_list("open_list_after_add");
  edit("update", ids::Command2);
  open_list("open_list_after_update");
  window.set_focus(ids::Text2);
  program.report_time("focus_after_edit", [&] { window.set_focus(ids::Combo1); });
  edit("delete", ids::Command3);
  open_list("open_list_after_delete");
  if (largest) {
    program.edit("add", ids::Command1, Memory::warm, folder);
    program.edit("update", ids::Command2, Memory::warm, folder);
    program.edit("delete", ids::Command3, Memory::warm, folder);
  }
  program.end();
}

// Where C:\ refuses new files, Perlwick rewrites the records file in place, after a copy
// of the new content in its private folder: the start and the three edits, each beside
// its plain copy to the temporary folder.
void measure_in_place(const std::wstring& perlwick, const std::wstring& records) {
  const std::string bytes = read_whole(records);
  const std::size_t count = names_of(bytes).size();
  // The records file may be written here, though C:\ refuses new files.
  copy_file(records, perlwick::e2e::records_path());
  perlwick::e2e::set_program_path(perlwick);
  settle();
  Perlwick program(count, "in_place_");
  // The record that the edits add, change and delete, as in the other session.
  program.program().type(L"Qzxvw");
  program.program().set_text(ids::Text2, L"https://bench.example/");
  const std::wstring folder = temp_folder();
  for (const Memory memory : {Memory::after_pause, Memory::warm}) {
    program.edit("add", ids::Command1, memory, folder);
    program.edit("update", ids::Command2, memory, folder);
    program.edit("delete", ids::Command3, memory, folder);
  }
  program.end();
}

}  // namespace

int main(int argc, char** argv) {
  using perlwick::e2e::windows_path;
  const bool in_place = argc > 1 && std::strcmp(argv[1], "--in-place") == 0;
  if (argc < 5 || (in_place && argc != 5)) {
    std::fprintf(stderr,
                 "usage: wine_bench PERLWICK.EXE BARE_WINDOW.EXE RUNS RECORDS-FILE...\n"
                 "       wine_bench --in-place PERLWICK.EXE RUNS RECORDS-FILE\n");
    return 2;
  }
  SetProcessDPIAware();
  const int runs = std::atoi(argv[3]);
  try {
    if (in_place) {
      for (int run = 0; run < runs; ++run) {
        measure_in_place(windows_path(wide(argv[2])), windows_path(wide(argv[4])));
      }
      return 0;
    }
    std::vector<std::wstring> files;
    std::uintmax_t largest = 0;
    for (int file = 4; file < argc; ++file) {
      files.push_back(windows_path(wide(argv[file])));
      largest = std::max(largest, std::filesystem::file_size(files.back()));
    }
    for (const std::wstring& file : files) {
      for (int run = 0; run < runs; ++run) {
        measure(windows_path(wide(argv[1])), windows_path(wide(argv[2])), file,
                std::filesystem::file_size(file) == largest);
      }
    }
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "wine_bench: %s\n", failure.what());
    return 1;
  }
  return 0;
}
