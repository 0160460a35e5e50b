// The installer under Wine, run silently as an administrator runs it: Perlwick lands in
// Program Files with its shortcut and its entry among the installed programs, starts from
// there, and the records file is made once and kept when Perlwick is uninstalled. An older
// version is replaced; while Perlwick runs, neither the installer nor the uninstaller
// changes anything.

#include <windows.h>

#include <sddl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include "program_driver.h"
#include "window/control_ids.h"

namespace perlwick::e2e {
namespace {

std::wstring known_folder(REFKNOWNFOLDERID id) {
  wchar_t* path = nullptr;
  std::wstring folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, 0, nullptr, &path))) folder = path;
  CoTaskMemFree(path);
  return folder;
}

bool exists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Runs a program to its end, within a time limit, and gives its exit code.
DWORD run_to_end(const std::wstring& program, const std::wstring& arguments) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command_line = L"\"" + program + L"\" " + arguments;
  if (!CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &process)) {
    ADD_FAILURE() << "cannot start " << narrow(program);
    return static_cast<DWORD>(-1);
  }
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(process.hProcess, &code);
  } else {
    ADD_FAILURE() << narrow(program) << " did not end within 60 s";
    TerminateProcess(process.hProcess, 1);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

// Perlwick's entry among the installed programs, and its values.
constexpr wchar_t kEntryKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Perlwick";

std::optional<std::wstring> installed_program_value(const wchar_t* name) {
  wchar_t value[512] = {};
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kEntryKey, name, RRF_RT_REG_SZ, nullptr, value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(value);
}

std::optional<DWORD> installed_program_number(const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kEntryKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

ULONGLONG file_size(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// Uninstalls silently, as the entry's QuietUninstallString does, and waits until that is
// done. The uninstaller started so copies itself to the temporary folder, starts the copy
// and returns at once; the copy removes the shortcut, the folder and then the entry.
void uninstall(const std::wstring& folder, const std::wstring& shortcut) {
  ASSERT_EQ(run_to_end(folder + L"\\uninstall.exe", L"/S"), 0u);
  EXPECT_TRUE(wait_until(
      [&] {
        return !exists(shortcut) && !exists(folder) && !installed_program_value(L"DisplayName");
      },
      30s))
      << "the program, its shortcut or its entry is still there";
}

// The records file's access list, in the system's text form: entries end in the SID or
// alias they are for, as in (A;;FA;;;SY).
std::wstring records_access() {
  DWORD size = 0;
  GetFileSecurityW(records_path().c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  wchar_t* text = nullptr;
  std::wstring sddl;
  if (GetFileSecurityW(records_path().c_str(), DACL_SECURITY_INFORMATION, buffer.data(), size,
                       &size) &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(
          buffer.data(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
    sddl = text;
    LocalFree(text);
  }
  return sddl;
}

TEST(Installer, InstallsStartsAndUninstallsKeepingTheRecords) {
  const std::wstring setup = program_under_test();
  const std::wstring folder = known_folder(FOLDERID_ProgramFiles) + L"\\Perlwick";
  const std::wstring shortcut = known_folder(FOLDERID_CommonPrograms) + L"\\Perlwick.lnk";
  remove_records();

  ASSERT_EQ(run_to_end(setup, L"/S"), 0u);
  EXPECT_TRUE(exists(folder + L"\\perlwick.exe"));
  EXPECT_TRUE(exists(shortcut));
  EXPECT_EQ(installed_program_value(L"DisplayName"), L"Perlwick");
  EXPECT_EQ(installed_program_value(L"Publisher"), L"Perlwick");
  EXPECT_EQ(installed_program_value(L"DisplayVersion"), PERLWICK_VERSION_TEXT);
  EXPECT_EQ(installed_program_value(L"UninstallString"), L"\"" + folder + L"\\uninstall.exe\"");
  // The size the list of installed programs shows, in KiB: the program and the uninstaller.
  const ULONGLONG program_kib = file_size(folder + L"\\perlwick.exe") / 1024;
  EXPECT_GE(installed_program_number(L"EstimatedSize").value_or(0), program_kib);
  EXPECT_LE(installed_program_number(L"EstimatedSize").value_or(0), program_kib + 512);
  // The records file is made empty, and no entry of its access list is for everybody, for
  // every user or for every signed-in user: it holds passwords.
  EXPECT_EQ(read_records(), "");
  const std::wstring access = records_access();
  for (const wchar_t* group : {L";WD)", L";BU)", L";AU)", L";IU)"}) {
    EXPECT_EQ(access.find(group), std::wstring::npos) << narrow(access);
  }

  // Perlwick starts from where it was installed, and keeps its records in that file.
  set_program_path(folder + L"\\perlwick.exe");
  {
    Program program;
    program.type(L"Acme");
    program.click(ids::Command1);
  }
  const std::string records = line({"Acme", "", "", "", "", "", "", ""});
  EXPECT_EQ(read_records(), records);

  // Installing again leaves the records file as it is.
  ASSERT_EQ(run_to_end(setup, L"/S"), 0u);
  EXPECT_EQ(read_records(), records);

  // Uninstalling removes the program, its shortcut and its entry, and keeps the records.
  uninstall(folder, shortcut);
  EXPECT_EQ(read_records(), records);
}

TEST(Installer, ReplacesAnOlderVersionAndChangesNothingWhilePerlwickRuns) {
  const std::wstring setup = program_under_test();
  const std::wstring folder = known_folder(FOLDERID_ProgramFiles) + L"\\Perlwick upgraded";
  const std::wstring program = folder + L"\\perlwick.exe";
  const std::wstring shortcut = known_folder(FOLDERID_CommonPrograms) + L"\\Perlwick.lnk";
  const std::string records = line({"Acme", "https://acme.example", "", "", "", "", "", ""});
  write_records(records);

  ASSERT_EQ(run_to_end(windows_path(PERLWICK_OLDER_SETUP), L"/S /D=" + folder), 0u);
  EXPECT_EQ(installed_program_value(L"DisplayVersion"), PERLWICK_OLDER_VERSION_TEXT);

  // While Perlwick runs, a silent install or uninstall changes nothing and ends with 2,
  // NSIS's code for a run its script aborted. The uninstaller runs in place (_?=), so that
  // its own end and exit code can be waited for.
  set_program_path(program);
  {
    Program running;
    EXPECT_EQ(run_to_end(setup, L"/S"), 2u);
    EXPECT_EQ(installed_program_value(L"DisplayVersion"), PERLWICK_OLDER_VERSION_TEXT);
    EXPECT_EQ(run_to_end(folder + L"\\uninstall.exe", L"/S _?=" + folder), 2u);
    EXPECT_TRUE(exists(program));
    EXPECT_TRUE(exists(shortcut));
    EXPECT_EQ(installed_program_value(L"DisplayName"), L"Perlwick");
  }

  // Installing over the older version goes where it is and replaces the program (emptied
  // here, to see it replaced); the shortcut, the entry and the records stay.
  {
    const HANDLE file = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  ASSERT_EQ(run_to_end(setup, L"/S"), 0u);
  EXPECT_GT(file_size(program), 0u);
  EXPECT_EQ(installed_program_value(L"DisplayVersion"), PERLWICK_VERSION_TEXT);
  EXPECT_EQ(installed_program_value(L"InstallLocation"), folder);
  EXPECT_TRUE(exists(shortcut));
  EXPECT_EQ(read_records(), records);
  {
    Program upgraded;
    upgraded.type(L"acme");
    EXPECT_EQ(upgraded.text(ids::Text2), L"https://acme.example");
  }

  uninstall(folder, shortcut);
  EXPECT_EQ(read_records(), records);
}

}  // namespace
}  // namespace perlwick::e2e
