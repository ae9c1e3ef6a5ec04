# The include check, run on small trees that break the floors one way
# each, and on the program's own tree:
#   cmake -DROOT=<source folder> -DWORK=<scratch folder> -P floors_test.cmake
cmake_minimum_required(VERSION 3.20)

set(failures "")

# check(NAME EXPECTED_RESULT EXPECTED_TEXT FILE:LINE...): writes the files
# into a tree of their own, runs the check on it, compares.
function(check name expected_result expected_text)
    set(tree ${WORK}/${name})
    file(REMOVE_RECURSE ${tree})
    foreach(entry IN LISTS ARGN)
        string(REGEX REPLACE ":.*" "" file "${entry}")
        string(REGEX REPLACE "^[^:]*:" "" line "${entry}")
        file(APPEND ${tree}/${file} "${line}\n")
    endforeach()
    execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${tree} -P ${ROOT}/cmake/floors.cmake
                    RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if((expected_result EQUAL 0 AND NOT result EQUAL 0) OR (NOT expected_result EQUAL 0 AND result EQUAL 0))
        set(failures "${failures}\n${name}: exit ${result}: ${out}" PARENT_SCOPE)
    elseif(NOT out MATCHES "${expected_text}")
        set(failures "${failures}\n${name}: no \"${expected_text}\" in: ${out}" PARENT_SCOPE)
    endif()
endfunction()

check(upward 1 "core/engine.h: includes app/startup.h, which is not below core/"
      "app/startup.h:#pragma once"
      "core/engine.h:#include \"app/startup.h\"")
check(sideways 1 "music/music.cpp: includes drumpad/kits.h, which is not below music/"
      "drumpad/kits.h:#pragma once"
      "music/music.cpp:#include \"drumpad/kits.h\"")
check(bottom_reaches_up 1 "ui/window.h: includes core/program.h, which is not below ui/"
      "core/program.h:#include \"ui/window.h\""
      "ui/window.h:#include \"core/program.h\"")
check(outside_the_program 1 "drumpad/kits.h: includes tests/support/files.h, which is no folder of the program"
      "drumpad/kits.h:#include \"tests/support/files.h\"")
check(cycle 1 "drumpad/hits.h: part of an include cycle"
      "drumpad/hits.h:#include \"drumpad/kits.h\""
      "drumpad/kits.h:#include \"hits.h\"")
check(downward_only 0 "Floors kept: 3 headers"
      "ui/window.h:#include <windows.h>"
      "core/program.h:#include \"ui/window.h\""
      "drumpad/kits.h:#include \"core/program.h\""
      "app/startup.cpp:#include \"drumpad/kits.h\""
      "app/startup.cpp:#include \"ui/window.h\"")

# A tree with nothing to check is a wrong root, not a kept one.
check(empty 1 "no header of the program's folders")

# A root given relative to the current folder, as typed by hand.
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=. -P ${ROOT}/cmake/floors.cmake WORKING_DIRECTORY ${WORK}/downward_only
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0 OR NOT out MATCHES "Floors kept: 3 headers")
    set(failures "${failures}\nrelative root: exit ${result}: ${out}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${ROOT} -P ${ROOT}/cmake/floors.cmake
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT result EQUAL 0)
    set(failures "${failures}\nthe program's own tree: ${out}")
endif()

if(failures)
    message(FATAL_ERROR "Include check:${failures}")
endif()
