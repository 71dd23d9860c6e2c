# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64):
# Veltrad.exe (the Win32 window), veltrad-cli.exe and the tests.
#
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
#   cmake --build build-mingw && (cd build-mingw && cpack)   # the Windows zip
#
# The "-posix" compiler flavour is used on purpose: its libstdc++ has
# std::thread, std::mutex and std::condition_variable (on winpthreads), which
# the download worker needs; the "-win32" flavour of GCC 12 has none of them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRAD_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(VELTRAD_MINGW_CXX NAMES ${VELTRAD_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(VELTRAD_MINGW_CC NAMES ${VELTRAD_MINGW_TRIPLET}-gcc-posix REQUIRED)
set(CMAKE_CXX_COMPILER ${VELTRAD_MINGW_CXX})
set(CMAKE_C_COMPILER ${VELTRAD_MINGW_CC})
find_program(CMAKE_RC_COMPILER NAMES ${VELTRAD_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRAD_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Header-only packages of the host, repackaged so that no host include folder
# reaches the Windows compiler.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw)

# Fully static executables: libgcc, libstdc++ and winpthreads are linked in, so
# an .exe runs on a bare Windows (or Wine) without any MinGW DLL beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Lets CTest (and gtest_discover_tests) run the test executables under Wine.
# The wrapper uses a prefix inside the build folder, never ~/.wine.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(VELTRAD_WINE NAMES wine)
  if(VELTRAD_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/windows/wine-run.sh)
  endif()
endif()
