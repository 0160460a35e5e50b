#pragma once

// The window's private messages, which the program posts to its own windows. Each number
// is given out here, once.

#include <windows.h>

namespace perlwick::win32 {

// Posted to the name box when the user has chosen an item of its list: the combo box
// writes the item into its edit field only after it has sent the notification, so the
// choice is looked up once that has happened.
inline constexpr UINT kChoiceMessage = WM_APP + 1;

// Posted to the main window when a box whose row has a handler has lost the focus, with
// the box's id in wParam: the handler runs once the focus has settled, not inside the
// focus change.
inline constexpr UINT kLostFocusMessage = WM_APP + 2;

}  // namespace perlwick::win32
