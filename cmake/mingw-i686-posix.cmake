# The shipped 32-bit toolchain with the -posix compilers, which GoogleTest needs: the Win32
# tests, the programs they start and their helpers, run under 32-bit Wine.
include("${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake")
set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
