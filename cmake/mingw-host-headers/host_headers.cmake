# Header-only libraries of the build machine for the Windows build: the
# package configurations in this folder (found through CLI11_DIR and
# nlohmann_json_DIR, which the MinGW toolchain files set) make the imported
# target from the headers Debian installs under /usr/include. The compiler
# sees only those headers: a folder of the build tree links to them, so that
# nothing else of /usr/include (the build machine's C library, above all)
# gets in front of MinGW's own.

# Makes the INTERFACE target `target` whose include folder holds links to
# the named entries of /usr/include.
function(tmflash_host_headers target)
  if(TARGET ${target})
    return()
  endif()
  string(MAKE_C_IDENTIFIER ${target} folder)
  set(dir ${CMAKE_BINARY_DIR}/host-headers/${folder})
  file(MAKE_DIRECTORY ${dir})
  foreach(entry ${ARGN})
    if(NOT EXISTS /usr/include/${entry})
      message(FATAL_ERROR "${target} for the Windows build: /usr/include/${entry} is not installed")
    endif()
    file(CREATE_LINK /usr/include/${entry} ${dir}/${entry} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${dir})
endfunction()

# A version file's answer: the installed version against the one asked for.
macro(tmflash_host_headers_version version)
  set(PACKAGE_VERSION ${version})
  if(PACKAGE_FIND_VERSION AND PACKAGE_FIND_VERSION VERSION_GREATER PACKAGE_VERSION)
    set(PACKAGE_VERSION_COMPATIBLE FALSE)
  else()
    set(PACKAGE_VERSION_COMPATIBLE TRUE)
    if(PACKAGE_FIND_VERSION VERSION_EQUAL PACKAGE_VERSION)
      set(PACKAGE_VERSION_EXACT TRUE)
    endif()
  endif()
endmacro()
