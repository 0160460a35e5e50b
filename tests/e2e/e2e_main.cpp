// The end-to-end test program: perlwick_e2e [GoogleTest options] PATH-TO-perlwick.exe

#include <windows.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "program_driver.h"

int main(int argc, char** argv) {
  // Lengths are measured in real pixels, as the program lays itself out.
  SetProcessDPIAware();
  testing::InitGoogleTest(&argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: perlwick_e2e [GoogleTest options] PATH-TO-perlwick.exe\n");
    return 2;
  }
  const int size = MultiByteToWideChar(CP_ACP, 0, argv[1], -1, nullptr, 0);
  std::wstring path(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path.data(), size);
  path.resize(path.size() - 1);  // the terminating NUL
  perlwick::e2e::set_program_path(std::move(path));
  return RUN_ALL_TESTS();
}
