# Fails unless the library's defined dynamic symbols are exactly the entry
# points listed in EXPECTED (comma-separated). Run as: cmake -DLIB=... -DNM=...
# -DEXPECTED=... -P check_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIB}
                OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REPLACE "\n" ";" lines "${out}")
set(found "")
foreach(line ${lines})
  string(REGEX MATCH "^[^ ]+" name "${line}")
  # Linker-made markers of the version script are not symbols of ours.
  if(name AND NOT name MATCHES "^(_init|_fini|_edata|_end|__bss_start)$")
    list(APPEND found ${name})
  endif()
endforeach()
string(REPLACE "," ";" expected "${EXPECTED}")
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n found:    ${found}\n expected: ${expected}")
endif()
