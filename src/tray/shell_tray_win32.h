#pragma once

#include "tray/module1.h"

namespace perlwick {

// The Windows shell's notification area, through Shell_NotifyIconA.
class Win32ShellTray final : public ShellTray {
 public:
  bool notify(TrayCall call, const NotifyIconRecord& record) override;
};

}  // namespace perlwick
