# Windows build (i686 or x86_64): the launcher stub, its unit tests run under
# Wine, and the test helper programs.
enable_language(RC)

# Only the libraries named here are linked (CMake would add winspool and others).
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)

# Everything is linked statically: the stub may need no MinGW runtime DLL.
set(STATIC_LINK -static -static-libgcc -static-libstdc++)

# Reproducible images: two builds of one commit give the same bytes, wherever
# the trees lie and whenever they are built (scripts/reproducible.sh checks
# it).  The linker writes no time stamp into the file header or the export
# directory, and a source or build path that reaches an object (__FILE__,
# debug information) is written relative to its tree.  The build tree comes
# last: it may lie inside the source tree, and the last matching map wins.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")
add_link_options(-Wl,--no-insert-timestamp)

# The Windows layer: thin wrappers that call Windows around the portable core.
set(WIN_SOURCES
  launcher/config_win.cpp
  launcher/console_win.cpp
  launcher/errors_win.cpp
  launcher/exe_path_win.cpp
  launcher/launcher_state.cpp
  launcher/privilege_win.cpp
  launcher/registry_win.cpp
  launcher/system_calls_win.cpp
  startup/main_flow_win.cpp
  startup/startup_steps_win.cpp
  launcher/temp_dir_win.cpp
  frontend/startup_markers_win.cpp
  frontend/progress_dialog_win.cpp
  frontend/startup_watcher_win.cpp
  frontend/carried_jre_win.cpp
  frontend/jre_dialogs_win.cpp
  frontend/single_instance_win.cpp
  frontend/deletion_helper_win.cpp
  frontend/jre_download_win.cpp
  launcher/expand_win.cpp
  launcher/locale_win.cpp
  jvm/vm_options_win.cpp
  jvm/java_probe_win.cpp
  jvm/jvm_registry_win.cpp
  jvm/jvm_dll_win.cpp
  jvm/jvm_search_win.cpp
  jvm/java_vm_launcher_win.cpp
  jvm/pack200_win.cpp
  natives/jni_helpers.cpp
)

# JNI: the host JDK's jni.h with the project's own Windows jni_md.h.
find_path(JNI_HEADER_DIR jni.h
  HINTS $ENV{JAVA_HOME}/include /usr/lib/jvm/default-java/include /usr/lib/jvm/java-17-openjdk-amd64/include
  NO_CMAKE_FIND_ROOT_PATH REQUIRED)

