# Cross build of the same sources for 64-bit Windows with Debian's mingw-w64 (posix
# thread model). Korvane ships the 32-bit build; this one runs the Windows tests under
# 64-bit Wine on machines that cannot run 32-bit x86 code (scripts/test chooses).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# ctest runs the Windows test programs under 64-bit Wine (its loader, called directly:
# Debian's wine command takes the 32-bit loader whenever that is installed).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
