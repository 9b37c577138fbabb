# Cross-compiles tarvel for 64-bit IBM Z Linux, a big-endian host, with
# Debian's g++-s390x-linux-gnu; qemu-s390x runs the result on this machine:
#
#   cmake -B build/s390x -DCMAKE_TOOLCHAIN_FILE=cmake/s390x-linux-gnu.cmake
#   cmake --build build/s390x -j 2
#   qemu-s390x -L /usr/s390x-linux-gnu build/s390x/tarvel -h
#
# tests/cross/qemu_compare.sh builds it with the tests and compares it with
# the native tool.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TARVEL_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
