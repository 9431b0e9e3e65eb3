# cmake --install: headers under include/kvprtobj/, the shared libraries, the
# tools, the CMake package kvprtobj (targets kvprtobj::kvprtobj,
# kvprtobj::zorbce and kvprtobj::kvprm, which kvprtobj::kvprtobj brings
# along) and kvprtobj.pc for pkg-config. Every file belongs to a component,
# one per Debian package (cmake/Package.cmake): runtime (libkvprtobj1), dev
# (libkvprtobj-dev), kvprt and kvprtd.
include(CMakePackageConfigHelpers)

install(TARGETS kvprtobj zorbce kvprm EXPORT kvprtobjTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# Every folder's public headers live in its include/kvprtobj/; the umbrella
# header, which includes them all, in the top-level include/kvprtobj/.
file(GLOB public_header_dirs LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/*/include/kvprtobj)
list(APPEND public_header_dirs ${PROJECT_SOURCE_DIR}/include/kvprtobj)
install(DIRECTORY ${public_header_dirs} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev
  FILES_MATCHING PATTERN "*.h")

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/kvprtobj)
install(EXPORT kvprtobjTargets NAMESPACE kvprtobj:: DESTINATION ${config_dir} COMPONENT dev)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/kvprtobjConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kvprtobjConfig.cmake
  INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kvprtobjConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/kvprtobjConfig.cmake ${PROJECT_BINARY_DIR}/kvprtobjConfigVersion.cmake
  DESTINATION ${config_dir} COMPONENT dev)

# The prefix as seen from the .pc file's folder, so that the file holds no
# absolute path and an installed tree can move.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH KVPO_PC_PREFIX /prefix/${pc_dir} /prefix)
string(REGEX REPLACE "/$" "" KVPO_PC_PREFIX "${KVPO_PC_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kvprtobj.pc.in ${PROJECT_BINARY_DIR}/kvprtobj.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/kvprtobj.pc DESTINATION ${pc_dir} COMPONENT dev)
