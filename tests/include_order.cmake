# Checks that every #include "..." in src/ and tools/ goes down the layers
# that the README's "Layout" section names, so that section stays true.
#
#   cmake -DROOT=<checkout> -P tests/include_order.cmake
#
# The order is read from the README: in the section "## Layout", every line
# that begins with a folder in backticks (`src/link/`, `tools/`) names one
# layer, from the top down. A file may include headers of its own layer and
# of the layers below it. Includes without a folder name generated files and
# must be listed in GENERATED. Any other include, or a file in a folder the
# README does not name, is reported as a fault, one line each, and the check
# fails.

cmake_minimum_required(VERSION 3.20)

set(GENERATED config.h)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<checkout> -P include_order.cmake")
endif()
get_filename_component(ROOT "${ROOT}" ABSOLUTE)

# The lines of a file as a list. CMake lists split at ';' and keep a '[' ...
# ']' run together, so both are replaced first: every element is one line.
function(read_lines path out)
  file(READ ${path} text)
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<open>" text "${text}")
  string(REPLACE "]" "<close>" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The layers, top first.
read_lines(${ROOT}/README.md readme)
set(in_layout FALSE)
set(layers "")
foreach(line IN LISTS readme)
  if(line MATCHES "^## ")
    if(line STREQUAL "## Layout")
      set(in_layout TRUE)
    else()
      set(in_layout FALSE)
    endif()
  elseif(in_layout AND line MATCHES "^`(src/[a-z_]+|tools)/`")
    string(REGEX REPLACE "^src/" "" layer "${CMAKE_MATCH_1}")
    list(APPEND layers ${layer})
  endif()
endforeach()
list(LENGTH layers layer_count)
if(layer_count LESS 2)
  message(FATAL_ERROR "README.md: no \"## Layout\" section naming the layers")
endif()
message(STATUS "layers, top first: ${layers}")

# The layer of a path below src/ (its first folder) or in tools/; "" for none.
function(layer_of path out)
  if(path MATCHES "^src/([a-z_]+)/")
    set(${out} ${CMAKE_MATCH_1} PARENT_SCOPE)
  elseif(path MATCHES "^tools/")
    set(${out} tools PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

file(GLOB_RECURSE sources RELATIVE ${ROOT} ${ROOT}/src/*.cc ${ROOT}/src/*.h ${ROOT}/tools/*.cc ${ROOT}/tools/*.h)
list(SORT sources)
set(faults 0)
set(includes_checked 0)
foreach(source IN LISTS sources)
  layer_of(${source} own)
  list(FIND layers "${own}" own_rank)
  if(own_rank LESS 0)
    message("${source}: its folder is not a layer of the README's Layout")
    math(EXPR faults "${faults} + 1")
    continue()
  endif()
  read_lines(${ROOT}/${source} lines)
  set(line_no 0)
  foreach(line IN LISTS lines)
    math(EXPR line_no "${line_no} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(target ${CMAKE_MATCH_1})
    math(EXPR includes_checked "${includes_checked} + 1")
    if(NOT target MATCHES "/")
      if(NOT target IN_LIST GENERATED)
        message("${source}:${line_no}: includes \"${target}\", which names no folder")
        math(EXPR faults "${faults} + 1")
      endif()
      continue()
    endif()
    string(REGEX MATCH "^[^/]+" target_layer "${target}")
    list(FIND layers "${target_layer}" target_rank)
    if(target_rank LESS 0)
      message("${source}:${line_no}: includes \"${target}\", which is in no layer")
      math(EXPR faults "${faults} + 1")
    elseif(target_rank LESS own_rank)
      message("${source}:${line_no}: includes \"${target}\": ${target_layer}/ is above ${own}/")
      math(EXPR faults "${faults} + 1")
    endif()
  endforeach()
endforeach()

if(faults GREATER 0)
  message(FATAL_ERROR "${faults} include(s) against the layer order")
endif()
message(STATUS "${includes_checked} includes go down the layers")
