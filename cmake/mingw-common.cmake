# What both MinGW-w64 toolchain files share. The compilers of the "posix"
# thread model are used because the code uses std::this_thread and
# std::chrono; with the runtime linked statically that costs no DLL.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TMFLASH_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TMFLASH_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TMFLASH_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TMFLASH_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks at the target's libraries only, never the build
# machine's (so libusb-1.0, and with it --visa=usb, is left out unless a
# Windows libusb is installed there).
set(ENV{PKG_CONFIG_LIBDIR} /usr/${TMFLASH_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# GCC 12 at -O2 and above reports overlapping copies inside libstdc++'s own
# std::string code that cannot happen (GCC bug 105329); with TMFLASH_WERROR
# they would stop the build.
set(CMAKE_CXX_FLAGS_INIT -Wno-restrict)

# The header-only libraries come from the build machine's packages, and
# only their headers (cmake/mingw-host-headers/host_headers.cmake).
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-host-headers CACHE PATH "CLI11 for the Windows build")
set(nlohmann_json_DIR ${CMAKE_CURRENT_LIST_DIR}/mingw-host-headers CACHE PATH "nlohmann/json for the Windows build")

# Single-file programs: the C and C++ runtimes and winpthreads are linked
# in, so tmflash.exe, tmpack.exe, tmscript.exe and the DLLs need no DLL of
# ours or of the compiler's.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)

# CTest, and the build steps that run our own tools, start the Windows
# programs through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
