# What both MinGW-w64 toolchain files share. The compilers of the "posix"
# thread model are used because the code uses std::this_thread and
# std::chrono; the programs link their runtime statically (cmake/windows.cmake),
# so that thread model costs no DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TMFLASH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TMFLASH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TMFLASH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TMFLASH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CTest, and the build steps that run our own tools, start the Windows
# programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
