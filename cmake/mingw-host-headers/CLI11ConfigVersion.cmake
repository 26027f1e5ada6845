include(${CMAKE_CURRENT_LIST_DIR}/host_headers.cmake)
file(STRINGS /usr/include/CLI/Version.hpp line REGEX "#define CLI11_VERSION \"")
string(REGEX REPLACE ".*\"([0-9.]+)\".*" "\\1" version "${line}")
tmflash_host_headers_version("${version}")
