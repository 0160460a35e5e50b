#pragma once

// Functions of Windows' own DLLs that the program loads itself, from the system folder
// only. Loaded at start-up by the import table, a DLL such as shell32 would bring along
// DLLs of its own (shlwapi, shcore) before the program could say where DLLs may come
// from, and the program's folder is searched first: a DLL of such a name placed beside
// perlwick.exe (in a downloads folder, say) would run as the program.

#include <windows.h>

namespace perlwick::win32 {

// Limits where DLLs are loaded from, for the rest of the program's life, to the system
// folder. Called first thing.
inline void load_dlls_only_from_the_system() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The function name of the system DLL library, with the type Function; nullptr when the
// DLL or the function is missing. The DLL stays loaded.
template <typename Function>
Function* system_function(const wchar_t* library, const char* name) {
  const HMODULE module = LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr) return nullptr;
  // Through a function pointer of no type: the usual way to give GetProcAddress's result
  // its real type.
  return reinterpret_cast<Function*>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

}  // namespace perlwick::win32
