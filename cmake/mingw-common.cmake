# Shared part of the mingw-w64 toolchain files. The -posix compilers are used because
# GoogleTest needs std::mutex, which the -win32 thread model lacks.
set(CMAKE_C_COMPILER ${PERLWICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PERLWICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PERLWICK_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${PERLWICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Run cross-compiled test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
