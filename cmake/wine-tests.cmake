# The tests of a cross build, run under Wine (cmake/wine-run).

# norrow_gtest_groups(TARGET [OWN_PROCESS Suite.Case...] [PROPERTIES name value...])
# Registers the GoogleTest cases of TARGET with ctest one suite to a test, each
# suite's cases in one process, for a cross build whose programs run under an
# emulator (Wine), where every process start costs (seconds under qemu-user).
# The cases named in OWN_PROCESS run each in a process of their own instead.
# The suites are listed by the program itself when ctest starts (so every case
# is run, whatever the sources declare) and again only after it is rebuilt.
# PROPERTIES are set on every test registered.
function(norrow_gtest_groups target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "OWN_PROCESS;PROPERTIES")
  set(dir ${CMAKE_CURRENT_BINARY_DIR})
  set(include_file ${dir}/${target}_groups_include.cmake)
  set(tests_file ${dir}/${target}_groups_tests.cmake)
  file(GENERATE OUTPUT ${include_file} CONTENT
"set(executable [==[$<TARGET_FILE:${target}>]==])
set(emulator [==[${CMAKE_CROSSCOMPILING_EMULATOR}]==])
set(own_process [==[${arg_OWN_PROCESS}]==])
set(properties [==[${arg_PROPERTIES}]==])
set(working_dir [==[${dir}]==])
set(tests_file [==[${tests_file}]==])
set(target [==[${target}]==])
include([==[${CMAKE_CURRENT_FUNCTION_LIST_DIR}/gtest-groups-list.cmake]==])
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${include_file})
endfunction()

# Makes every test of this directory need the fixture wine_server: the Wine
# server of the project's prefix, started once before the first of them and
# stopped after the last (cmake/wine-server), also when ctest is run by hand.
function(norrow_tests_need_wine_server)
  get_property(tests DIRECTORY PROPERTY TESTS)
  list(REMOVE_ITEM tests wine-server-start wine-server-stop)
  if(tests)
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED wine_server)
  endif()
endfunction()
