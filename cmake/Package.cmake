# Debian packages: `cpack -G DEB` in a build configured with the package
# preset (prefix /usr). One package per install component (cmake/Install.cmake):
#   libkvprtobj1     runtime: the shared libraries and QSVARS.CFG
#   libkvprtobj-dev  dev: headers, the CMake package, kvprtobj.pc, the .so links
#   kvprt            kvprt and kvprtsimd, their man pages and completion
#   kvprtd           the fleet service, its unit, man page and example fleet file
#   libkvprtnet1     net: the net:// backend the engine loads at run time, with
#                    its dependencies on net-snmp and libcups (which the
#                    library package does not have)
# The dependencies between them come from the components, those on Debian's
# libraries from dpkg-shlibdeps. Files only packages need (copyright,
# changelog, lintian overrides, maintainer scripts) are in cmake/debian/.
set(CPACK_PACKAGE_NAME kvprtobj)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "kvprtobj maintainers <maintainers@users.noreply.c-seed-873d5b6d.example>")
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_SET_DESTDIR ON)   # /etc/kvprtd/fleet.toml, an absolute destination, goes into the package too
set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET kvprt)
  list(APPEND CPACK_COMPONENTS_ALL kvprt)
endif()
if(TARGET kvprtd)
  list(APPEND CPACK_COMPONENTS_ALL kvprtd)
endif()
if(TARGET kvprtnet)
  list(APPEND CPACK_COMPONENTS_ALL net)
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Where dpkg-shlibdeps finds our own libraries; the packages' dependencies
# on each other come from the components instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(debian ${PROJECT_SOURCE_DIR}/cmake/debian)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libkvprtobj1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${debian}/libkvprtobj1/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "printer-management client library
libkvprtobj talks to printers over a binary request/reply channel through
printer objects: identity, status and alerts, supplies, jobs, the operator
panel, device storage and Quick Setup. Its engine, libzorbce, reaches
printers over TCP or a simulated printer (libkvprtsim).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libkvprtobj-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_COMPONENT_DEV_DESCRIPTION "printer-management client library - development files
The headers of libkvprtobj and its engine, the CMake package kvprtobj
(find_package(kvprtobj)) and kvprtobj.pc for pkg-config.")

set(CPACK_DEBIAN_NET_PACKAGE_NAME libkvprtnet1)
set(CPACK_DEBIAN_NET_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_NET_DEPENDS runtime)
set(CPACK_DEBIAN_NET_PACKAGE_CONTROL_EXTRA ${debian}/libkvprtnet1/triggers)
set(CPACK_COMPONENT_NET_DESCRIPTION "printer-management client library - real network printers
libkvprtnet lets libkvprtobj's engine open real network printers
(net://HOST): it answers the library's requests from the printer's SNMP
agent (Printer MIB, Host Resources MIB) and IPP service. The engine loads
it when a net:// printer is opened.")

set(CPACK_DEBIAN_KVPRT_PACKAGE_NAME kvprt)
set(CPACK_DEBIAN_KVPRT_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_KVPRT_DEPENDS runtime)
set(CPACK_DEBIAN_KVPRT_PACKAGE_RECOMMENDS libkvprtnet1)
set(CPACK_COMPONENT_KVPRT_DESCRIPTION "printer-management command-line client and simulated printers
kvprt shows and changes a printer's state through libkvprtobj, as tables
or JSON. kvprtsimd serves simulated printers over TCP, for trying kvprt
and kvprtd without a printer and for tests.")

set(CPACK_DEBIAN_KVPRTD_PACKAGE_NAME kvprtd)
set(CPACK_DEBIAN_KVPRTD_PACKAGE_SECTION admin)
set(CPACK_COMPONENT_KVPRTD_DEPENDS runtime)
set(CPACK_DEBIAN_KVPRTD_PACKAGE_RECOMMENDS libkvprtnet1)
set(CPACK_COMPONENT_KVPRTD_DESCRIPTION "fleet service watching printers through libkvprtobj
kvprtd polls the printers of a fleet file, keeps their history in SQLite
and serves Prometheus metrics and a JSON API. It runs as a systemd service
reading /etc/kvprtd/fleet.toml.")
set(CPACK_DEBIAN_KVPRTD_PACKAGE_CONTROL_EXTRA
  ${debian}/kvprtd/conffiles ${debian}/kvprtd/postinst ${debian}/kvprtd/prerm ${debian}/kvprtd/postrm)

# The changelog of a native package, gzip -9n as Debian keeps it.
string(TIMESTAMP KVPO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${debian}/changelog.in ${PROJECT_BINARY_DIR}/debian/changelog @ONLY)
execute_process(COMMAND gzip -9 -n -c ${PROJECT_BINARY_DIR}/debian/changelog
  OUTPUT_FILE ${PROJECT_BINARY_DIR}/debian/changelog.gz COMMAND_ERROR_IS_FATAL ANY)

# What every package holds beside its own files; `cmake --install` leaves them out.
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} name)
  set(package ${CPACK_DEBIAN_${name}_PACKAGE_NAME})
  install(FILES ${debian}/copyright ${PROJECT_BINARY_DIR}/debian/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
  if(EXISTS ${debian}/${package}/lintian-overrides)
    install(FILES ${debian}/${package}/lintian-overrides RENAME ${package}
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component} EXCLUDE_FROM_ALL)
  endif()
endforeach()

include(CPack)
