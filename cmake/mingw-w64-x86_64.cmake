# Cross-compiles a static tarvel.exe for 64-bit Windows with Debian's
# mingw-w64 tool chain (package g++-mingw-w64-x86-64):
#
#   cmake --preset windows && cmake --build --preset windows
#
# The executable needs no DLLs beside it: the C and C++ run-time libraries
# are linked in.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARVEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TARVEL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TARVEL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${TARVEL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
