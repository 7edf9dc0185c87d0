# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers.
#
# The -posix compilers: the win32 thread model has no std::thread or
# std::mutex. Everything links statically, so the programs import nothing
# beyond the system's own DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${triple}-gcc-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres REQUIRED)

# The libraries built for MinGW by scripts/mingw-deps (Ogg, Vorbis, FLAC,
# GoogleTest) live in a prefix of their own, outside the checkout.
if(DEFINED ENV{VESKA_MINGW_PREFIX})
  set(VESKA_MINGW_PREFIX "$ENV{VESKA_MINGW_PREFIX}")
elseif(NOT VESKA_MINGW_PREFIX)
  set(VESKA_MINGW_PREFIX "$ENV{HOME}/.cache/veska/mingw-prefix")
endif()
# try_compile projects see the same prefix.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESKA_MINGW_PREFIX)

set(CMAKE_FIND_ROOT_PATH ${VESKA_MINGW_PREFIX} /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
