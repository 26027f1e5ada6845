# Cross build for 64-bit Windows with Debian's MinGW-w64 (the main Windows
# target): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(TMFLASH_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
