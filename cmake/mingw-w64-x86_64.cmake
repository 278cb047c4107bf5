# CMake toolchain: Debian 12 host -> 64-bit Windows, MinGW-w64 GCC with posix
# threads (std::thread needs them). scripts/windows.sh passes the Qt for
# Windows prefix as QT_WINDOWS_PREFIX.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER   /usr/bin/${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${MINGW_TRIPLE}-windres)
set(CMAKE_AR           /usr/bin/${MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Target headers and libraries come only from the MinGW sysroot and the Qt
# for Windows (never /usr/include); programs (the compilers, Debian's moc,
# rcc and uic of the same Qt version) from the host.
set(QT_WINDOWS_PREFIX "" CACHE PATH "Qt built for 64-bit Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} ${QT_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built for Windows (the tests, and NASM asked for its version at
# configure time) run through Wine. Debian's /usr/bin/wine prefers the 32-bit
# loader once wine32:i386 is installed, which fails where the kernel runs no
# 32-bit programs: the 64-bit loader is named itself.
find_program(WINE64_FOR_TOOLCHAIN NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT WINE64_FOR_TOOLCHAIN)
  find_program(WINE64_FOR_TOOLCHAIN NAMES wine64 wine)
endif()
if(WINE64_FOR_TOOLCHAIN)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${WINE64_FOR_TOOLCHAIN}")
endif()
