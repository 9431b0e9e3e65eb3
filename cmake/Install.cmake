# cmake --install: headers under include/kvprtobj/, the shared libraries, the
# tools, and the CMake package kvprtobj (targets kvprtobj::kvprtobj, kvprtobj::zorbce
# and kvprtobj::kvprm, which kvprtobj::kvprtobj brings along).
include(CMakePackageConfigHelpers)

install(TARGETS kvprtobj zorbce kvprm EXPORT kvprtobjTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Every folder's public headers live in its include/kvprtobj/; the umbrella
# header, which includes them all, in the top-level include/kvprtobj/.
file(GLOB public_header_dirs LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/*/include/kvprtobj)
list(APPEND public_header_dirs ${PROJECT_SOURCE_DIR}/include/kvprtobj)
install(DIRECTORY ${public_header_dirs} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

install(EXPORT kvprtobjTargets NAMESPACE kvprtobj:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvprtobj)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvprtobjConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kvprtobjConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvprtobj)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvprtobjConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvprtobjConfig.cmake ${PROJECT_BINARY_DIR}/kvprtobjConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/kvprtobj)
