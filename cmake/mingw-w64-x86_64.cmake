# Cross-builds the Windows programs (x86_64) with Debian's MinGW-w64 compiler
# (package g++-mingw-w64-x86-64-posix). Use with
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KS_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KS_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KS_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KS_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KS_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No DLL beside the programs: the C++ runtime and winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The header-only libraries of the build machine, without its system headers.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-packages)
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-packages)

# Test programs run under Wine.
find_program(KS_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KS_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KS_WINE})
endif()
