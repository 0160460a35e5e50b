#pragma once

// Resource ids of the executable. Shared by main.cpp and perlwick.rc, so it holds only
// preprocessor definitions.

// The program's icon: the window's, the executable's (its first icon) and the tray's.
#define IDI_PERLWICK 1
