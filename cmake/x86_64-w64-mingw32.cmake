# Cross-builds the Windows renderer with Debian's mingw-w64 (posix thread model):
#   cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KFP_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KFP_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KFP_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KFP_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KFP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C++ runtime, libgcc and winpthread go into the .exe: nothing to ship beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

# ctest runs the Windows test programs through Wine (inside scripts/wine-session).
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
