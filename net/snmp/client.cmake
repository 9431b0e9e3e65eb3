# The SNMP client: net-snmp's single-session API on the backend's loop
# (gateway.h), with the URI options and credentials it is configured by. A
# static library of its own, so that kvprt discover sweeps addresses with the
# same client: it depends on net-snmp, asio and toml++ only, never on the
# backend's printer model, and kvprt links it, never libkvprtnet.so.
add_library(kvsnmpclient STATIC
  options.cpp
  gateway.cpp
  snmp/mib.cpp
  snmp/library.cpp
  snmp/convert.cpp
  snmp/usm.cpp
  snmp/session.cpp
  snmp/requests.cpp
  snmp/walk.cpp
  snmp/client.cpp)
target_include_directories(kvsnmpclient PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
target_include_directories(kvsnmpclient SYSTEM PUBLIC ${ASIO_INCLUDE_DIR})
target_compile_definitions(kvsnmpclient PUBLIC ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(kvsnmpclient PUBLIC PkgConfig::NETSNMP PkgConfig::LIBCRYPTO Threads::Threads
                      PRIVATE kvwire tomlplusplus::tomlplusplus kvpo_options)
kvpo_asio_fences(kvsnmpclient PUBLIC)
target_compile_options(kvsnmpclient PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
target_link_libraries(kvnetcore PUBLIC kvsnmpclient)

# The trap listener: the backend's only.
target_sources(kvnetcore PRIVATE snmp/traps.cpp)
