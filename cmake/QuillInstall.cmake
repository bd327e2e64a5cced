# The install tree: headers under include/quill/, the native library with its
# SONAME, quillinfo with a run path relative to itself, a CMake package with
# the targets quillcore::quillcore and quillcore::quillcore-sim, and a
# pkg-config file. Components:
#   runtime      the native library and quillinfo
#   development  headers, the link-time library name, CMake package, pkg-config
#   sim          the simulated library and QuillSim.h (hosts that replay dumps)
#   python       the Python package, a plain quillcore/ folder in python/ beside
#                the library, which loads the library two folders up
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(NOT WIN32)
  # libquillcore.so -> libquillcore.so.0 -> libquillcore.so.0.1.0
  set_target_properties(quillcore quillcore-sim PROPERTIES
                        VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
endif()
foreach(lib quillcore quillcore-sim)
  target_include_directories(${lib} INTERFACE $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>
                             $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()

install(TARGETS quillcore EXPORT quillcoreTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(TARGETS quillcore-sim EXPORT quillcoreSimTargets
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT sim
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT sim)
install(DIRECTORY include/quill/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quill COMPONENT development
        FILES_MATCHING PATTERN "*.h" PATTERN "QuillSim.h" EXCLUDE)
install(FILES include/quill/QuillSim.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quill COMPONENT sim)

# quillinfo loads the library at run time: beside itself in the build tree
# and on Windows, otherwise by its SONAME through this run path.
if(TARGET quillinfo)
  if(NOT WIN32)
    file(RELATIVE_PATH quill_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(quillinfo PROPERTIES INSTALL_RPATH "$ORIGIN/${quill_bin_to_lib}")
    target_compile_definitions(quillinfo PRIVATE
                               QUILL_NATIVE_SONAME="$<TARGET_SONAME_FILE_NAME:quillcore>"
                               QUILL_SIM_SONAME="$<TARGET_SONAME_FILE_NAME:quillcore-sim>")
  endif()
  install(TARGETS quillinfo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()

set(quill_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/quillcore)
install(EXPORT quillcoreTargets NAMESPACE quillcore:: DESTINATION ${quill_cmake_dir}
        COMPONENT development)
install(EXPORT quillcoreSimTargets NAMESPACE quillcore:: DESTINATION ${quill_cmake_dir} COMPONENT sim)
configure_package_config_file(cmake/quillcoreConfig.cmake.in ${CMAKE_BINARY_DIR}/quillcoreConfig.cmake
                              INSTALL_DESTINATION ${quill_cmake_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/quillcoreConfigVersion.cmake
                                  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/quillcoreConfig.cmake ${CMAKE_BINARY_DIR}/quillcoreConfigVersion.cmake
        DESTINATION ${quill_cmake_dir} COMPONENT development)

# The prefix is found from the file's own place, so the tree can move.
file(RELATIVE_PATH quill_pc_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" quill_pc_to_prefix "${quill_pc_to_prefix}")
configure_file(cmake/quillcore.pc.in ${CMAKE_BINARY_DIR}/quillcore.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quillcore.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# The Python package beside the library (bin/ on Windows, where the DLL is).
if(WIN32)
  set(quill_python_dir ${CMAKE_INSTALL_BINDIR}/python)
else()
  set(quill_python_dir ${CMAKE_INSTALL_LIBDIR}/python)
endif()
install(DIRECTORY python/quillcore DESTINATION ${quill_python_dir} COMPONENT python
        PATTERN "__pycache__" EXCLUDE)
