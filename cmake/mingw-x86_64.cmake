# Cross build of the same sources for 64-bit Windows. Korvane ships the 32-bit build;
# this one runs the Windows tests under 64-bit Wine on machines that cannot run 32-bit
# x86 code (scripts/wine-env.sh chooses).
set(KORVANE_MINGW_TARGET x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
# ctest runs the Windows test programs under 64-bit Wine (its loader, called directly:
# Debian's wine command takes the 32-bit loader whenever that is installed).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
