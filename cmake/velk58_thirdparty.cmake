# The static third-party libraries of our plug-ins, built for this target by
# scripts/thirdparty (scripts/common.sh's velk58_build runs it and passes its
# folder). Each is an imported target velk58::NAME carrying its headers,
# definitions and the libraries it needs in turn.
set(VELK58_THIRDPARTY_DIR "" CACHE PATH "Install folder that scripts/thirdparty printed for this target")
if(NOT EXISTS "${VELK58_THIRDPARTY_DIR}/.complete")
    message(FATAL_ERROR "The plug-ins need the third-party libraries: run scripts/thirdparty "
        "${CMAKE_SYSTEM_PROCESSOR} and configure with -DVELK58_THIRDPARTY_DIR=<the folder it prints> "
        "(scripts/common.sh's velk58_build does both). Now: '${VELK58_THIRDPARTY_DIR}'")
endif()

# velk58_import(NAME FILE [DEFINES ...] [DEPENDS ...])
function(velk58_import name file)
    cmake_parse_arguments(I "" "" "DEFINES;DEPENDS" ${ARGN})
    if(NOT IS_ABSOLUTE ${file})
        set(file ${VELK58_THIRDPARTY_DIR}/lib/${file})
    endif()
    if(NOT EXISTS ${file})
        message(FATAL_ERROR "Third-party library missing: ${file} (rebuild with scripts/thirdparty)")
    endif()
    add_library(velk58::${name} STATIC IMPORTED GLOBAL)
    set_target_properties(velk58::${name} PROPERTIES
        IMPORTED_LOCATION ${file}
        INTERFACE_INCLUDE_DIRECTORIES ${VELK58_THIRDPARTY_DIR}/include
        INTERFACE_COMPILE_DEFINITIONS "${I_DEFINES}"
        INTERFACE_LINK_LIBRARIES "${I_DEPENDS}")
endfunction()

velk58_import(z /usr/${VELK58_TRIPLE}/lib/libz.a)
velk58_import(bz2 libbz2.a)
velk58_import(lzma liblzma.a DEFINES LZMA_API_STATIC)
velk58_import(zstd libzstd.a)
velk58_import(archive libarchive.a DEFINES LIBARCHIVE_STATIC
    DEPENDS velk58::z velk58::bz2 velk58::lzma velk58::zstd)
velk58_import(jpeg libjpeg.a)
velk58_import(turbojpeg libturbojpeg.a)
velk58_import(png libpng.a DEPENDS velk58::z)
if(EXISTS ${VELK58_THIRDPARTY_DIR}/lib/libsharpyuv.a)
    velk58_import(sharpyuv libsharpyuv.a)
    velk58_import(webp libwebp.a DEPENDS velk58::sharpyuv)
else()
    velk58_import(webp libwebp.a)
endif()
velk58_import(webpdemux libwebpdemux.a DEPENDS velk58::webp)
