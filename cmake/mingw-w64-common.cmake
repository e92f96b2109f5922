# Shared part of the mingw-w64 toolchain files: Debian's -posix cross compilers for the triple
# HALVERN_MINGW_TRIPLE, set by the file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1) # Windows 7 and later

set(CMAKE_C_COMPILER ${HALVERN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HALVERN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HALVERN_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${HALVERN_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${HALVERN_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Libraries and headers of the target only: Debian's zlib for mingw under /usr/<triple>, and
# whatever HALVERN_WINDOWS_PREFIX holds (libpng, built by scripts/build-libpng-windows.sh).
set(CMAKE_FIND_ROOT_PATH /usr/${HALVERN_MINGW_TRIPLE})
if(DEFINED ENV{HALVERN_WINDOWS_PREFIX})
  list(PREPEND CMAKE_FIND_ROOT_PATH $ENV{HALVERN_WINDOWS_PREFIX})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The static zlib, so that the DLLs carry it inside (libpng is only built static).
set(ZLIB_USE_STATIC_LIBS ON)

# AVX code may spill 32-byte vectors to a stack that Windows aligns to 16 bytes only; the
# assembler turns aligned vector moves into unaligned ones, which are as fast on aligned data.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
