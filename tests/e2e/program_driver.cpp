#include "program_driver.h"

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "store/record_store.h"
#include "window/control_ids.h"
#include "window/form1_table.h"

namespace perlwick::e2e {
namespace {

constexpr UINT kSendTimeoutMs = 10000;

std::wstring& program_path() {
  static std::wstring path;
  return path;
}

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error(what);
}

std::string error_text(DWORD error) {
  return " (Windows error " + std::to_string(error) + ")";
}

std::wstring class_name(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

// Sends a message and waits for the answer, but not for ever: a program that does not
// answer in time has hung.
LRESULT send(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutW(hwnd, message, wparam, lparam, SMTO_NORMAL, kSendTimeoutMs, &result)) {
    fail("the program did not answer message " + std::to_string(message) + " within " +
         std::to_string(kSendTimeoutMs / 1000) + " s" + error_text(GetLastError()));
  }
  return static_cast<LRESULT>(result);
}

std::wstring window_text(HWND hwnd) {
  const auto length = static_cast<std::size_t>(send(hwnd, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(length + 1, L'\0');
  const auto got = static_cast<std::size_t>(
      send(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data())));
  text.resize(std::min(got, length));
  return text;
}

// Key-down or key-up of a key, as the keyboard sends it.
INPUT key_input(WORD key, bool up) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = key;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  return input;
}

// Ends whatever is left of an earlier test's program, so that only one window of its
// kind exists.
void end_leftover_programs() {
  for (int attempt = 0; attempt < 10; ++attempt) {
    const HWND leftover = FindWindowW(perlwick::ids::kWindowClass, nullptr);
    if (leftover == nullptr) return;
    DWORD pid = 0;
    GetWindowThreadProcessId(leftover, &pid);
    if (const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid)) {
      TerminateProcess(process, 1);
      WaitForSingleObject(process, 5000);
      CloseHandle(process);
    }
  }
  fail("a window of the program from an earlier test does not go away");
}

struct WindowSearch {
  DWORD pid;
  HWND found;
};

// The program's main window, once it is visible.
HWND find_main_window(DWORD pid) {
  WindowSearch search{pid, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<WindowSearch*>(param);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s.pid && IsWindowVisible(hwnd) &&
            class_name(hwnd) == perlwick::ids::kWindowClass) {
          s.found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

std::wstring windows_path(std::wstring path) {
  // A path on the Linux side is reached through Wine's Z: drive.
  if (path.starts_with(L'/')) {
    std::replace(path.begin(), path.end(), L'/', L'\\');
    path.insert(0, L"Z:");
  }
  return path;
}

void set_program_path(std::wstring path) {
  program_path() = windows_path(std::move(path));
}

const std::wstring& program_under_test() {
  return program_path();
}

bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

// ---- The records file -----------------------------------------------------------------

std::wstring records_path() {
  return std::wstring(perlwick::kRecordsPath);
}

std::string line(std::initializer_list<std::string_view> fields) {
  std::string out;
  for (const std::string_view field : fields) {
    if (!out.empty()) out += "~~";
    out += field;
  }
  return out + "\r\n";
}

void write_records(std::string_view bytes) {
  const HANDLE file = CreateFileW(records_path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    fail("cannot create the records file" + error_text(GetLastError()));
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != bytes.size()) fail("cannot write the records file");
}

std::optional<std::string> read_records() {
  return read_bytes(records_path());
}

std::optional<std::string> read_bytes(const std::wstring& path) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return std::nullopt;
    fail("cannot open " + narrow(path) + error_text(error));
  }
  std::string bytes;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) bytes.append(buffer, got);
  CloseHandle(file);
  return bytes;
}

