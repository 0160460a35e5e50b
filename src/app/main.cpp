// Perlwick's start: creates the window Form1, runs its load step, shows it and runs the
// window's messages until it is closed.

#include <windows.h>

#include <commctrl.h>

#include "resource.h"
#include "win32/system_library.h"
#include "window/messages.h"
#include "window/win32_main_window.h"
#include "window/win32_message_box.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*command_line*/,
                    int /*show*/) {
  // Before anything loads a DLL: from now on they come from the system folder alone.
  perlwick::win32::load_dlls_only_from_the_system();
  INITCOMMONCONTROLSEX common_controls{};
  common_controls.dwSize = sizeof(common_controls);
  common_controls.dwICC = ICC_STANDARD_CLASSES;
  static const auto init_common_controls =
      perlwick::win32::system_function<decltype(InitCommonControlsEx)>(L"comctl32.dll",
                                                                       "InitCommonControlsEx");
  if (init_common_controls != nullptr) init_common_controls(&common_controls);

  try {
    perlwick::win32::MainWindow window(instance, IDI_PERLWICK);
    // Creates the window and its controls and runs the load step: the window is placed
    // and the records are loaded.
    if (const perlwick::Status created = window.create(); !created.ok()) {
      perlwick::win32::message_box(nullptr, perlwick::text_of(created).c_str());
      return 1;
    }
    // The icon goes into the notification area before the window is first shown.
    window.add_tray_icon();
    window.show();
    return window.run_message_loop();
  } catch (...) {
    perlwick::win32::message_box(nullptr, perlwick::fixed_text_of(perlwick::Says::not_started));
    return 1;
  }
}
