# The register's board: 32-bit ARM (hard float) Linux, built with Debian's
# cross compiler (g++-arm-linux-gnueabihf). Programs built here run on the PC
# under qemu-arm (qemu-user).
#
#   cmake -S . -B build-arm -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(FR_CROSS_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${FR_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${FR_CROSS_TRIPLE}-g++)

# Headers and libraries of the target only; programs (cmake, pkg-config) of
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${FR_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ctest and gtest_discover_tests run the test binaries through this.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${FR_CROSS_TRIPLE})
