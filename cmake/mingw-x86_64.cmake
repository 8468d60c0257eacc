# Toolchain: 64-bit Windows (PE32+), MinGW-w64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ENTPACKER_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
