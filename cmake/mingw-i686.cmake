# Cross build for 32-bit Windows, the build Korvane ships.
set(KORVANE_MINGW_TARGET i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
# ctest runs the Windows test programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
