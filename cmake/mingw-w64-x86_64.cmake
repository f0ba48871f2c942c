# Cross-building for 64-bit Windows with Debian's MinGW-w64 (the posix thread
# model, which std::thread needs). The programs and tests are static, so a
# copy of corvel-dl.exe runs without any of the compiler's DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# /usr as well: CLI11 and nlohmann-json are header-only and their CMake
# configs are Debian's; libraries are still taken only from the MinGW root.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# ctest runs the tests through Wine (scripts/windows sets WINEPREFIX).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
