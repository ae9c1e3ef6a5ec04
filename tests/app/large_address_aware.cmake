# Fails unless the executable's header says it handles addresses above 2 GB:
#   cmake -DOBJDUMP=<objdump> -DEXE=<YXYT.exe> -P large_address_aware.cmake
execute_process(COMMAND ${OBJDUMP} -p ${EXE} RESULT_VARIABLE result OUTPUT_VARIABLE header ERROR_VARIABLE header)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed: ${header}")
endif()
string(REGEX MATCH "Characteristics[^\n]*\n([^\n]*\n)*\n" characteristics "${header}")
if(NOT characteristics MATCHES "large address aware")
    message(FATAL_ERROR "${EXE} is not large-address-aware:\n${characteristics}")
endif()
