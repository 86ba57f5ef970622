# Fails when a test of the build directory BUILD has no TIMEOUT property:
# without one, a test that hangs stalls the whole run instead of failing.
# Usage: cmake -DCTEST=path/to/ctest -DBUILD=build/dir -P every_test_has_a_timeout.cmake
execute_process(COMMAND ${CTEST} --test-dir ${BUILD} --show-only=json-v1
  OUTPUT_VARIABLE json RESULT_VARIABLE rc ERROR_VARIABLE errors)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "ctest --show-only=json-v1 in ${BUILD} failed (${rc}): ${errors}")
endif()
string(JSON tests GET "${json}" tests)
string(JSON count LENGTH "${tests}")
if(count EQUAL 0)
  message(FATAL_ERROR "${BUILD} lists no tests")
endif()
# A test has at most one TIMEOUT property: when there are as many as tests,
# every test has one. Otherwise the tests are looked at one by one (slow on
# a large list) to name those without.
string(REGEX MATCHALL "\"name\" *: *\"TIMEOUT\"" timeouts "${json}")
list(LENGTH timeouts limited)
if(limited EQUAL count)
  message(STATUS "all ${count} tests have a TIMEOUT property")
  return()
endif()
set(without "")
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  string(JSON test GET "${tests}" ${i})
  string(JSON name GET "${test}" name)
  string(JSON properties ERROR_VARIABLE none GET "${test}" properties)
  if(none)
    set(properties "[]")
  endif()
  # One small object per test: the property names are looked up as text.
  if(NOT properties MATCHES "\"name\" *: *\"TIMEOUT\"")
    list(APPEND without "${name}")
  endif()
endforeach()
list(LENGTH without missing)
if(missing GREATER 0)
  list(JOIN without "\n  " names)
  message(FATAL_ERROR "${missing} of ${count} tests have no TIMEOUT property (set one where the test is added):\n  ${names}")
endif()
message(STATUS "all ${count} tests have a TIMEOUT property")
