# cmake -D COMMAND=<program and arguments> -D STATUS=<exit status> -D MATCH=<regex>
#       -P ExpectEnd.cmake
# Passes when the command ends with the status and its output matches MATCH: a check that a
# fault made on purpose turns a run red for the right reason.
execute_process(COMMAND ${COMMAND} RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status STREQUAL STATUS)
    message(FATAL_ERROR "ended with ${status}, not ${STATUS}:\n${output}")
endif()
if(NOT output MATCHES "${MATCH}")
    message(FATAL_ERROR "the output does not say \"${MATCH}\":\n${output}")
endif()
