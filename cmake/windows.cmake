# The Windows build: MinGW-w64 from Debian's packages (toolchain files
# cmake/mingw-x86_64.cmake and cmake/mingw-i686.cmake), tests run under Wine.
# Included by CMakeLists.txt when the target is Windows.

# Single-file programs: the C and C++ runtimes and winpthreads are linked in,
# so tmflash.exe, tmpack.exe, tmscript.exe and tmflash_simvisa.dll need no DLL
# of ours or of the compiler's.
add_link_options(-static)
# A VISA DLL exports its functions under their plain names; without this a
# 32-bit __stdcall export would be named viOpen@20.
string(APPEND CMAKE_SHARED_LINKER_FLAGS " -Wl,--kill-at")
# tmflash_simvisa.dll, not libtmflash_simvisa.dll.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
# Release builds at -O2 like the default build. No debug information: the
# release is stripped anyway, and it doubles the time the tests take to
# compile.
string(REPLACE "-O3" "-O2" CMAKE_CXX_FLAGS_RELEASE "${CMAKE_CXX_FLAGS_RELEASE}")
# Windows 7 and later; windows.h without min/max macros.
add_compile_definitions(_WIN32_WINNT=0x0601 NOMINMAX)

# The built-in USBTMC driver (--visa=usb) is built for Linux only for now;
# pkg-config would find the build machine's libusb, not a Windows one.
set(TMFLASH_USBTMC OFF CACHE STRING "Build the USBTMC driver over libusb-1.0: AUTO, ON or OFF")

# GoogleTest built from its sources with this toolchain (Debian's googletest
# package ships them).
set(TMFLASH_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
    "GoogleTest sources, built with the Windows toolchain for the tests")
if(TMFLASH_TESTS AND NOT TARGET GTest::gtest)
  if(NOT EXISTS ${TMFLASH_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources at ${TMFLASH_GOOGLETEST_SOURCE} (Debian: apt-get install googletest), "
                        "or configure with -DTMFLASH_TESTS=OFF")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  add_subdirectory(${TMFLASH_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
endif()

# The simulator library of the other Windows target (32-bit for a 64-bit
# build and the other way round): the loader's test of a DLL of the wrong
# bitness loads it. `make windows` and the CI build both targets and point
# each at the other's; without it that test is skipped, and says so.
set(TMFLASH_OTHER_BITNESS_SIM "" CACHE FILEPATH
    "tmflash_simvisa.dll of the other Windows target, for the wrong-bitness test")

# Tests that only make sense on POSIX, left out of the Windows suite by
# design (never because they fail):
set(TMFLASH_POSIX_ONLY_TESTS
  # ANSI colour codes on a pseudo-terminal made by script(1): the POSIX
  # console. The Windows console's attribute calls are tested through their
  # seam in tests/platform/windows_platform_test.cc.
  Binary.ColoursOnATerminalOnly
)

# Under Wine each process start costs a fraction of a second, so the suite
# runs as a few processes, one per shard of the test binary, rather than one
# per test; CTest runs the shards side by side.
set(TMFLASH_WINE_SHARDS 4 CACHE STRING "Processes the Windows test suite is split into")

# Registers the test binary target with CTest, shard by shard.
function(tmflash_add_windows_tests target)
  if(TMFLASH_OTHER_BITNESS_SIM)
    target_compile_definitions(${target} PRIVATE TMFLASH_OTHER_BITNESS_SIM="${TMFLASH_OTHER_BITNESS_SIM}")
  endif()
  list(JOIN TMFLASH_POSIX_ONLY_TESTS ":" excluded)
  math(EXPR last "${TMFLASH_WINE_SHARDS} - 1")
  foreach(shard RANGE ${last})
    add_test(NAME ${target}_shard${shard} COMMAND ${target} --gtest_filter=-${excluded})
    set_tests_properties(${target}_shard${shard} PROPERTIES
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${TMFLASH_WINE_SHARDS};GTEST_SHARD_INDEX=${shard}"
      TIMEOUT 900)
  endforeach()
endfunction()

# The release to copy to a Windows PC: the three programs and the simulator
# library (stripped), the README, the examples with the demo's script and
# package built. `cmake --build DIR --target dist-windows` (make dist-windows)
# writes tmflash-VERSION-win64.zip or -win32.zip into the build directory.
function(tmflash_add_windows_dist)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(name tmflash-${PROJECT_VERSION}-win64)
  else()
    set(name tmflash-${PROJECT_VERSION}-win32)
  endif()
  set(staging ${CMAKE_BINARY_DIR}/dist)
  set(dir ${staging}/${name})
  add_custom_target(dist-windows
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${staging} ${CMAKE_BINARY_DIR}/${name}.zip
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tmflash> $<TARGET_FILE:tmpack> $<TARGET_FILE:tmscript>
            $<TARGET_FILE:tmflash_simvisa> ${CMAKE_SOURCE_DIR}/README.md ${dir}
    COMMAND ${CMAKE_STRIP} ${dir}/tmflash.exe ${dir}/tmpack.exe ${dir}/tmscript.exe ${dir}/tmflash_simvisa.dll
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${CMAKE_SOURCE_DIR}/examples ${dir}/examples
    COMMAND ${CMAKE_COMMAND} -E copy ${DEMO_DIR}/firmware.txt ${DEMO_DIR}/firmware.pkg ${dir}/examples/demo
    COMMAND ${CMAKE_COMMAND} -E chdir ${staging} ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/${name}.zip --format=zip ${name}
    COMMENT "Packing ${name}.zip"
    VERBATIM)
  add_dependencies(dist-windows tmflash tmpack tmscript tmflash_simvisa demo_files)
endfunction()
# After CMakeLists.txt has made the targets it packs.
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL tmflash_add_windows_dist)
