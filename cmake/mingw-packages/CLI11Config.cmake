# CLI11 (Debian's libcli11-dev) for the MinGW build.
include(${CMAKE_CURRENT_LIST_DIR}/host-headers.cmake)
ks_host_header_library(CLI11::CLI11 CLI)
