# Cross build for 64-bit Windows with Debian's MinGW-w64 (POSIX threads), the
# programs linked statically so that they need no DLL beside them, and the
# tests run through wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLON_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${QUILLON_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLON_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLON_MINGW_TRIPLE}-windres)

# Libraries and headers for the target come from its own root only; programs
# (cmake, bash) from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLON_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(ZLIB_USE_STATIC_LIBS ON)

# The C and C++ runtimes and winpthread go into each program.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Win64 gives no more than 16-byte stack alignment, which GCC assumes it can
# raise for 32- and 64-byte vectors; the assembler turns aligned vector moves
# into unaligned ones so that AVX2 and AVX-512 spills cannot fault.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

find_program(QUILLON_WINE NAMES wine64 wine)
if(QUILLON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLON_WINE})
endif()
