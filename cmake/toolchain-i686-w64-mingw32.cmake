# Cross-builds for 32-bit Windows with Debian's mingw-w64 compilers (scripts/install-win32-deps.sh).
# The -posix variants carry std::thread and std::mutex; the runtime libraries are linked in
# statically so that the built modules depend only on system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KORVEL_MINGW_TRIPLET i686-w64-mingw32)
find_program(KORVEL_MINGW_CXX NAMES ${KORVEL_MINGW_TRIPLET}-g++-posix ${KORVEL_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(KORVEL_MINGW_CC NAMES ${KORVEL_MINGW_TRIPLET}-gcc-posix ${KORVEL_MINGW_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KORVEL_MINGW_CXX})
if(KORVEL_MINGW_CC)
  set(CMAKE_C_COMPILER ${KORVEL_MINGW_CC})
endif()
set(CMAKE_RC_COMPILER ${KORVEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The target's zlib comes as both an import library and a static one: take the static one.
set(ZLIB_USE_STATIC_LIBS ON)

# utfcpp is header-only and not packaged for the target: the host's copy is used, through an
# include path limited to its own folder.
set(KORVEL_UTF8CPP_INCLUDE_DIR /usr/include/utf8cpp)
