# The part the Linux cross toolchain files share: Debian's cross compilers
# for TARVEL_CROSS_TRIPLE (package g++-<triple with - for _>), the target's
# headers and libraries in /usr/<triple>, and qemu user-mode emulation
# (package qemu-user) as the emulator through which CMake and CTest run
# target programs.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TARVEL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TARVEL_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -L: the target's dynamic loader and libraries come from the cross root.
find_program(TARVEL_QEMU qemu-${CMAKE_SYSTEM_PROCESSOR})
if(TARVEL_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVEL_QEMU} -L /usr/${TARVEL_CROSS_TRIPLE})
endif()