void remove_records() {
  if (!DeleteFileW(records_path().c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    fail("cannot remove the records file" + error_text(GetLastError()));
  }
}

std::vector<std::wstring> files_matching(std::wstring_view pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(std::wstring(pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

std::wstring private_folder() {
  wchar_t* local = nullptr;
  if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &local))) {
    fail("cannot find the local application data folder");
  }
  std::wstring folder = std::wstring(local) + L"\\Perlwick";
  CoTaskMemFree(local);
  return folder;
}

RecordsFileLock::RecordsFileLock()
    : file_(CreateFileW(records_path().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
  if (file_ == INVALID_HANDLE_VALUE)
    fail("cannot lock the records file" + error_text(GetLastError()));
}

RecordsFileLock::~RecordsFileLock() {
  CloseHandle(file_);
}

// ---- Geometry ---------------------------------------------------------------------------

int screen_dpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi;
}

int px(int twips) {
  return MulDiv(twips, screen_dpi(), 1440);
}

std::ostream& operator<<(std::ostream& out, const Rect& rect) {
  return out << "{left " << rect.left << ", top " << rect.top << ", width " << rect.width
             << ", height " << rect.height << "}";
}

// ---- The program ------------------------------------------------------------------------

Program::Program(const std::wstring& path) {
  if (path.empty()) fail("no program to test was given on the command line");
  end_leftover_programs();

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  std::wstring command_line = L"\"" + path + L"\"";
  if (!CreateProcessW(path.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      L"C:\\", &startup, &process_)) {
    fail("cannot start " + narrow(path) + error_text(GetLastError()));
  }
  try {
    const bool started = wait_until(
        [&] {
          if (!running()) fail("the program ended during start-up");
          window_ = find_main_window(process_.dwProcessId);
          return window_ != nullptr && focus() == ids::Combo1;
        },
        kStartTimeout);
    if (!started) {
      fail(window_ == nullptr ? "the program's window did not appear in time"
                              : "the name box did not take the focus at start-up");
    }
    settle();
  } catch (...) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
    throw;
  }
}

Program::~Program() {
  if (process_.hProcess == nullptr) return;
  if (running() && !close()) {
    TerminateProcess(process_.hProcess, 1);
    WaitForSingleObject(process_.hProcess, 5000);
  }
  CloseHandle(process_.hThread);
  CloseHandle(process_.hProcess);
}

HWND Program::control(int id) const {
  const HWND hwnd = GetDlgItem(window_, id);
  if (hwnd == nullptr) fail("the window has no control with id " + std::to_string(id));
  return hwnd;
}

HWND Program::name_edit() const {
  const HWND edit = FindWindowExW(control(ids::Combo1), nullptr, L"Edit", nullptr);
  if (edit == nullptr) fail("the name box has no edit field");
  return edit;
}

std::wstring Program::text(int id) const {
  return window_text(control(id));
}

void Program::set_text(int id, std::wstring_view text) const {
  const std::wstring copy(text);
  send(control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(copy.c_str()));
}

bool Program::enabled(int id) const {
  return IsWindowEnabled(control(id)) != FALSE;
}

LONG_PTR Program::style(int id) const {
  return GetWindowLongPtrW(control(id), GWL_STYLE);
}

