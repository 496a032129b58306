# Shared build helpers: sanitizer flags, and one way to declare tests, fuzz
# targets and benchmarks so that each build flavour picks the ones it runs.

if(VELMO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(VELMO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT VELMO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELMO_SANITIZE must be empty, 'address' or 'thread'")
endif()

if(VELMO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELMO_FUZZ needs clang (CC=clang CXX=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  set(VELMO_TESTS OFF)
  set(VELMO_BENCHMARKS OFF)
endif()

if(VELMO_TESTS)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(VELMO_BENCHMARKS)
  find_package(benchmark REQUIRED)
endif()

# velmo_add_gtest(name SOURCES ... [LIBS ...] [LABELS ...])
# Labels pick the test into sanitizer runs: "asan" (ASan+UBSan build), "tsan".
function(velmo_add_gtest name)
  if(NOT VELMO_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  # Discovery flattens list-valued properties ("unit;tsan" would become the
  # label "unit" and a stray "tsan"), so the labels are set by a CTest script
  # of our own that runs after discovery, over the tests it found.
  gtest_discover_tests(${name} TEST_LIST ${name}_TESTS DISCOVERY_TIMEOUT 60)
  set(label_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${label_script}
    "if(${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"unit;${T_LABELS}\")\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_script})
endfunction()

# velmo_add_fuzzer(name SOURCES ... [LIBS ...] [CORPUS dir])
# In fuzz builds the target becomes a CTest test running for VELMO_FUZZ_SECONDS.
function(velmo_add_fuzzer name)
  if(NOT VELMO_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}.corpus)
  set(args -max_total_time=${VELMO_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=1 ${work})
  if(F_CORPUS)
    list(APPEND args ${F_CORPUS})
  endif()
  add_test(NAME fuzz.${name}
           COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
                   sh -c "mkdir -p '${work}' && exec \"$0\" \"$@\"" $<TARGET_FILE:${name}> ${args})
  set_tests_properties(fuzz.${name} PROPERTIES LABELS fuzz TIMEOUT 600)
endfunction()

# velmo_add_benchmark(name SOURCES ... [LIBS ...]): built, never run by the test command.
function(velmo_add_benchmark name)
  if(NOT VELMO_BENCHMARKS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark benchmark::benchmark_main)
endfunction()
