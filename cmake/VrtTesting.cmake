# Test registration shared by every subsystem.
#
# vrt_unit_test(NAME SOURCES... LIBS ...) builds a GoogleTest program of
# platform-neutral tests. Natively each test case is its own ctest entry;
# under Wine the whole program runs once (one Wine start per program).
#
# vrt_wine_test(PROGRAM [FIXTURES_REQUIRED F] CASES...) registers scenarios of a Windows test
# program, one ctest entry per gtest filter, run one at a time because they
# share the Wine prefix, its wineserver and its named objects.
#
# Limits: where every program runs under emulation (the win32 build in its
# tree, see cmake/wine-run32), the toolchain sets VRT_TEST_TIME_SCALE and
# every test's limit is that many times longer (VRT_TIMEOUT_120 and so on);
# the tests widen their own waits by the same factor (VRT_TIME_SCALE).
if(NOT DEFINED VRT_TEST_TIME_SCALE)
  set(VRT_TEST_TIME_SCALE 1)
endif()
foreach(seconds 60 120 180 240 300)
  math(EXPR VRT_TIMEOUT_${seconds} "${seconds} * ${VRT_TEST_TIME_SCALE}")
endforeach()

function(vrt_unit_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK wineprefix LABELS wine)
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30 PROPERTIES LABELS native)
  endif()
endfunction()

function(vrt_wine_test program)
  if(NOT CMAKE_CROSSCOMPILING)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 1 wine "" "FIXTURES_REQUIRED" "")
  foreach(scenario IN LISTS wine_UNPARSED_ARGUMENTS)
    add_test(NAME ${program}.${scenario} COMMAND ${program} --gtest_filter=*.${scenario})
    set_tests_properties(${program}.${scenario} PROPERTIES
      RESOURCE_LOCK wineprefix LABELS wine TIMEOUT ${VRT_TIMEOUT_120}
      FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]|0 tests, listed below|Running 0 tests")
    if(wine_FIXTURES_REQUIRED)
      set_tests_properties(${program}.${scenario} PROPERTIES FIXTURES_REQUIRED "${wine_FIXTURES_REQUIRED}")
    endif()
  endforeach()
endfunction()