std::vector<std::wstring> Program::list() const {
  const HWND combo = control(ids::Combo1);
  // The program fills the list when it is about to be seen.
  send(combo, CB_SHOWDROPDOWN, TRUE, 0);
  const auto count = send(combo, CB_GETCOUNT, 0, 0);
  std::vector<std::wstring> items;
  for (LRESULT i = 0; i < count; ++i) {
    const auto index = static_cast<WPARAM>(i);
    std::wstring item(static_cast<std::size_t>(send(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
    const auto got = send(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(item.data()));
    item.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
    items.push_back(std::move(item));
  }
  send(combo, CB_SHOWDROPDOWN, FALSE, 0);
  return items;
}

std::pair<int, int> Program::name_selection() const {
  const auto both = static_cast<DWORD>(send(control(ids::Combo1), CB_GETEDITSEL, 0, 0));
  return {LOWORD(both), HIWORD(both)};
}

DWORD Program::thread_id() const {
  return process_.dwThreadId;
}

HWND Program::focus_window() const {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(thread_id(), &info)) return nullptr;
  return info.hwndFocus;
}

int Program::focus() const {
  const HWND focused = focus_window();
  if (focused == nullptr) return 0;
  const HWND parent = GetParent(focused);
  if (parent == window_) return GetDlgCtrlID(focused);
  if (parent != nullptr && GetParent(parent) == window_ && GetDlgCtrlID(parent) == ids::Combo1) {
    return ids::Combo1;
  }
  return 0;
}

void Program::type(std::wstring_view text) const {
  const HWND edit = name_edit();
  for (const wchar_t c : text) send(edit, WM_CHAR, c, 1);
}

void Program::type(int id, std::wstring_view text) const {
  const HWND box = control(id);
  for (const wchar_t c : text) send(box, WM_CHAR, c, 1);
}

void Program::bring_to_foreground() const {
  // Wine may still hear of an earlier change of the focus from the display and take the
  // foreground from the window again (see settle_display): the window is in the foreground
  // once it still is after the display has caught up.
  const bool in_front = wait_until([&] {
    if (GetForegroundWindow() != window_) SetForegroundWindow(window_);
    settle_display();
    return GetForegroundWindow() == window_;
  });
  if (!in_front) fail("the program's window does not come to the foreground");
}

void Program::press_key(WORD key, bool shift, bool alt) const {
  // Keystrokes go to the foreground window.
  bring_to_foreground();
  std::vector<INPUT> inputs;
  if (shift) inputs.push_back(key_input(VK_SHIFT, false));
  if (alt) inputs.push_back(key_input(VK_MENU, false));
  inputs.push_back(key_input(key, false));
  inputs.push_back(key_input(key, true));
  if (alt) inputs.push_back(key_input(VK_MENU, true));
  if (shift) inputs.push_back(key_input(VK_SHIFT, true));
  const auto count = static_cast<UINT>(inputs.size());
  if (SendInput(count, inputs.data(), sizeof(INPUT)) != count) {
    fail("the keystrokes could not be sent" + error_text(GetLastError()));
  }
}

int Program::press_tab(bool shift) const {
  const HWND before = focus_window();
  press_key(VK_TAB, shift);
  if (!wait_until([&] { return focus_window() != before; })) {
    fail("Tab did not move the focus from the control with id " + std::to_string(focus()));
  }
  settle();
  return focus();
}

void Program::set_focus(int id) const {
  const HWND target = control(id);
  // SetFocus only reaches windows that share the caller's input: share the program's for
  // the call.
  const DWORD self = GetCurrentThreadId();
  if (!AttachThreadInput(self, thread_id(), TRUE)) {
    fail("cannot share the program's input" + error_text(GetLastError()));
  }
  SetFocus(target);
  // The name box hands the focus on to its edit field; and the program may have reacted at
  // once with a box of its own, which then has the focus.
  const HWND now = GetFocus();
  const bool moved = now == target || IsChild(target, now) ||
                     (now != nullptr && GetWindow(GetAncestor(now, GA_ROOT), GW_OWNER) == window_);
  AttachThreadInput(self, thread_id(), FALSE);
  if (!moved) fail("the control with id " + std::to_string(id) + " did not take the focus");
  settle();
}

void Program::click_with_mouse(int id) const {
  bring_to_foreground();
  RECT r{};
  GetWindowRect(control(id), &r);
  mouse_click({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void Program::choose_from_list(int index) const {
  const HWND combo = control(ids::Combo1);
  if (focus() != ids::Combo1) fail("the name box does not have the focus");
  for (int step = 0; step < 100; ++step) {
    const auto current = static_cast<int>(send(combo, CB_GETCURSEL, 0, 0));
    if (current == index) {
      // The program handles a choice with a message it posts to itself.
      settle_posted();
      return;
    }
    press_key(current < index ? VK_DOWN : VK_UP);
    if (!wait_until([&] { return send(combo, CB_GETCURSEL, 0, 0) != current; })) {
      fail("the arrow keys do not move the choice in the name box's list");
    }
  }
  fail("could not choose item " + std::to_string(index) + " of the name box's list");
}

void Program::click(int id) const {
  send(control(id), BM_CLICK, 0, 0);
}

void Program::click_later(int id) const {
  PostMessageW(control(id), BM_CLICK, 0, 0);
}

void Program::settle() const {
  send(window_, WM_NULL, 0, 0);
}

void Program::settle_posted() const {
  // The thread takes the messages posted to it in the order they came. One posted now
  // leaves a mark when it is handled: the modified flag of a box, which the program does
  // not use.
  const HWND marked = control(ids::Text2);
  send(marked, EM_SETMODIFY, FALSE, 0);
  if (!PostMessageW(marked, EM_SETMODIFY, TRUE, 0)) {
    fail("cannot post to the program" + error_text(GetLastError()));
  }
  if (!wait_until([&] { return send(marked, EM_GETMODIFY, 0, 0) != 0; })) {
    fail("the program did not handle its posted messages in time");
  }
}

void Program::settle_display() const {
  // The program's requests have reached the display once it has been through its message
  // loop again. Reading a pixel of the screen is a round trip to the display, which answers
  // it after the requests it already has; the second one also after those of the program
  // that arrived while the first was being answered. What the display told the program
  // meanwhile is then waiting for it, and it takes that before the next posted message.
  settle_posted();
  const HDC screen = GetDC(nullptr);
  for (int i = 0; i < 2; ++i) (void)GetPixel(screen, 0, 0);
  ReleaseDC(nullptr, screen);
  settle_posted();
}

std::optional<MessageBoxInfo> Program::message_box() const {
  struct Search {
    HWND owner;
    HWND found;
  } search{window_, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(param);
        if (GetWindow(hwnd, GW_OWNER) == s.owner && IsWindowVisible(hwnd) &&
            class_name(hwnd) == L"#32770") {
          s.found = hwnd;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return std::nullopt;
  MessageBoxInfo box{search.found, window_text(search.found), {}, {}, false};
  if (const HWND text = GetDlgItem(search.found, 0xFFFF)) box.text = window_text(text);
  for (HWND child = GetWindow(search.found, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::wstring kind = class_name(child);
    if (kind == L"Button") box.buttons.push_back(window_text(child));
    if (kind == L"Static" && (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        send(child, STM_GETICON, 0, 0) != 0) {
      box.icon = true;
    }
  }
  return box;
}

MessageBoxInfo Program::wait_for_message_box() const {
  std::optional<MessageBoxInfo> box;
  if (!wait_until([&] { return (box = message_box()).has_value(); })) {
    fail("no message box appeared");
  }
  // The box has taken the focus from the window: the display has told that to the program
  // before anything else changes the focus.
  settle_display();
  return *box;
}

void Program::press_ok(const MessageBoxInfo& box) const {
  const HWND ok = GetDlgItem(box.hwnd, IDOK);
  if (ok == nullptr) fail("the message box has no OK button");
  PostMessageW(ok, BM_CLICK, 0, 0);
  if (!wait_until([&] { return !IsWindow(box.hwnd); })) fail("the message box did not close");
  settle_display();
}

Rect Program::window_rect() const {
  RECT r{};
  GetWindowRect(window_, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect Program::client_rect() const {
  RECT r{};
  GetClientRect(window_, &r);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

Rect Program::control_rect(int id) const {
  RECT r{};
  GetWindowRect(control(id), &r);
  POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
  ScreenToClient(window_, &corners[0]);
  ScreenToClient(window_, &corners[1]);
  return {corners[0].x, corners[0].y, corners[1].x - corners[0].x, corners[1].y - corners[0].y};
}

bool Program::visible() const {
  return IsWindowVisible(window_) != FALSE;
}

bool Program::minimized() const {
  return IsIconic(window_) != FALSE;
}

void Program::post_tray_callback(LPARAM mouse_message) const {
  settle_display();
  if (!PostMessageW(window_, WM_MOUSEMOVE, 1, mouse_message)) {
    fail("cannot post the tray callback" + error_text(GetLastError()));
  }
  settle_display();
}

bool Program::running() const {
  return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Program::close(std::chrono::milliseconds timeout) {
  PostMessageW(window_, WM_CLOSE, 0, 0);
  return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) ==
         WAIT_OBJECT_0;
}

// The field boxes are those of the window's table, after the name box, in field order.
Fields fields(const Program& program) {
  Fields texts;
  for (std::size_t field = 1; field < kFieldCount; ++field) {
    texts.push_back(program.text(box_row(field).id));
  }
  return texts;
}

void fill_fields(const Program& program, const Fields& texts) {
  for (std::size_t i = 0; i < texts.size(); ++i) program.set_text(box_row(i + 1).id, texts[i]);
}

// ---- The notification area and the mouse -------------------------------------------------

std::vector<HWND> tray_icons() {
  std::vector<HWND> icons;
  const HWND tray = FindWindowW(L"__winex11_standalone_tray", nullptr);
  if (tray == nullptr || !IsWindowVisible(tray)) return icons;
  for (HWND child = GetWindow(tray, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if (IsWindowVisible(child)) icons.push_back(child);
  }
  return icons;
}

void mouse_click(POINT at, bool right_button) {
  // A second click near the first one soon after it would make a double-click, which
  // controls take for something else: wait until it is a click of its own.
  static POINT last_at{-100, -100};
  static auto last_time = std::chrono::steady_clock::now();
  if (std::abs(at.x - last_at.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
      std::abs(at.y - last_at.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
    std::this_thread::sleep_until(last_time + std::chrono::milliseconds(GetDoubleClickTime()) +
                                  50ms);
  }
  last_at = at;
  last_time = std::chrono::steady_clock::now();
  if (!SetCursorPos(at.x, at.y)) fail("cannot move the mouse pointer" + error_text(GetLastError()));
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = right_button ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
  inputs[1].mi.dwFlags = right_button ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
  if (SendInput(2, inputs, sizeof(INPUT)) != 2) {
    fail("the mouse click could not be sent" + error_text(GetLastError()));
  }
}

std::string narrow(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                      nullptr, nullptr);
  return out;
}

}  // namespace perlwick::e2e
