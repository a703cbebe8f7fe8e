# Test code is compiled at -O1 whatever the build type: the unit tests'
# own sources, GoogleTest and the JNI test double. They check behaviour, not
# code generation, and at the build type's -O3 they took most of the build's
# time (one GoogleTest file under the sanitizers: 38 s at -O3, 17 s at -O1).
# The product's sources keep the build type's flags, also where a test
# executable compiles them itself. Included after the test targets exist.
set(TEST_CODE_OPTIONS -O1)
function(compile_as_test_code)
  cmake_parse_arguments(ARG "" "" "SOURCES;TARGETS" ${ARGN})
  if(ARG_SOURCES)
    set_source_files_properties(${ARG_SOURCES} DIRECTORY ${CMAKE_SOURCE_DIR}
                                PROPERTIES COMPILE_OPTIONS "${TEST_CODE_OPTIONS}")
  endif()
  foreach(target IN LISTS ARG_TARGETS)
    target_compile_options(${target} PRIVATE ${TEST_CODE_OPTIONS})
  endforeach()
endfunction()
