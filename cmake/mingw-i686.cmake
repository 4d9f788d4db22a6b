# The program we ship: 32-bit Windows, statically linked so it runs on a bare Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# SSE2 arithmetic: the x87 unit keeps excess precision, and the stitching maths and
# number texts are defined on values rounded to float and double. Windows promises 32-bit code
# a stack aligned to 4 bytes only, also when it calls our window, timer and thread procedures:
# a function that keeps SSE values on the stack must align it itself.
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
