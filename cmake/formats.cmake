# The libraries of the audio and kit file formats, and the one place that
# knows where they come from. The code links these targets:
#   yxyt_flac     libFLAC
#   yxyt_vorbis   stb_vorbis, a single header: the one source that compiles
#                 it includes YXYT_STB_VORBIS, the header's own path
#   yxyt_pugixml  pugixml
#   yxyt_zlib     zlib
# The build machine's own build takes Debian's -dev packages. The Windows
# cross build takes static MinGW builds of Debian's flac and pugixml source
# packages, which tools/formats.sh makes (tools/setup.sh runs it), and
# Debian's MinGW zlib; it never searches the build machine's /usr/include.

include_guard(GLOBAL)

# stb_vorbis by its full path, so no folder of host headers joins the
# include path of a cross build.
find_path(YXYT_STB_DIR stb_vorbis.h PATH_SUFFIXES stb NO_CMAKE_FIND_ROOT_PATH)
if(NOT YXYT_STB_DIR)
    message(FATAL_ERROR "stb_vorbis.h not found: run tools/setup.sh as root (Debian's libstb-dev)")
endif()
add_library(yxyt_vorbis INTERFACE)
# Memory only: the decoder hands it the file's bytes.
target_compile_definitions(yxyt_vorbis INTERFACE "YXYT_STB_VORBIS=\"${YXYT_STB_DIR}/stb_vorbis.h\""
                                                 STB_VORBIS_NO_STDIO STB_VORBIS_NO_PUSHDATA_API)

add_library(yxyt_flac INTERFACE)
add_library(yxyt_pugixml INTERFACE)
add_library(yxyt_zlib INTERFACE)

if(CMAKE_CROSSCOMPILING)
    # yxyt_static_format(target library archive): links `archive` of the
    # MinGW build of `library` that tools/formats.sh keeps.
    function(yxyt_static_format target library archive)
        execute_process(COMMAND sh ${PROJECT_SOURCE_DIR}/tools/formats.sh --prefix ${library}
                        OUTPUT_VARIABLE prefix ERROR_VARIABLE why RESULT_VARIABLE failed
                        OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(failed)
            message(FATAL_ERROR "${why}")
        endif()
        target_include_directories(${target} SYSTEM INTERFACE ${prefix}/include)
        target_link_libraries(${target} INTERFACE ${prefix}/lib/${archive})
    endfunction()
    yxyt_static_format(yxyt_flac flac libFLAC.a)
    # Its headers would otherwise ask for a DLL's imports. It is built with
    # the stack protector, whose checks live in libssp.
    target_compile_definitions(yxyt_flac INTERFACE FLAC__NO_DLL)
    target_link_libraries(yxyt_flac INTERFACE ssp)
    yxyt_static_format(yxyt_pugixml pugixml libpugixml.a)

    # The static archive, not the import library of zlib1.dll beside it.
    find_library(YXYT_ZLIB_ARCHIVE NAMES libz.a)
    find_path(YXYT_ZLIB_INCLUDE zlib.h)
    if(NOT YXYT_ZLIB_ARCHIVE OR NOT YXYT_ZLIB_INCLUDE)
        message(FATAL_ERROR "MinGW zlib not found: run tools/setup.sh as root (Debian's libz-mingw-w64-dev)")
    endif()
    target_include_directories(yxyt_zlib SYSTEM INTERFACE ${YXYT_ZLIB_INCLUDE})
    target_link_libraries(yxyt_zlib INTERFACE ${YXYT_ZLIB_ARCHIVE})
else()
    find_package(PkgConfig REQUIRED)
    pkg_check_modules(YXYT_FLAC REQUIRED IMPORTED_TARGET flac)
    pkg_check_modules(YXYT_PUGIXML REQUIRED IMPORTED_TARGET pugixml)
    find_package(ZLIB REQUIRED)
    target_link_libraries(yxyt_flac INTERFACE PkgConfig::YXYT_FLAC)
    target_link_libraries(yxyt_pugixml INTERFACE PkgConfig::YXYT_PUGIXML)
    target_link_libraries(yxyt_zlib INTERFACE ZLIB::ZLIB)
endif()
