cmake_minimum_required(VERSION 3.22)
# Checks that no object of the library uses emulated thread-local storage
# (__emutls_*, what mingw-w64 makes of thread_local): its first use on a
# thread allocates, and ends the process when that fails.
# -DNM=<nm> -DOBJECTS=<object|object|...>
string(REPLACE "|" ";" objects "${OBJECTS}")
list(LENGTH objects count)
if(count EQUAL 0)
  message(FATAL_ERROR "no objects given")
endif()
execute_process(COMMAND ${NM} -A ${objects} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${NM} failed")
endif()
string(REGEX MATCHALL "[^\n]*__emutls[^\n]*" uses "${out}")
if(uses)
  string(REPLACE ";" "\n" uses "${uses}")
  message(FATAL_ERROR "emulated thread-local storage in the library:\n${uses}")
endif()
message(STATUS "${count} objects, no emulated thread-local storage")
