# nlohmann/json (Debian: nlohmann-json3-dev) for the Windows build; see
# host_headers.cmake.
include(${CMAKE_CURRENT_LIST_DIR}/host_headers.cmake)
tmflash_host_headers(nlohmann_json::nlohmann_json nlohmann)
