# Susie plug-ins: DLLs whose __stdcall exports carry their plain names (the
# .def file; on i686 the stdcall fix-up maps each name to its decorated
# symbol), with no "lib" prefix, named ".spi" for the 32-bit program and
# ".sph" for the 64-bit one. By default they land beside velk58.exe, where
# the program looks for them.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VELK58_SPI_SUFFIX .sph)
else()
    set(VELK58_SPI_SUFFIX .spi)
endif()

# velk58_plugin(target SOURCES ... DEF file.def [OUTPUT_DIR dir] [LIBS ...])
function(velk58_plugin target)
    cmake_parse_arguments(P "" "DEF;OUTPUT_DIR" "SOURCES;LIBS" ${ARGN})
    if(NOT P_OUTPUT_DIR)
        set(P_OUTPUT_DIR ${CMAKE_BINARY_DIR}/app)
    endif()
    add_library(${target} SHARED ${P_SOURCES} ${P_DEF})
    set_target_properties(${target} PROPERTIES
        PREFIX "" SUFFIX ${VELK58_SPI_SUFFIX}
        RUNTIME_OUTPUT_DIRECTORY ${P_OUTPUT_DIR})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
    target_link_libraries(${target} PRIVATE ${P_LIBS})
endfunction()
