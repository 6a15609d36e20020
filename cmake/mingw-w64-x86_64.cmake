# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (the POSIX
# thread model, so that std::thread and std::mutex work). The C and C++
# runtimes and winpthread are linked statically: the programs need no DLL
# beside the ones Windows itself ships.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QC_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QC_MINGW_TRIPLE}-windres)

# Headers and libraries of the target (zlib from libz-mingw-w64-dev) are
# searched only under the MinGW root; programs only on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)

# -static takes winpthread's static archive too, not only libgcc/libstdc++.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
