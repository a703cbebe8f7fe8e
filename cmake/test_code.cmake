# Test code is compiled at -O0 whatever the build type: the unit tests'
# own sources, GoogleTest and the JNI test double. They check behaviour, not
# code generation, and optimising them took most of the build's time (the
# sanitized core tests' own sources: 215 s of compiler time at -O1, 120 s at
# -O0, 94 s with the precompiled header below; they run in 3 s either way).
# The product's sources keep the build type's flags, also where a test
# executable compiles them itself. Included after the test targets exist.
set(TEST_CODE_OPTIONS -O0)
function(compile_as_test_code)
  cmake_parse_arguments(ARG "" "" "TARGETS" ${ARGN})
  foreach(target IN LISTS ARG_TARGETS)
    target_compile_options(${target} PRIVATE ${TEST_CODE_OPTIONS})
  endforeach()
endfunction()

# GoogleTest's header and the standard headers every test includes, compiled
# once per test target instead of once per test source.
function(precompile_test_headers target)
  target_precompile_headers(${target} PRIVATE <gtest/gtest.h> <string> <vector> <cstdint> <cstring>)
endfunction()

# The test sources of one target compiled eight to a translation unit (a
# unity build): each test source is small, and most of its compiler time went
# to the headers and the precompiled header every unit loads (the 64-bit
# tree's test code: 111 s of compiler time one source to a unit, 79 s eight
# to a unit).  Names a test source keeps to itself (an anonymous namespace)
# must therefore differ from those of the other sources of its target.
function(compile_test_sources_together target)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
endfunction()
