# Makes one header-only library of the build machine usable by the MinGW build:
# an imported target whose include folder holds only that library's headers,
# never the build machine's system headers.
function(ks_host_header_library target folder)
    if(TARGET ${target})
        return()
    endif()
    set(staged ${CMAKE_BINARY_DIR}/host-headers/${folder})
    file(MAKE_DIRECTORY ${staged})
    if(NOT EXISTS ${staged}/${folder})
        file(CREATE_LINK /usr/include/${folder} ${staged}/${folder} SYMBOLIC)
    endif()
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${staged})
endfunction()
