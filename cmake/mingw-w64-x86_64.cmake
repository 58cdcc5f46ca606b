# The till's Windows (x86-64), built with Debian's mingw-w64 (posix threads
# flavour, for std::thread). Programs are linked statically: each .exe needs
# nothing beside it. Runs here under wine64.
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FR_CROSS_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FR_CROSS_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FR_CROSS_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${FR_CROSS_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
