# The SNMP client: net-snmp's single-session API on the backend's loop, and
# the trap listener.
target_sources(kvnetcore PRIVATE
  snmp/library.cpp
  snmp/convert.cpp
  snmp/usm.cpp
  snmp/session.cpp
  snmp/requests.cpp
  snmp/walk.cpp
  snmp/client.cpp
  snmp/traps.cpp)
