# nlohmann/json (Debian's nlohmann-json3-dev) for the MinGW build.
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
ks_host_header_library(nlohmann_json::nlohmann_json nlohmann)
