# Installs the PDF helper's component into a fresh prefix and checks that,
# loaded from the installed lib/ folder, it finds the PDF library beside it.
# Arguments: BUILD_DIR, PREFIX, PROBE.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component folio
          --prefix "${PREFIX}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install of the folio component failed")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" -E env --unset=LD_LIBRARY_PATH
          "${PROBE}" "${PREFIX}/lib"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed libfolio did not load the PDF library beside it")
endif()
