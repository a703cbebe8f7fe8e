# Host (Linux) build: the packer, and the portable core's unit tests under
# AddressSanitizer and UndefinedBehaviorSanitizer.
find_package(ZLIB REQUIRED)

add_subdirectory(tools/packer)

set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(SANITIZE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
include(${CMAKE_SOURCE_DIR}/cmake/test_code.cmake)
# The tests' own sources as test code with one precompiled GoogleTest header;
# the product's sources keep the build type's flags.
add_library(core_test_code OBJECT ${CORE_TEST_SOURCES})
target_include_directories(core_test_code PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(core_test_code PRIVATE ${SANITIZE} -g)
target_link_libraries(core_test_code PRIVATE gtest)
precompile_test_headers(core_test_code)
compile_test_sources_together(core_test_code)
# The product's portable sources are built here only to be checked under the
# sanitizers, at their usual -O1; the Windows trees build and test them with
# the build type's flags.
add_executable(core_tests ${CORE_SOURCES} $<TARGET_OBJECTS:core_test_code>)
target_include_directories(core_tests PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(core_tests PRIVATE ${SANITIZE} -g -O1)
target_link_options(core_tests PRIVATE ${SANITIZE})
target_link_libraries(core_tests PRIVATE gtest gtest_main ZLIB::ZLIB)
add_test(NAME core_tests_sanitized COMMAND core_tests)
compile_as_test_code(TARGETS core_test_code gtest gtest_main)

# The product's folders include each other in one direction only.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME layer_order COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/check_layers.py ${CMAKE_SOURCE_DIR})
