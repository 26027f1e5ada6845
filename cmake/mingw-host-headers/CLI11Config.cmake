# CLI11 (Debian: libcli11-dev) for the Windows build; see host_headers.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/host_headers.cmake)
tmflash_host_headers(CLI11::CLI11 CLI)
