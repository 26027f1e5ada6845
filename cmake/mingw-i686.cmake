# Cross build for 32-bit Windows with Debian's MinGW-w64, for the 32-bit VISA
# libraries (visa32.dll) still found on many test PCs; there every VISA
# function pointer is __stdcall: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(TMFLASH_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR X86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
