# The format libraries the kit readers use, as two targets and nothing else:
#   yxyt_pugixml  XML (Hydrogen's drumkit.xml)
#   yxyt_zlib     gzip (packed Hydrogen kits)
# Native build only, from Debian's libpugixml-dev and zlib1g-dev; no other
# file knows where they come from.
if(WIN32)
    return()
endif()

find_package(pugixml CONFIG REQUIRED)
find_package(ZLIB REQUIRED)

add_library(yxyt_pugixml INTERFACE)
target_link_libraries(yxyt_pugixml INTERFACE pugixml::pugixml)
add_library(yxyt_zlib INTERFACE)
target_link_libraries(yxyt_zlib INTERFACE ZLIB::ZLIB)