add_library(launcher_core STATIC ${CORE_SOURCES})
target_include_directories(launcher_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(launcher_core PUBLIC z)
target_compile_definitions(launcher_core PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                 _WIN32_WINNT=0x0601)

# What the build derives from the one list of natives for this target: the
# natives' package and prototypes and the registration table (headers under
# generated/natives/), and the module-definition file that exports the natives
# under their exact names.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(NATIVES_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(EXPORTS_DEF ${CMAKE_BINARY_DIR}/launcher_exports.def)
set(NATIVES_GENERATED
  ${NATIVES_GENERATED_DIR}/natives/native_package.h
  ${NATIVES_GENERATED_DIR}/natives/native_prototypes.h
  ${NATIVES_GENERATED_DIR}/natives/native_table_entries.inc
  ${EXPORTS_DEF})
add_custom_command(OUTPUT ${NATIVES_GENERATED}
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/natives/native_list.py
          ${CMAKE_SOURCE_DIR}/natives/native_methods.inc ${NATIVES_GENERATED_DIR} ${EXPORTS_DEF}
          ${CMAKE_SYSTEM_PROCESSOR}
  DEPENDS ${CMAKE_SOURCE_DIR}/natives/native_list.py ${CMAKE_SOURCE_DIR}/natives/native_methods.inc
  COMMENT "Generating the natives' prototypes, registration table and export list")
add_custom_target(native_tables DEPENDS ${NATIVES_GENERATED})

add_library(launcher_win STATIC ${WIN_SOURCES})
target_link_libraries(launcher_win PUBLIC launcher_core)
target_include_directories(launcher_win PUBLIC ${CMAKE_SOURCE_DIR}/jvm/jni ${JNI_HEADER_DIR} ${NATIVES_GENERATED_DIR})
add_dependencies(launcher_win native_tables)

# Statically imported DLLs are KnownDLLs only; everything else is loaded at run
# time after the DLL search has been restricted.
set(KNOWN_DLL_IMPORTS user32 gdi32 advapi32 shell32 ole32 oleaut32 comdlg32 kernel32)

# The natives the Java side calls, exported by the executable under their exact
# names through the generated module-definition file.
set(NATIVE_SOURCES
  natives/native_bridge_win.cpp
  natives/native_table.cpp
  natives/registration_win.cpp
  natives/choosers_natives_win.cpp
  natives/communication_natives_win.cpp
  natives/pipe_channel_win.cpp
  natives/files_natives_win.cpp
  natives/processes_natives_win.cpp
  natives/windows_natives_win.cpp
  natives/handles_natives_win.cpp
  natives/registry_natives_win.cpp
  natives/services_natives_win.cpp
  natives/shell_natives_win.cpp
  natives/users_natives_win.cpp
  natives/account_win.cpp
  natives/acl_natives_win.cpp
)
add_library(launcher_natives OBJECT ${NATIVE_SOURCES})
target_link_libraries(launcher_natives PUBLIC launcher_win)
add_dependencies(launcher_natives native_tables)

add_executable(launcher WIN32 startup/entry_win.cpp launcher/log_win.cpp resources/launcher.rc
               $<TARGET_OBJECTS:launcher_natives>)
add_dependencies(launcher native_tables)
target_link_options(launcher PRIVATE ${EXPORTS_DEF})
set_target_properties(launcher PROPERTIES LINK_DEPENDS ${EXPORTS_DEF})
# Natives exported without being registered (ShellLink.create0), under the
# names of this target; ld adds a second module-definition file to the first.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(UNREGISTERED_EXPORTS_DEF ${CMAKE_SOURCE_DIR}/natives/unregistered_exports_i686.def)
else()
  set(UNREGISTERED_EXPORTS_DEF ${CMAKE_SOURCE_DIR}/natives/unregistered_exports_x86_64.def)
endif()
target_link_options(launcher PRIVATE ${UNREGISTERED_EXPORTS_DEF})
set_property(TARGET launcher APPEND PROPERTY LINK_DEPENDS ${UNREGISTERED_EXPORTS_DEF})
target_link_libraries(launcher PRIVATE launcher_win z ${KNOWN_DLL_IMPORTS})
target_link_options(launcher PRIVATE ${STATIC_LINK} -s)
set_target_properties(launcher PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set_source_files_properties(resources/launcher.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/launcher.manifest;${CMAKE_SOURCE_DIR}/resources/launcher.ico")

# Unit tests, cross-compiled and run under Wine through CTest.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

include(${CMAKE_SOURCE_DIR}/cmake/test_code.cmake)

# The natives as the tests link them: the objects the stub is linked from, in
# a library, so each test takes the natives it calls without compiling them
# again.
add_library(natives_for_tests STATIC $<TARGET_OBJECTS:launcher_natives>)
target_link_libraries(natives_for_tests PUBLIC launcher_win)

# add_wine_test(NAME SOURCES ... [LIBRARIES ...] [DEPENDS ...] [DISPLAY])
# A unit test program run under Wine by CTest. Its sources are test code
# (cmake/test_code.cmake) with the precompiled header of the first test
# program, reused by all others; it links the launcher's Windows layer, the
# natives and the JNI test double. DISPLAY runs it on an X display of its own.
function(add_wine_test name)
  cmake_parse_arguments(ARG "DISPLAY" "" "SOURCES;LIBRARIES;DEPENDS" ${ARGN})
  add_library(${name}_code OBJECT ${ARG_SOURCES})
  target_link_libraries(${name}_code PRIVATE launcher_win jni_double gtest)
  target_compile_options(${name}_code PRIVATE ${TEST_CODE_OPTIONS})
  compile_test_sources_together(${name}_code)
  get_property(header_owner GLOBAL PROPERTY WINE_TEST_HEADER_OWNER)
  if(header_owner)
    target_precompile_headers(${name}_code REUSE_FROM ${header_owner})
  else()
    precompile_test_headers(${name}_code)
    set_property(GLOBAL PROPERTY WINE_TEST_HEADER_OWNER ${name}_code)
  endif()
  add_dependencies(${name}_code native_tables)
  add_executable(${name} $<TARGET_OBJECTS:${name}_code>)
  target_link_libraries(${name} PRIVATE natives_for_tests jni_double launcher_win gtest gtest_main z
                        ${KNOWN_DLL_IMPORTS} ${ARG_LIBRARIES})
  target_link_options(${name} PRIVATE ${STATIC_LINK})
  if(ARG_DEPENDS)
    add_dependencies(${name} ${ARG_DEPENDS})
  endif()
  if(ARG_DISPLAY)
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/unit/with_display.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
endfunction()

# The portable core's tests and the Windows layer's; the probe's tests copy
# the Java runtime doubles into fake homes.
add_wine_test(unit_tests
  SOURCES ${CORE_TEST_SOURCES}
          tests/unit/exe_path_win_test.cpp tests/unit/config_win_test.cpp tests/unit/vm_options_win_test.cpp
          tests/unit/java_probe_win_test.cpp tests/unit/jvm_search_win_test.cpp
  DEPENDS fake_java fake_jvm)

# The registry layer and the registry natives, on keys of their own.
add_wine_test(registry_tests SOURCES tests/unit/registry_win_test.cpp tests/unit/registry_natives_test.cpp)

# The process, window and handle natives, on a display of their own, with the
# peer program of tests/tools as the processes and windows they act on.
add_wine_test(process_natives_tests DISPLAY
  SOURCES tests/unit/processes_natives_test.cpp tests/unit/windows_natives_test.cpp
          tests/unit/handles_natives_test.cpp
  DEPENDS process_peer)

# The user-account, shell-link and task-dialog natives, with Windows functions
# replaced where Wine cannot give a documented result (launcher/system_calls.h).
add_wine_test(user_shell_natives_tests SOURCES tests/unit/users_natives_test.cpp tests/unit/shell_natives_test.cpp
              LIBRARIES userenv uuid)

# The communication and proxy natives (real named pipes and WinHTTP) and the
# choosers' natives (COM).
add_wine_test(communication_tests SOURCES tests/unit/communication_natives_test.cpp
                                          tests/unit/proxy_natives_test.cpp)
add_wine_test(chooser_tests SOURCES tests/unit/choosers_natives_test.cpp)

# Faults injected through the call table into the extraction, the carried
# runtime's untar, the download (against a local HTTP server of the test) and
# the deletion helper.  The download shares the browser proxy settings with
# the proxy natives' tests, which change them for a while.
add_wine_test(fault_injection_tests
  SOURCES tests/unit/fault_injection.cpp tests/unit/extraction_faults_test.cpp tests/unit/untar_faults_test.cpp
          tests/unit/download_faults_test.cpp tests/unit/deletion_faults_test.cpp tests/unit/log_capture.cpp
  LIBRARIES ws2_32)
set_tests_properties(fault_injection_tests communication_tests PROPERTIES RESOURCE_LOCK internet_settings)

# The service natives under Wine's own service control manager with the real
# test service (tests/tools), and the folder, file version and ACL natives on
# the test libraries with version resources.
add_wine_test(service_natives_tests SOURCES tests/unit/service_natives_test.cpp DEPENDS test_service)
add_wine_test(file_natives_tests SOURCES tests/unit/file_natives_test.cpp
              DEPENDS file_probe version_low version_high version_same)

# The generator of the natives' tables, on the host's Python.
add_test(NAME native_list_test COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/unit/native_list_test.py)

# Test doubles of a Java runtime, test programs, and the JNI test double.
add_subdirectory(tests/doubles)
add_subdirectory(tests/tools)
add_subdirectory(tests/jni_double)
compile_as_test_code(TARGETS gtest gtest_main jni_double jni_double_test)
