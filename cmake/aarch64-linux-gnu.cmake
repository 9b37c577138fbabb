# Cross-compiles tarvel for 64-bit ARM Linux (little-endian) with Debian's
# g++-aarch64-linux-gnu; qemu-aarch64 runs the result on this machine:
#
#   cmake -B build/aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake --build build/aarch64 -j 2
#   qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/tarvel -h
#
# tests/cross/qemu_compare.sh builds it with the tests and compares it with
# the native tool.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TARVEL_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
