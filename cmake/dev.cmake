# Initial cache of the development and test builds (cmake -C cmake/dev.cmake):
# the Windows cross build, the local update server that tools/run.sh and the
# tests serve, and YXYT_SERVER honoured so a test can point a copy at its own.
set(CMAKE_TOOLCHAIN_FILE ${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake CACHE FILEPATH "")
set(CMAKE_BUILD_TYPE Release CACHE STRING "")
set(YXYT_SERVER_BASE "http://127.0.0.1:8960" CACHE STRING "" FORCE)
set(YXYT_HOME_PAGE "http://127.0.0.1:8960/" CACHE STRING "" FORCE)
set(YXYT_SERVER_FROM_ENV ON CACHE BOOL "" FORCE)
