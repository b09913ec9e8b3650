# Toolchain for cross-building Tonvarel for 64-bit Windows with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64):
#
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# The posix thread model gives std::thread and std::atomic their full implementation. Everything
# the compiler brings (libgcc, libstdc++, winpthread) is linked statically, so the .exe imports
# only DLLs that every Windows has. ctest runs the cross-built tests under Wine through
# scripts/wine-run.sh.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TONVAREL_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TONVAREL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TONVAREL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TONVAREL_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot only; programs (windres, wine) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TONVAREL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

get_filename_component(_tonvarel_wine_run "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh"
                       ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_tonvarel_wine_run}")
