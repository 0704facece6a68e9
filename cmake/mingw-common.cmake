# Shared part of the mingw-w64 toolchain files: include after setting MINGW_TRIPLE
# (i686-w64-mingw32 or x86_64-w64-mingw32) and MINGW_WINE_ARCH (win32 or win64).
# Compilers are the -posix variants (std::thread/std::mutex, needed by GoogleTest), the
# programs link statically so they need only system DLLs, and test programs run under Wine
# through cmake/wine-run with a prefix kept inside the build directory.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

set(CMAKE_C_COMPILER /usr/bin/${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${MINGW_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The prefix belongs to the build directory, never to ~/.wine. When CMake reads this file
# for a try_compile project CMAKE_BINARY_DIR is a scratch directory; nothing runs there.
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/wine-run ${MINGW_WINE_ARCH} ${CMAKE_BINARY_DIR}/wineprefix)
