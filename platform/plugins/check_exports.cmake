# Fails unless LIBRARY exports exactly one function of its own: FUNCTION.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TtWw] [^\n]+" functions "${out}")
if(NOT functions MATCHES " T ${FUNCTION}$" OR NOT functions MATCHES "^[^;]+$")
  message(FATAL_ERROR "${LIBRARY} exports: ${functions}; want only ${FUNCTION}")
endif()
