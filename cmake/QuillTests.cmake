# Tests: the GoogleTest suite on the simulated machine (one process per test),
# the plain C host on both products, and the export lists.
include(GoogleTest)

if(CMAKE_CROSSCOMPILING)
  # No GoogleTest package for the cross compiler: build it from its sources.
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(QUILL_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  set(QUILL_GTEST_MAIN GTest::gtest_main)
endif()

file(GLOB QUILL_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*_test.cpp)
add_executable(quill_tests ${QUILL_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/TestSupport.cpp
               ${CMAKE_SOURCE_DIR}/tests/TestRecords.cpp)
target_include_directories(quill_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(quill_tests PRIVATE quillcore_sim_static ${QUILL_GTEST_MAIN})
target_compile_definitions(quill_tests PRIVATE QUILL_TEST_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
if(WIN32)
  target_link_options(quill_tests PRIVATE -static)
endif()
# Under Wine, one Wine session spans the test run (see wine-run.sh): every
# test that runs a Windows program requires it.
set(QUILL_WINE_FIXTURE "")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME wine.start_session COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --start-session ${CMAKE_BINARY_DIR})
  add_test(NAME wine.end_session COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --end-session ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.start_session PROPERTIES FIXTURES_SETUP wine TIMEOUT 120)
  set_tests_properties(wine.end_session PROPERTIES FIXTURES_CLEANUP wine)
  set(QUILL_WINE_FIXTURE FIXTURES_REQUIRED wine)
endif()

gtest_discover_tests(quill_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 60 ${QUILL_WINE_FIXTURE})

# The library on the real machine: the Linux shim's online list and
# placements, and calls from several threads at once (the tests named
# Concurrent..., also run under ThreadSanitizer by scripts/test-all.sh).
if(NOT WIN32)
  file(GLOB QUILL_NATIVE_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/native/*_test.cpp)
  add_executable(quill_native_tests ${QUILL_NATIVE_TEST_SOURCES}
                 $<TARGET_OBJECTS:quill_core> $<TARGET_OBJECTS:quill_native>)
  target_include_directories(quill_native_tests PRIVATE ${CMAKE_SOURCE_DIR}/include ${CMAKE_SOURCE_DIR}/source/lib)
  target_compile_definitions(quill_native_tests PRIVATE QUILL_STATIC)
  target_link_libraries(quill_native_tests PRIVATE ${QUILL_GTEST_MAIN})
  gtest_discover_tests(quill_native_tests DISCOVERY_TIMEOUT 120 PROPERTIES TIMEOUT 120)
endif()

if(TARGET quill_chost)
  add_test(NAME chost.native COMMAND quill_chost)
  add_test(NAME chost.replay COMMAND quill_chost-sim
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00906A4_AlderLakeP_01_CPUID.txt)
  # 80 processors in two groups.
  add_test(NAME chost.replay_groups COMMAND quill_chost-sim
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00206F2_Eagleton_CPUID.txt)
  if(QUILL_WINE_FIXTURE)
    set_tests_properties(chost.native chost.replay chost.replay_groups PROPERTIES ${QUILL_WINE_FIXTURE})
  endif()
endif()

add_test(NAME exports.native COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:quillcore> -DSIM=OFF
         -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -P ${CMAKE_SOURCE_DIR}/cmake/CheckExports.cmake)
add_test(NAME exports.sim COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:quillcore-sim> -DSIM=ON
         -DOBJDUMP=${CMAKE_OBJDUMP} -DNM=${CMAKE_NM} -P ${CMAKE_SOURCE_DIR}/cmake/CheckExports.cmake)
if(WIN32)
  # The objects of quillcore.dll keep their per-thread state where reading it
  # cannot fail.
  add_test(NAME exports.no_emulated_tls COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM}
           "-DOBJECTS=$<JOIN:$<TARGET_OBJECTS:quill_core>;$<TARGET_OBJECTS:quill_native>,|>"
           -P ${CMAKE_SOURCE_DIR}/cmake/CheckNoEmulatedTLS.cmake)
endif()

# The command-line host on a replayed dump: its JSON, its errors and options.
if(TARGET quillinfo)
  add_test(NAME quillinfo.replay COMMAND bash ${CMAKE_SOURCE_DIR}/tests/quillinfo_test.sh $<TARGET_FILE:quillinfo>
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00906A4_AlderLakeP_01_CPUID.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel0050671_KnightsLanding_CPUID.txt)
  # Every dump of the shared collection beside the source tree, when it is there.
  add_test(NAME quillinfo.replay_all COMMAND bash ${CMAKE_SOURCE_DIR}/tests/replay_all_dumps.sh
           $<TARGET_FILE:quillinfo> ${CMAKE_SOURCE_DIR}/../shared/cpuid-dumps)
  # Without the collection the script exits 77: skipped, not passed.
  set_tests_properties(quillinfo.replay_all PROPERTIES TIMEOUT 1800 SKIP_RETURN_CODE 77)
  # This machine and replayed ones: --dump, then --replay of it, describes the same machine.
  add_test(NAME quillinfo.roundtrip COMMAND bash ${CMAKE_SOURCE_DIR}/tests/quillinfo_roundtrip.sh
           $<TARGET_FILE:quillinfo> ${CMAKE_SOURCE_DIR}/tests/data/AuthenticAMD_Zen5_2cpu_under_hypervisor.txt
           ${CMAKE_SOURCE_DIR}/tests/data/AuthenticAMD0870F10_K17_Matisse_CPUID2.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel0050671_KnightsLanding_CPUID.txt)
  # --svg against --json of the same run, rendered by rsvg-convert: 1, 2, 6 and 48 processors, and
  # hybrid parts of three kinds of core and of clusters.
  add_test(NAME quillinfo.svg COMMAND bash ${CMAKE_SOURCE_DIR}/tests/quillinfo_svg.sh $<TARGET_FILE:quillinfo>
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel0000480_486_CPUID.txt
           ${CMAKE_SOURCE_DIR}/tests/data/AuthenticAMD_Zen5_2cpu_under_hypervisor.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00906A4_AlderLakeP_01_CPUID.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00306E3_IvyBridgeEP_CPUID.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00A06A4_MeteorLake_10_CPUID.txt
           ${CMAKE_SOURCE_DIR}/tests/data/GenuineIntel00B0671_RaptorLake_02_CPUID.txt)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    string(JOIN " " quill_runner ${CMAKE_CROSSCOMPILING_EMULATOR})
    set_tests_properties(quillinfo.replay quillinfo.replay_all quillinfo.roundtrip quillinfo.svg PROPERTIES
                         ENVIRONMENT "QUILLINFO_RUNNER=${quill_runner}" ${QUILL_WINE_FIXTURE})
  endif()
endif()

# Slot positions under the MSVC ABI (clang's layout for that target), under
# this compiler's Itanium ABI and in quill/QuillC.h agree.
find_program(QUILL_CLANGXX clang++)
if(QUILL_CLANGXX AND NOT CMAKE_CROSSCOMPILING)
  add_test(NAME abi.vtable_layout COMMAND bash ${CMAKE_SOURCE_DIR}/tests/abi/vtable_layout.sh ${CMAKE_SOURCE_DIR}
           ${CMAKE_BINARY_DIR}/vtable-layout ${CMAKE_CXX_COMPILER})
endif()

# The Python binding (python/) on both Linux products, against quillinfo.
# Debian's python3 carries pytest (scripts/setup-debian.sh installs it). Not
# in the sanitizer builds: their libraries cannot load into a plain Python.
if(TARGET quillinfo AND NOT CMAKE_CROSSCOMPILING AND NOT QUILL_SANITIZE AND NOT QUILL_TSAN)
  add_test(NAME python.binding COMMAND /usr/bin/python3 -m pytest -q -p no:cacheprovider
           ${CMAKE_SOURCE_DIR}/tests/python)
  set_tests_properties(python.binding PROPERTIES ENVIRONMENT
    "PYTHONPATH=${CMAKE_SOURCE_DIR}/python;QUILLCORE_LIBRARY=$<TARGET_FILE:quillcore>;QUILLCORE_SIM_LIBRARY=$<TARGET_FILE:quillcore-sim>;QUILLINFO=$<TARGET_FILE:quillinfo>;QUILL_DATA=${CMAKE_SOURCE_DIR}/tests/data")
endif()
