# Cross build for Windows with MinGW-w64 (posix thread model), included by the two
# toolchain files after they set ENTPACKER_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${ENTPACKER_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ENTPACKER_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ENTPACKER_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ENTPACKER_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in statically: the programs import system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# -O2 for release builds: GCC 12 at -O3 reports a false -Wrestrict inside std::string.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags of release builds")

# The build's own programs (the tests, under CTest) run under Wine in a prefix of the
# build's own; scripts/wine-run picks the 32-bit or the 64-bit loader to fit the program.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run --prefix
    ${CMAKE_BINARY_DIR}/wineprefix)
